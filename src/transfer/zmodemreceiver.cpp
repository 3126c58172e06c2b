#include "transfer/zmodemreceiver.h"

#include "core/messages.h"

using namespace Zmodem;
using namespace Qt::StringLiterals;
using Modem::Outcome;

namespace {

// ZFILE's subpacket: the name, a NUL, then the size in decimal and more fields nobody needs.
struct FileInfo
{
    QByteArray name;
    qint64 size = -1;
};

FileInfo parseFileInfo(QByteArrayView data)
{
    FileInfo info;
    const qsizetype nul = data.indexOf('\0');
    info.name = data.first(nul < 0 ? data.size() : nul).toByteArray();
    if (nul < 0)
        return info;
    qint64 size = 0;
    qsizetype i = nul + 1;
    const qsizetype start = i;
    // 18 digits still fit; more are a lie about the size, not a size.
    while (i < data.size() && i - start < 18 && data[i] >= '0' && data[i] <= '9')
        size = size * 10 + (data[i++] - '0');
    if (i > start)
        info.size = size;
    return info;
}

} // namespace

ZmodemReceiver::ZmodemReceiver(ReceiveSink &sink, QObject *parent)
    : QObject(parent)
    , m_sink(sink)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ZmodemReceiver::timedOut);
}

void ZmodemReceiver::start()
{
    Q_ASSERT(m_state == State::Idle);
    m_state = State::WaitFile;
    sendInit();
}

qsizetype ZmodemReceiver::feed(QByteArrayView bytes)
{
    qsizetype taken = 0;
    while (running() && taken < bytes.size()) {
        if (m_state == State::Over) {
            while (taken < bytes.size() && m_overs < 2 && bytes[taken] == 'O') {
                ++taken;
                ++m_overs;
            }
            // After "OO", or anything else, the device is talking again.
            if (m_overs >= 2 || taken < bytes.size())
                end({});
            break;
        }
        taken += m_parser.feed(bytes.sliced(taken), *this);
    }
    return taken;
}

void ZmodemReceiver::cancel()
{
    if (running())
        fail(Outcome::Kind::Stopped, Messages::transferStopped(), true);
}

void ZmodemReceiver::header(const Header &h, bool)
{
    switch (h.type) {
    case ZRQINIT:
        // The sender did not hear our ZRINIT, or starts over.
        if (!tooManyErrors())
            sendHex(Header::flags(ZRINIT, CANFDX | CANOVIO | CANFC32));
        break;
    case ZSINIT:
        m_sinit = true;
        break;
    case ZFILE:
        m_offerAgain = m_state == State::InFile;
        m_state = State::FileInfo;
        m_taking = false;
        break;
    case ZDATA:
        if (m_state != State::InFile) {
            m_parser.skipData();
            tooManyErrors();
        } else if (qint64(h.pos()) == m_pos) {
            m_taking = true;
            m_timer.start(m_timing.dataMs);
        } else {
            // Data from elsewhere in the file: not read, and asked for from where it is whole.
            m_parser.skipData();
            if (m_taking || !tooManyErrors())
                askAgain(true);
        }
        break;
    case ZEOF:
        if (m_state == State::InFile)
            endOfFile(h.pos());
        else
            tooManyErrors();
        break;
    case ZFIN:
        if (m_state == State::InFile || m_state == State::FileInfo) {
            const QString part = m_state == State::InFile ? m_sink.abandon() : QString();
            QString reason = Messages::zmodemEndedInFile();
            if (!part.isEmpty())
                reason += u"；"_s + Messages::transferPartKept(part, m_pos);
            Q_EMIT fileFailed(reason);
        }
        sendHex(Header::at(ZFIN, 0));
        m_state = State::Over;
        m_overs = 0;
        m_timer.start(m_timing.overMs);
        m_parser.halt();
        break;
    case ZCAN:
    case ZABORT:
    case ZFERR:
        fail(Outcome::Kind::Failed, Messages::transferCancelledByPeer(), false);
        break;
    default:
        // ZCOMMAND among them: nothing the far end says runs here.
        tooManyErrors();
        break;
    }
}

void ZmodemReceiver::subpacket(QByteArrayView data, char end)
{
    if (m_sinit) {
        m_sinit = false;
        sendHex(Header::at(ZACK, 1));
        return;
    }
    if (m_state == State::FileInfo)
        fileInfo(data);
    else if (m_state == State::InFile && m_taking)
        this->data(data, end);
}

void ZmodemReceiver::damaged()
{
    m_sinit = false;
    if (m_state == State::InFile) {
        if (!tooManyErrors())
            askAgain(true);
    } else if (m_state == State::FileInfo) {
        // The file's name arrived damaged: ZNAK has the sender offer it again.
        m_state = State::WaitFile;
        if (!tooManyErrors())
            sendHex(Header::at(ZNAK, 0));
    } else {
        tooManyErrors();
    }
}

void ZmodemReceiver::cancelled()
{
    fail(Outcome::Kind::Failed, Messages::transferCancelledByPeer(), false);
}

void ZmodemReceiver::fileInfo(QByteArrayView data)
{
    const FileInfo info = parseFileInfo(data);
    if (m_offerAgain && info.name == m_name) {
        // The same file offered again: the sender missed our answer, which is repeated.
        m_state = State::InFile;
        if (!tooManyErrors())
            askAgain(false);
        return;
    }
    m_name = info.name;
    const Expected<qint64> offset = m_sink.resume(info.name, info.size);
    if (!offset) {
        // This file is refused; the batch goes on with the next.
        Q_EMIT fileFailed(offset.message());
        m_state = State::WaitFile;
        if (!tooManyErrors())
            sendHex(Header::at(ZSKIP, 0));
        return;
    }
    m_state = State::InFile;
    m_taking = false;
    m_pos = *offset;
    m_size = info.size;
    m_errors = 0;
    m_silences = 0;
    Q_EMIT fileStarted(info.name, info.size, m_pos);
    Q_EMIT progress(m_pos, qMax<qint64>(m_size, 0));
    sendHex(Header::at(ZRPOS, m_pos));
    m_timer.start(m_timing.dataMs);
}

void ZmodemReceiver::data(QByteArrayView data, char end)
{
    if (!data.isEmpty()) {
        const Result written = m_sink.write(data);
        if (!written) {
            fail(Outcome::Kind::Failed, written.message(), true);
            return;
        }
        m_pos += data.size();
        m_errors = 0;
        m_silences = 0;
        Q_EMIT progress(m_pos, qMax<qint64>(m_size, m_pos));
    }
    if (end == ZCRCW || end == ZCRCQ)
        sendHex(Header::at(ZACK, m_pos));
    if (end == ZCRCW || end == ZCRCE)
        m_taking = false;
    m_timer.start(m_timing.dataMs);
}

void ZmodemReceiver::endOfFile(qint64 pos)
{
    // An end elsewhere than where we are is an old one still on its way: ignored, as lrzsz does.
    if (pos != m_pos) {
        tooManyErrors();
        return;
    }
    const Expected<QString> name = m_sink.complete();
    if (!name) {
        fail(Outcome::Kind::Failed, name.message(), true);
        return;
    }
    ++m_files;
    m_state = State::WaitFile;
    m_taking = false;
    m_requests = 0;
    m_errors = 0;
    Q_EMIT fileReceived(*name, m_pos);
    sendInit();
}

void ZmodemReceiver::askAgain(bool damage)
{
    if (damage)
        ++m_recoveries;
    m_taking = false;
    sendHex(Header::at(ZRPOS, m_pos));
    m_timer.start(m_timing.dataMs);
}

void ZmodemReceiver::sendInit()
{
    ++m_requests;
    m_timer.start(m_timing.requestMs);
    // Full streaming (no buffer size), CRC-32, and we can read while the disk writes.
    sendHex(Header::flags(ZRINIT, CANFDX | CANOVIO | CANFC32));
}

void ZmodemReceiver::sendHex(const Header &h)
{
    Q_EMIT output(Encoder::hexHeader(h));
}

bool ZmodemReceiver::tooManyErrors()
{
    if (++m_errors <= MaxErrors)
        return false;
    fail(Outcome::Kind::Failed, Messages::zmodemEndlessHeaders(MaxErrors), true);
    return true;
}

void ZmodemReceiver::timedOut()
{
    switch (m_state) {
    case State::WaitFile:
    case State::FileInfo:
        m_state = State::WaitFile;
        if (m_requests >= m_timing.requests) {
            fail(Outcome::Kind::Failed,
                 Messages::transferNoStart(m_timing.requestMs * m_timing.requests / 1000), true);
            return;
        }
        sendInit();
        break;
    case State::InFile:
        if (++m_silences > Modem::MaxRetries) {
            fail(Outcome::Kind::Failed, Messages::transferSenderSilent(Modem::MaxRetries), true);
            return;
        }
        askAgain(true);
        break;
    case State::Over:
        end({});
        break;
    default:
        break;
    }
}

void ZmodemReceiver::fail(Outcome::Kind kind, const QString &reason, bool tellPeer)
{
    const bool inFile = m_state == State::InFile;
    if (tellPeer)
        Q_EMIT output(cancelSequence());
    QString text = reason;
    if (inFile) {
        const QString part = m_sink.abandon();
        if (!part.isEmpty())
            text += u"；"_s + Messages::transferPartKept(part, m_pos);
    }
    end({kind, text});
}

void ZmodemReceiver::end(const Outcome &outcome)
{
    m_timer.stop();
    m_state = State::Done;
    m_parser.halt();
    Q_EMIT finished(outcome);
}
