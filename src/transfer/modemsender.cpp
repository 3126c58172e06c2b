#include "transfer/modemsender.h"

#include "core/messages.h"

#include <QIODevice>

using namespace Modem;
using namespace Qt::StringLiterals;

ModemSender::ModemSender(Protocol protocol, const Source &source, QObject *parent)
    : QObject(parent)
    , m_protocol(protocol)
    , m_source(source)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ModemSender::timedOut);
    m_quiet.setSingleShot(true);
    // The line went quiet after a garbled answer: whatever the receiver meant, the block goes
    // again.
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        if (m_state == State::WaitEndAck)
            timedOut();
        else
            retry(Messages::transferNoAnswer(MaxRetries));
    });
}

void ModemSender::start()
{
    Q_ASSERT(m_state == State::Idle);
    m_state = State::WaitStart;
    m_timer.start(m_timing.startMs);
    Q_EMIT progress(0, m_source.size);
}

qsizetype ModemSender::feed(QByteArrayView bytes)
{
    m_sentInChunk = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!running())
            return i;
        handle(bytes[i]);
    }
    return bytes.size();
}

void ModemSender::lineTook()
{
    // A slow line may take seconds to carry a long block; the receiver cannot answer before.
    if (running() && m_state != State::WaitStart && m_state != State::WaitBatchStart)
        m_timer.start(m_timing.replyMs);
}

void ModemSender::cancel()
{
    if (!running())
        return;
    Q_EMIT output(cancelSequence());
    end({Outcome::Kind::Stopped, Messages::transferStopped()});
}

bool ModemSender::awaitingAnswer() const
{
    return m_state == State::WaitHeaderAck || m_state == State::WaitBlockAck
           || m_state == State::WaitEotAck || m_state == State::WaitEndAck;
}

void ModemSender::handle(char c)
{
    if (c == CAN) {
        if (++m_cans >= 2) {
            end({Outcome::Kind::Failed, Messages::transferCancelledByPeer()});
            return;
        }
        if (awaitingAnswer() && !m_sentInChunk)
            garbled();
        return;
    }
    m_cans = 0;
    if (m_sentInChunk)
        return;
    if (awaitingAnswer()) {
        answer(c);
        return;
    }

    switch (m_state) {
    case State::WaitStart:
        // Anything else is the receiver's own chatter ("ready for download") before it starts.
        if (c == CRC || c == NAK) {
            m_crc = c == CRC;
            Q_EMIT receiverStarted();
            if (m_protocol == Protocol::Ymodem)
                sendHeader();
            else
                sendNextBlock();
        }
        break;
    case State::WaitDataStart:
        // The receiver has the name and asks for the data as it asked for the header.
        if (c == CRC || c == NAK) {
            m_crc = c == CRC;
            sendNextBlock();
        }
        break;
    case State::WaitBatchStart:
        if (c == CRC || c == NAK) {
            m_crc = c == CRC;
            sendEndBlock();
        }
        break;
    default:
        break;
    }
}

void ModemSender::answer(char c)
{
    // A receiver that never saw the header or the first block is still asking for it, as lrzsz
    // reads a 'C' there; many receivers answer the first EOT with NAK, to be sure it was no noise.
    const bool stillAsking = c == CRC
                             && (m_state == State::WaitHeaderAck
                                 || (m_state == State::WaitBlockAck && m_acked == 0));
    if (c == NAK || stillAsking) {
        const qint64 block = m_state == State::WaitBlockAck ? quint8(m_number - 1) : 0;
        retry(m_state == State::WaitEotAck ? Messages::transferNoAnswer(MaxRetries)
                                           : Messages::transferBlockRefused(block, MaxRetries));
        return;
    }
    if (c != ACK || m_garbled) {
        garbled();
        return;
    }
    switch (m_state) {
    case State::WaitHeaderAck:
        await(State::WaitDataStart);
        break;
    case State::WaitBlockAck:
        m_acked += m_blockData;
        Q_EMIT progress(m_acked, m_source.size);
        sendNextBlock();
        break;
    case State::WaitEotAck:
        if (m_protocol == Protocol::Xmodem)
            end({});
        else
            await(State::WaitBatchStart);
        break;
    case State::WaitEndAck:
        end({});
        break;
    default:
        break;
    }
}

void ModemSender::garbled()
{
    ++m_noise;
    ++m_blockNoise;
    m_garbled = true;
    m_quiet.start(m_timing.quietMs);
}

void ModemSender::sendHeader()
{
    m_block = headerBlock(m_source.name, m_source.size, m_source.mtime, m_crc);
    m_blockData = 0;
    send(State::WaitHeaderAck);
}

void ModemSender::sendNextBlock()
{
    const qint64 remaining = m_source.size - m_acked;
    if (remaining <= 0) {
        m_block = QByteArray(1, EOT);
        send(State::WaitEotAck);
        return;
    }
    // Long blocks for YMODEM while they would be mostly data; the tail goes in short ones, as
    // receivers expect, so that little padding crosses a slow line.
    const qsizetype size
            = m_protocol == Protocol::Ymodem && remaining > 896 ? LongBlock : ShortBlock;
    const QByteArray data = m_source.data->read(qMin<qint64>(size, remaining));
    if (data.isEmpty()) {
        const QString why = m_source.data->errorString().isEmpty() || m_source.data->atEnd()
                                    ? u"文件比开始时短"_s
                                    : m_source.data->errorString();
        fail(Messages::transferReadFailed(QString::fromUtf8(m_source.name), why), true);
        return;
    }
    m_blockData = data.size();
    m_block = frame(m_number, data, size, m_crc);
    m_number = quint8(m_number + 1);
    send(State::WaitBlockAck);
}

void ModemSender::sendEndBlock()
{
    m_block = headerBlock(QByteArray(), 0, 0, m_crc);
    send(State::WaitEndAck);
}

void ModemSender::send(State next)
{
    m_retries = 0;
    m_blockNoise = 0;
    await(next);
    m_sentInChunk = true;
    Q_EMIT output(m_block);
}

void ModemSender::await(State next)
{
    m_state = next;
    m_garbled = false;
    m_quiet.stop();
    m_timer.start(m_timing.replyMs);
}

void ModemSender::retry(const QString &refused)
{
    if (++m_retries > MaxRetries) {
        // Garbled answers say more about the receiver than the last thing it seemed to say.
        fail(m_blockNoise > 0 ? Messages::transferNoProperAnswer(MaxRetries, m_blockNoise)
                              : refused,
             true);
        return;
    }
    await(m_state);
    m_sentInChunk = true;
    Q_EMIT output(m_block);
}

void ModemSender::timedOut()
{
    switch (m_state) {
    case State::WaitStart:
        fail(Messages::transferNoStart(m_timing.startMs / 1000), false);
        break;
    case State::WaitBatchStart:
    case State::WaitEndAck:
        // The file is delivered (its EOT acknowledged); a receiver that asks for no next file, or
        // whose answer to the batch's end is lost, has simply finished.
        end({});
        break;
    case State::WaitDataStart:
        if (++m_retries > MaxRetries)
            fail(Messages::transferNoAnswer(MaxRetries), true);
        else
            m_timer.start(m_timing.replyMs);
        break;
    case State::WaitHeaderAck:
    case State::WaitBlockAck:
    case State::WaitEotAck:
        retry(Messages::transferNoAnswer(MaxRetries));
        break;
    case State::Idle:
    case State::Done:
        break;
    }
}

void ModemSender::fail(const QString &reason, bool tellPeer)
{
    if (tellPeer)
        Q_EMIT output(cancelSequence());
    end({Outcome::Kind::Failed, reason});
}

void ModemSender::end(const Outcome &outcome)
{
    m_timer.stop();
    m_quiet.stop();
    m_state = State::Done;
    Q_EMIT finished(outcome);
}
