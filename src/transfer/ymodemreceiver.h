#pragma once

#include "core/result.h"
#include "transfer/modemframe.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

// Where received files go. The receiver hands over the name exactly as the sender gave it: the
// sink decides what it becomes, and may refuse it.
class ReceiveSink
{
public:
    virtual ~ReceiveSink() = default;
    // A file begins; a failure refuses it and ends the transfer with its message.
    virtual Result begin(const QByteArray &name, qint64 size) = 0;
    virtual Result write(QByteArrayView data) = 0;
    // The file is whole: it takes its place. Gives the name it got.
    virtual Expected<QString> complete() = 0;
    // The file will not be whole: what arrived is kept under a name that says so, given back
    // (empty when nothing was kept).
    virtual QString abandon() = 0;
};

// Receives a YMODEM batch as a state machine driven by arriving bytes and one timer: it asks with
// 'C', takes block 0 (name, size), the file's blocks, the EOT handshake, and again until the empty
// block 0 ends the batch. Bad blocks are refused with NAK after the line has gone quiet (or a
// block's time, should it never go quiet), repeats acknowledged and dropped; a block's time runs
// from our last answer, and noise does not extend it: a sender that sends no readable block in
// time is asked again. Ten errors in a row cancel the transfer.
class YmodemReceiver : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        // Between requests for the next file, and how many make up the 60 s a sender has.
        int requestMs = 3000;
        int requests = 20;
        // Silence within a file before the block is asked for again.
        int blockMs = 10000;
        // How long the line must be quiet after a bad block before it is refused, so that the
        // rest of that block is not taken for the next.
        int purgeMs = 1000;
    };

    explicit YmodemReceiver(ReceiveSink &sink, QObject *parent = nullptr);

    void setTiming(const Timing &timing) { m_timing = timing; }
    void start();
    // Bytes from the line; returns how many belong to the transfer (all of them until it ends).
    qsizetype feed(QByteArrayView bytes);
    // The user's stop: CANs go out, the file in progress is kept as a part, the transfer ends.
    void cancel();

    bool running() const { return m_state != State::Idle && m_state != State::Done; }
    int filesReceived() const { return m_files; }

Q_SIGNALS:
    void output(const QByteArray &bytes);
    void fileStarted(const QByteArray &name, qint64 size);
    void progress(qint64 done, qint64 total);
    void fileReceived(const QString &name, qint64 bytes);
    // A file that ended wrong while the batch went on (sent shorter than announced).
    void fileFailed(const QString &reason);
    void finished(const Modem::Outcome &outcome);

private:
    enum class State { Idle, WaitHeader, InFile, Done };

    void process();
    void block(char number, QByteArrayView data);
    void header(QByteArrayView data);
    void endOfFile();
    void badBlock();
    void endPurge();
    void timedOut();
    // One answer on the line; the sender's next move is awaited from now.
    void answer(const QByteArray &bytes);
    int waitMs() const;
    void request(char c);
    void fail(Modem::Outcome::Kind kind, const QString &reason, bool tellPeer);

    ReceiveSink &m_sink;
    Timing m_timing;
    QTimer m_timer;
    State m_state = State::Idle;
    QByteArray m_buffer;
    bool m_purging = false;
    QDeadlineTimer m_purgeLimit;
    int m_requests = 0;
    // Errors in a row, and the bytes of noise among them: what the message tells.
    int m_errors = 0;
    qint64 m_noise = 0;
    bool m_eotRefused = false;
    quint8 m_expected = 0;
    qint64 m_size = -1;
    qint64 m_received = 0;
    qint64 m_block = 0;
    int m_files = 0;
};
