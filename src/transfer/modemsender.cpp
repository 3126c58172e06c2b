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

void ModemSender::handle(char c)
{
    // Two CANs in a row are the receiver's cancel; one alone may be line noise.
    if (c == CAN) {
        if (++m_cans >= 2)
            end({Outcome::Kind::Failed, Messages::transferCancelledByPeer()});
        return;
    }
    m_cans = 0;

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
    case State::WaitHeaderAck:
        if (c == ACK)
            transmit(State::WaitDataStart);
        else if (c == NAK)
            retry();
        break;
    case State::WaitDataStart:
        // The receiver has the name and asks for the data as it asked for the header.
        if (c == CRC || c == NAK) {
            m_crc = c == CRC;
            sendNextBlock();
        }
        break;
    case State::WaitBlockAck:
        if (c == ACK) {
            m_acked += m_blockData;
            Q_EMIT progress(m_acked, m_source.size);
            sendNextBlock();
        } else if (c == NAK) {
            retry();
        } else if (c == CRC && m_protocol == Protocol::Xmodem && m_acked == 0 && m_number == 1) {
            // The first block was lost before the receiver had started: it is still asking.
            retry();
        }
        break;
    case State::WaitEotAck:
        // Many receivers answer the first EOT with NAK to be sure it was no noise.
        if (c == ACK) {
            if (m_protocol == Protocol::Xmodem) {
                end({});
            } else {
                m_state = State::WaitBatchStart;
                m_timer.start(m_timing.replyMs);
            }
        } else if (c == NAK) {
            sendEot();
        }
        break;
    case State::WaitBatchStart:
        if (c == CRC || c == NAK) {
            m_crc = c == CRC;
            sendEndBlock();
        }
        break;
    case State::WaitEndAck:
        if (c == ACK)
            end({});
        else if (c == NAK)
            retry();
        break;
    case State::Idle:
    case State::Done:
        break;
    }
}

void ModemSender::sendHeader()
{
    m_block = headerBlock(m_source.name, m_source.size, m_source.mtime, m_crc);
    m_blockData = 0;
    m_retries = 0;
    transmit(State::WaitHeaderAck);
    Q_EMIT output(m_block);
}

void ModemSender::sendNextBlock()
{
    const qint64 remaining = m_source.size - m_acked;
    if (remaining <= 0) {
        m_retries = 0;
        sendEot();
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
    m_retries = 0;
    transmit(State::WaitBlockAck);
    Q_EMIT output(m_block);
}

void ModemSender::sendEot()
{
    if (m_state == State::WaitEotAck && ++m_retries > MaxRetries) {
        fail(Messages::transferNoAnswer(MaxRetries), true);
        return;
    }
    m_block = QByteArray(1, EOT);
    transmit(State::WaitEotAck);
    Q_EMIT output(m_block);
}

void ModemSender::sendEndBlock()
{
    m_block = headerBlock(QByteArray(), 0, 0, m_crc);
    m_retries = 0;
    transmit(State::WaitEndAck);
    Q_EMIT output(m_block);
}

void ModemSender::transmit(State next)
{
    m_state = next;
    m_timer.start(m_timing.replyMs);
}

void ModemSender::retry()
{
    if (++m_retries > MaxRetries) {
        const qint64 block = m_state == State::WaitBlockAck ? quint8(m_number - 1) : 0;
        fail(Messages::transferBlockRefused(block, MaxRetries), true);
        return;
    }
    m_timer.start(m_timing.replyMs);
    Q_EMIT output(m_block);
}

void ModemSender::timedOut()
{
    switch (m_state) {
    case State::WaitStart:
        fail(Messages::transferNoStart(m_timing.startMs / 1000), false);
        break;
    case State::WaitBatchStart:
        // The file is delivered; a receiver that asks for no next file has simply finished.
        end({});
        break;
    case State::WaitDataStart:
        if (++m_retries > MaxRetries)
            fail(Messages::transferNoAnswer(MaxRetries), true);
        else
            m_timer.start(m_timing.replyMs);
        break;
    case State::WaitEotAck:
        sendEot();
        break;
    case State::WaitHeaderAck:
    case State::WaitBlockAck:
    case State::WaitEndAck:
        if (m_retries >= MaxRetries)
            fail(Messages::transferNoAnswer(MaxRetries), true);
        else
            retry();
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
    m_state = State::Done;
    Q_EMIT finished(outcome);
}
