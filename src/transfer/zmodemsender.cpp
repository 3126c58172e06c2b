#include "transfer/zmodemsender.h"

#include "core/messages.h"

#include <QIODevice>

using namespace Zmodem;
using namespace Qt::StringLiterals;
using Modem::Outcome;

ZmodemSender::ZmodemSender(const QList<Source> &sources, QObject *parent)
    : QObject(parent)
    , m_sources(sources)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ZmodemSender::timedOut);
}

void ZmodemSender::start()
{
    Q_ASSERT(m_state == State::Idle);
    m_requests = 1;
    // "rz" starts the receiver on a shell that waits for a command; one that runs already
    // takes it as noise.
    put("rz\r" + Encoder::hexHeader(Header::at(ZRQINIT, 0)), State::WaitInit);
    m_timer.start(m_timing.requestMs);
}

qsizetype ZmodemSender::feed(QByteArrayView bytes)
{
    qsizetype taken = 0;
    while (running() && taken < bytes.size())
        taken += m_parser.feed(bytes.sliced(taken), *this);
    return taken;
}

void ZmodemSender::lineTook(qint64 stillQueued)
{
    m_queued = qBound<qint64>(0, stillQueued, m_sent);
    m_written = m_sent - m_queued;
    if (m_state == State::Streaming) {
        pump();
    } else if (running() && m_state != State::WaitInit && m_queued == 0) {
        // A slow line may take seconds to carry the window; the answer cannot come before.
        m_timer.start(m_timing.replyMs);
    }
}

void ZmodemSender::cancel()
{
    if (!running())
        return;
    Q_EMIT output(cancelSequence());
    end({Outcome::Kind::Stopped, Messages::transferStopped()});
}

void ZmodemSender::header(const Header &h, bool)
{
    switch (h.type) {
    case ZRINIT:
        receiverReady(h);
        break;
    case ZRPOS: {
        if (m_state == State::WaitInit || m_state == State::WaitFin)
            break;
        const qint64 pos = h.pos();
        if (pos > source().size) {
            fail(Messages::zmodemBadPosition(pos, source().size), true);
            break;
        }
        if (m_state == State::WaitPos) {
            m_resumedAt = pos;
        } else {
            // Asked again for where we went back to, before the line even carried our answer:
            // the receiver saw more of what was queued before it. Going back again would only
            // put more of the same on the line.
            if (pos == m_lastRpos && m_written < m_restartMark)
                break;
            ++m_recoveries;
            // The same place asked for again and again: the line cannot carry it.
            if (pos != m_lastRpos) {
                m_retries = 0;
                m_window = Window;
            } else if (!retry()) {
                break;
            } else {
                // Damage that falls where it fell last time may be in step with how much was
                // on its way: less on the way moves our data off that step.
                m_window = qMax<qint64>(m_window / 2, 2 * SubpacketSize);
            }
        }
        m_lastRpos = pos;
        sendFrom(pos);
        break;
    }
    case ZACK:
        if (m_state == State::WaitAck && qint64(h.pos()) == m_pos) {
            m_windowStart = m_pos;
            m_retries = 0;
            m_frameOpen = false;
            m_state = State::Streaming;
            pump();
        }
        break;
    case ZSKIP:
        if (m_state == State::WaitPos || m_state == State::Streaming || m_state == State::WaitAck
            || m_state == State::WaitEof) {
            ++m_skipped;
            Q_EMIT fileSkipped(source().name);
            nextFile();
        }
        break;
    case ZNAK:
        // The receiver could not read what we sent last: again.
        if (m_state == State::WaitPos || m_state == State::WaitEof || m_state == State::WaitFin)
            if (retry())
                put(m_last, m_state);
        break;
    case ZFIN:
        if (m_state == State::WaitFin) {
            Q_EMIT output("OO");
            end({});
        }
        break;
    case ZCAN:
    case ZABORT:
    case ZFERR:
        fail(Messages::transferCancelledByPeer(), false);
        break;
    default:
        break;
    }
}

void ZmodemSender::cancelled()
{
    fail(Messages::transferCancelledByPeer(), false);
}

void ZmodemSender::receiverReady(const Header &h)
{
    switch (m_state) {
    case State::WaitInit:
        m_crc32 = h.zf0() & CANFC32;
        m_encoder.setEscctl(h.zf0() & ESCCTL);
        m_bufferSize = h.b[0] | h.b[1] << 8;
        Q_EMIT receiverStarted();
        m_index = 0;
        sendFile();
        break;
    case State::WaitPos:
        // rz announces itself and answers our ZRQINIT too: the offer is repeated only when no
        // answer comes, as sz does.
        break;
    case State::WaitEof: {
        const Source &s = source();
        ++m_confirmed;
        m_confirmedBytes += s.size - m_resumedAt;
        Q_EMIT fileConfirmed(s.name, s.size - m_resumedAt, m_resumedAt);
        nextFile();
        break;
    }
    case State::WaitFin:
        if (retry())
            put(m_last, State::WaitFin);
        break;
    default:
        break;
    }
}

void ZmodemSender::sendFile()
{
    const Source &s = source();
    qint64 bytesLeft = 0;
    for (qsizetype i = m_index; i < m_sources.size(); ++i)
        bytesLeft += m_sources[i].size;
    // name NUL size mtime(octal) mode(octal) serial files-left bytes-left, as lrzsz sends them.
    QByteArray info = s.name + '\0';
    info += QByteArray::number(s.size) + ' ' + QByteArray::number(s.mtime, 8) + " 100644 0 "
            + QByteArray::number(m_sources.size() - m_index) + ' ' + QByteArray::number(bytesLeft);
    info += '\0';
    QByteArray out = m_encoder.binaryHeader(Header::flags(ZFILE, ZCBIN), m_crc32);
    m_encoder.appendSubpacket(out, info, ZCRCW, m_crc32);
    m_last = out;
    m_retries = 0;
    m_resumedAt = 0;
    m_lastRpos = -1;
    Q_EMIT fileStarted(s.name, s.size);
    Q_EMIT progress(0, s.size);
    put(out, State::WaitPos);
}

void ZmodemSender::nextFile()
{
    ++m_index;
    if (m_index < m_sources.size())
        sendFile();
    else
        sendFin();
}

void ZmodemSender::sendFin()
{
    m_retries = 0;
    m_last = Encoder::hexHeader(Header::at(ZFIN, 0));
    put(m_last, State::WaitFin);
}

void ZmodemSender::sendFrom(qint64 pos)
{
    if (!source().data->seek(pos)) {
        fail(Messages::transferReadFailed(QString::fromUtf8(source().name),
                                          source().data->errorString()),
             true);
        return;
    }
    m_pos = pos;
    m_windowStart = pos;
    m_frameOpen = false;
    m_state = State::Streaming;
    m_timer.stop();
    pump();
}

void ZmodemSender::pump()
{
    const Source &s = source();
    while (m_state == State::Streaming && m_queued < m_window) {
        QByteArray out;
        if (!m_frameOpen) {
            out = m_encoder.binaryHeader(Header::at(ZDATA, m_pos), m_crc32);
            m_frameOpen = true;
            m_restartMark = m_sent + out.size();
        }
        const qint64 want = qMin<qint64>(SubpacketSize, s.size - m_pos);
        const QByteArray chunk = s.data->read(want);
        if (chunk.size() != want) {
            fail(Messages::transferReadFailed(QString::fromUtf8(s.name),
                                              chunk.size() < 0 ? s.data->errorString()
                                                               : Messages::zmodemFileShrank()),
                 true);
            return;
        }
        m_pos += want;
        char end = ZCRCG;
        State next = State::Streaming;
        if (m_pos >= s.size) {
            end = ZCRCE;
            next = State::WaitEof;
        } else if (m_bufferSize > 0 && m_pos - m_windowStart + SubpacketSize > m_bufferSize) {
            end = ZCRCW;
            next = State::WaitAck;
        }
        m_encoder.appendSubpacket(out, chunk, end, m_crc32);
        if (next == State::WaitEof) {
            m_last = m_encoder.binaryHeader(Header::at(ZEOF, s.size), m_crc32);
            out += m_last;
            m_retries = 0;
        }
        if (end != ZCRCG)
            m_frameOpen = false;
        put(out, next);
        Q_EMIT progress(m_pos, s.size);
    }
}

void ZmodemSender::put(const QByteArray &bytes, State next)
{
    m_state = next;
    m_queued += bytes.size();
    m_sent += bytes.size();
    if (next != State::Streaming && next != State::WaitInit)
        m_timer.start(m_timing.replyMs);
    Q_EMIT output(bytes);
}

void ZmodemSender::timedOut()
{
    switch (m_state) {
    case State::WaitInit:
        if (m_requests >= m_timing.requests) {
            fail(Messages::transferNoStart(m_timing.requestMs * m_timing.requests / 1000), true);
            return;
        }
        ++m_requests;
        put(Encoder::hexHeader(Header::at(ZRQINIT, 0)), State::WaitInit);
        m_timer.start(m_timing.requestMs);
        break;
    case State::WaitFin:
        // Every file was confirmed already; a receiver that ends without answering ZFIN has
        // lost nothing.
        if (m_retries >= 2) {
            end({});
            return;
        }
        ++m_retries;
        put(m_last, State::WaitFin);
        break;
    case State::WaitAck:
        if (retry())
            sendFrom(m_windowStart);
        break;
    case State::WaitPos:
    case State::WaitEof:
        if (retry())
            put(m_last, m_state);
        break;
    default:
        break;
    }
}

bool ZmodemSender::retry()
{
    if (++m_retries <= Modem::MaxRetries)
        return true;
    fail(Messages::transferNoAnswer(Modem::MaxRetries), true);
    return false;
}

void ZmodemSender::fail(const QString &reason, bool tellPeer)
{
    if (tellPeer)
        Q_EMIT output(cancelSequence());
    end({Outcome::Kind::Failed, reason});
}

void ZmodemSender::end(const Outcome &outcome)
{
    m_timer.stop();
    m_state = State::Done;
    m_parser.halt();
    Q_EMIT finished(outcome);
}
