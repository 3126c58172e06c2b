#include "transfer/ymodemreceiver.h"

#include "core/messages.h"

using namespace Modem;
using namespace Qt::StringLiterals;

YmodemReceiver::YmodemReceiver(ReceiveSink &sink, QObject *parent)
    : QObject(parent)
    , m_sink(sink)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &YmodemReceiver::timedOut);
}

void YmodemReceiver::start()
{
    Q_ASSERT(m_state == State::Idle);
    m_state = State::WaitHeader;
    m_requests = 0;
    request(CRC);
}

qsizetype YmodemReceiver::feed(QByteArrayView bytes)
{
    if (!running())
        return 0;
    if (m_purging) {
        // The rest of a bad block, or a sender's resend that crossed our refusal: wait for quiet.
        // A line that never goes quiet is refused all the same once a block's time is up.
        if (!m_purgeLimit.hasExpired()) {
            m_timer.start(m_timing.purgeMs);
            return bytes.size();
        }
        endPurge();
        if (!running())
            return bytes.size();
    }
    m_buffer.append(bytes);
    process();
    if (running())
        return bytes.size();
    // Whatever followed the end of the batch is the device talking again, not the protocol.
    const qsizetype left = qMin(m_buffer.size(), bytes.size());
    m_buffer.clear();
    return bytes.size() - left;
}

void YmodemReceiver::cancel()
{
    if (running())
        fail(Outcome::Kind::Stopped, Messages::transferStopped(), true);
}

void YmodemReceiver::process()
{
    while (running() && !m_purging && !m_buffer.isEmpty()) {
        const char mark = m_buffer.front();
        if (mark == SOH || mark == STX) {
            const qsizetype size = mark == STX ? LongBlock : ShortBlock;
            const qsizetype whole = 3 + size + 2;
            if (m_buffer.size() < whole) {
                // A block on its way over a slow line: its time runs from its latest bytes.
                m_timer.start(waitMs());
                break;
            }
            const QByteArray bytes = m_buffer.first(whole);
            m_buffer.remove(0, whole);
            const QByteArrayView data = QByteArrayView(bytes).sliced(3, size);
            const quint16 crc = quint16((quint8(bytes[3 + size]) << 8) | quint8(bytes[4 + size]));
            if (quint8(bytes[1]) != quint8(~quint8(bytes[2])) || crc16(data) != crc)
                badBlock();
            else
                block(bytes[1], data);
        } else if (mark == EOT) {
            m_buffer.remove(0, 1);
            endOfFile();
        } else if (mark == CAN) {
            if (m_buffer.size() < 2)
                break;
            if (m_buffer[1] == CAN) {
                fail(Outcome::Kind::Failed, Messages::transferCancelledByPeer(), false);
                return;
            }
            m_buffer.remove(0, 1);
            ++m_noise;
        } else {
            // Noise between blocks: dropped, and no reason to wait any longer for the block.
            m_buffer.remove(0, 1);
            ++m_noise;
        }
    }
}

int YmodemReceiver::waitMs() const
{
    return m_state == State::WaitHeader ? m_timing.requestMs : m_timing.blockMs;
}

void YmodemReceiver::answer(const QByteArray &bytes)
{
    m_timer.start(waitMs());
    Q_EMIT output(bytes);
}

void YmodemReceiver::block(char number, QByteArrayView data)
{
    const quint8 n = quint8(number);
    if (m_state == State::WaitHeader) {
        if (n == 0) {
            header(data);
        } else if (m_files > 0 && n == quint8(m_expected - 1)) {
            // The last block of the previous file again: our answer to it was lost.
            answer(QByteArray(1, ACK));
        } else {
            fail(Outcome::Kind::Failed, Messages::transferOutOfSequence(0, n), true);
        }
        return;
    }
    if (n == m_expected) {
        m_errors = 0;
        m_noise = 0;
        qint64 take = data.size();
        if (m_size >= 0)
            take = qBound<qint64>(0, m_size - m_received, take);
        if (take > 0) {
            const Result written = m_sink.write(data.first(take));
            if (!written) {
                fail(Outcome::Kind::Failed, written.message(), true);
                return;
            }
        }
        m_received += take;
        m_expected = quint8(m_expected + 1);
        ++m_block;
        answer(QByteArray(1, ACK));
        Q_EMIT progress(m_received, qMax<qint64>(m_size, 0));
    } else if (n == 0 && m_block == 0) {
        // Block 0 again: the sender missed our ACK of the header.
        answer(QByteArray(1, ACK) + CRC);
    } else if (n == quint8(m_expected - 1)) {
        // A repeat: the sender missed our ACK. Acknowledged again, written once.
        answer(QByteArray(1, ACK));
    } else {
        fail(Outcome::Kind::Failed, Messages::transferOutOfSequence(m_expected, n), true);
    }
}

void YmodemReceiver::header(QByteArrayView data)
{
    const std::optional<Header> parsed = parseHeader(data);
    if (!parsed) {
        Q_EMIT output(QByteArray(1, ACK));
        m_timer.stop();
        m_state = State::Done;
        Q_EMIT finished({});
        return;
    }
    const Result opened = m_sink.begin(parsed->name, parsed->size);
    if (!opened) {
        fail(Outcome::Kind::Failed, opened.message(), true);
        return;
    }
    m_state = State::InFile;
    m_size = parsed->size;
    m_received = 0;
    m_block = 0;
    m_expected = 1;
    m_errors = 0;
    m_noise = 0;
    m_eotRefused = false;
    Q_EMIT fileStarted(parsed->name, m_size);
    Q_EMIT progress(0, qMax<qint64>(m_size, 0));
    answer(QByteArray(1, ACK) + CRC);
}

void YmodemReceiver::endOfFile()
{
    if (m_state == State::WaitHeader) {
        // The sender missed our ACK of its EOT, and so the request for the next file with it.
        if (m_files > 0)
            answer(QByteArray(1, ACK) + CRC);
        return;
    }
    // The first EOT is refused: one byte of noise must not end a file.
    if (!m_eotRefused) {
        m_eotRefused = true;
        answer(QByteArray(1, NAK));
        return;
    }
    answer(QByteArray(1, ACK));
    ++m_files;
    m_state = State::WaitHeader;
    m_requests = 0;
    if (m_size >= 0 && m_received < m_size) {
        const QString part = m_sink.abandon();
        QString reason = Messages::transferShorterThanAnnounced(m_received, m_size);
        if (!part.isEmpty())
            reason += u"；"_s + Messages::transferPartKept(part, m_received);
        Q_EMIT fileFailed(reason);
    } else {
        const Expected<QString> name = m_sink.complete();
        if (!name) {
            fail(Outcome::Kind::Failed, name.message(), true);
            return;
        }
        Q_EMIT fileReceived(*name, m_received);
    }
    request(CRC);
}

void YmodemReceiver::badBlock()
{
    if (++m_errors >= MaxRetries) {
        fail(Outcome::Kind::Failed, Messages::transferBadBlocks(m_block + 1, MaxRetries), true);
        return;
    }
    m_buffer.clear();
    m_purging = true;
    m_purgeLimit.setRemainingTime(m_timing.blockMs);
    m_timer.start(m_timing.purgeMs);
}

void YmodemReceiver::endPurge()
{
    m_purging = false;
    answer(QByteArray(1, m_state == State::WaitHeader ? CRC : NAK));
}

void YmodemReceiver::timedOut()
{
    if (m_purging) {
        endPurge();
        return;
    }
    // A block cut short stays cut short: what there is of it goes, and it is asked for again.
    m_buffer.clear();
    if (m_state == State::WaitHeader) {
        if (m_requests >= m_timing.requests) {
            fail(Outcome::Kind::Failed,
                 Messages::transferNoStart(m_timing.requestMs * m_timing.requests / 1000), true);
            return;
        }
        request(CRC);
        return;
    }
    if (++m_errors >= MaxRetries) {
        fail(Outcome::Kind::Failed,
             m_noise > 0 ? Messages::transferSenderNoise(MaxRetries, m_noise)
                         : Messages::transferSenderSilent(MaxRetries),
             true);
        return;
    }
    // Before the first block the sender is waiting for 'C', after it for an answer.
    request(m_block == 0 ? CRC : NAK);
}

void YmodemReceiver::request(char c)
{
    if (m_state == State::WaitHeader)
        ++m_requests;
    answer(QByteArray(1, c));
}

void YmodemReceiver::fail(Outcome::Kind kind, const QString &reason, bool tellPeer)
{
    const bool inFile = m_state == State::InFile;
    m_timer.stop();
    m_state = State::Done;
    m_buffer.clear();
    if (tellPeer)
        Q_EMIT output(cancelSequence());
    QString text = reason;
    if (inFile) {
        const QString part = m_sink.abandon();
        if (!part.isEmpty())
            text += u"；"_s + Messages::transferPartKept(part, m_received);
    }
    Q_EMIT finished({kind, text});
}
