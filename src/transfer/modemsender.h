#pragma once

#include "transfer/modemframe.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QIODevice;

// Sends one file by XMODEM or YMODEM (batch of one) as a state machine driven by what the
// receiver answers and by one timer: it never waits in a loop, so the window stays alive however
// slow the receiver is. What it puts on the line comes out of output(); what came off the line is
// handed to feed(), which takes the protocol's bytes and gives back the rest once it is done.
//
// States: waiting for the receiver to start ('C' or NAK), a block out and its answer awaited, EOT
// out, (YMODEM) waiting for the receiver's next 'C' and the empty block 0 that ends the batch.
//
// Only a well-formed answer counts: the first byte to arrive after a block went out. Any other
// byte garbles the answer; from then on the sender drains the line, believing no ACK, until the
// receiver asks again (NAK) or the line is quiet, and then sends the block again, which counts as
// one of the protocol's retries. One CAN alone is noise too; two in a row cancel, as lrzsz reads
// them. Bytes that arrived in the same chunk as the answer that sent a block were on the line
// before the block: they cannot answer it.
class ModemSender : public QObject
{
    Q_OBJECT

public:
    enum class Protocol { Xmodem, Ymodem };
    struct Timing
    {
        // How long the receiver has to start.
        int startMs = 60000;
        // How long an answer to a block may take once the line has taken the block.
        int replyMs = 10000;
        // How long the line must be quiet after a garbled answer before the block goes again.
        int quietMs = 1000;
    };
    struct Source
    {
        QIODevice *data = nullptr; // open for reading, kept by the caller
        QByteArray name;           // YMODEM's block 0: the base name
        qint64 size = 0;
        qint64 mtime = 0; // seconds since 1970
    };

    ModemSender(Protocol protocol, const Source &source, QObject *parent = nullptr);

    void setTiming(const Timing &timing) { m_timing = timing; }
    void start();
    // Bytes from the line; returns how many belong to the transfer (all of them until it ends).
    qsizetype feed(QByteArrayView bytes);
    // The line took queued bytes: the receiver's answer is awaited from now.
    void lineTook();
    // The user's stop: CANs go out and the transfer ends at once.
    void cancel();

    bool running() const { return m_state != State::Idle && m_state != State::Done; }
    // Bytes of the file that the receiver acknowledged.
    qint64 acknowledged() const { return m_acked; }
    // Bytes that came where an answer was awaited and were none.
    qint64 noise() const { return m_noise; }

Q_SIGNALS:
    void output(const QByteArray &bytes);
    // The receiver asked for the first block: the transfer proper begins.
    void receiverStarted();
    void progress(qint64 done, qint64 total);
    void finished(const Modem::Outcome &outcome);

private:
    enum class State {
        Idle,
        WaitStart,
        WaitHeaderAck,
        WaitDataStart,
        WaitBlockAck,
        WaitEotAck,
        WaitBatchStart,
        WaitEndAck,
        Done,
    };

    void handle(char c);
    bool awaitingAnswer() const;
    void answer(char c);
    void garbled();
    void sendHeader();
    void sendNextBlock();
    void sendEndBlock();
    // A new block (or EOT) goes out and its answer is awaited.
    void send(State next);
    void await(State next);
    // The block goes again; refused is the reason should the retries be spent.
    void retry(const QString &refused);
    void timedOut();
    void fail(const QString &reason, bool tellPeer);
    void end(const Modem::Outcome &outcome);

    Protocol m_protocol;
    Source m_source;
    Timing m_timing;
    QTimer m_timer;
    QTimer m_quiet;
    State m_state = State::Idle;
    bool m_crc = true;
    QByteArray m_block;     // what went out last, for a retry
    qint64 m_blockData = 0; // bytes of the file in it
    quint8 m_number = 1;
    qint64 m_acked = 0;
    int m_retries = 0;
    int m_cans = 0;
    // The answer awaited now was garbled: no ACK is believed until the block goes out again.
    bool m_garbled = false;
    // Bytes that were no answer, since the block now out first went out; and in all.
    qint64 m_blockNoise = 0;
    qint64 m_noise = 0;
    // A block went out while the chunk being fed was read: the rest of it is older than the block.
    bool m_sentInChunk = false;
};
