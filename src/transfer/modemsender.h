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
    void sendHeader();
    void sendNextBlock();
    void sendEot();
    void sendEndBlock();
    void transmit(State next);
    void retry();
    void timedOut();
    void fail(const QString &reason, bool tellPeer);
    void end(const Modem::Outcome &outcome);

    Protocol m_protocol;
    Source m_source;
    Timing m_timing;
    QTimer m_timer;
    State m_state = State::Idle;
    bool m_crc = true;
    QByteArray m_block;     // what went out last, for a retry
    qint64 m_blockData = 0; // bytes of the file in it
    quint8 m_number = 1;
    qint64 m_acked = 0;
    int m_retries = 0;
    int m_cans = 0;
};
