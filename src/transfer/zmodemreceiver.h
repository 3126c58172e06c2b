#pragma once

#include "transfer/modemframe.h"
#include "transfer/ymodemreceiver.h"
#include "transfer/zmodemframe.h"

#include <QObject>
#include <QTimer>

// Receives a ZMODEM batch as a state machine driven by arriving bytes and one timer. It offers
// full streaming (ZRINIT with no buffer limit, CRC-32), takes each ZFILE into the sink (a part
// already there is taken up with ZRPOS at its length), writes the streamed subpackets, and asks
// again with ZRPOS from the last good byte when a subpacket arrives damaged or the sender falls
// silent. ZFIN is answered and the sender's "OO" taken off the line.
class ZmodemReceiver : public QObject, private Zmodem::Parser::Events
{
    Q_OBJECT

public:
    struct Timing
    {
        // Between ZRINITs while no file is offered, and how many before giving up.
        int requestMs = 5000;
        int requests = 12;
        // Silence within a file before ZRPOS asks again.
        int dataMs = 10000;
        // How long the sender's "OO" is waited for after ZFIN.
        int overMs = 1000;
    };
    // Headers in a row that bring no data before the sender is taken for a broken one.
    static constexpr int MaxErrors = 20;

    explicit ZmodemReceiver(ReceiveSink &sink, QObject *parent = nullptr);

    void setTiming(const Timing &timing) { m_timing = timing; }
    void start();
    // Bytes from the line; returns how many belong to the transfer (all of them until it ends).
    qsizetype feed(QByteArrayView bytes);
    // The user's stop: the cancel goes out, the file in progress is kept as a part.
    void cancel();

    bool running() const { return m_state != State::Idle && m_state != State::Done; }
    int filesReceived() const { return m_files; }
    // Subpackets asked for again after damage or silence.
    int recoveries() const { return m_recoveries; }

Q_SIGNALS:
    void output(const QByteArray &bytes);
    // offset: what was already there from an earlier attempt.
    void fileStarted(const QByteArray &name, qint64 size, qint64 offset);
    void progress(qint64 done, qint64 total);
    void fileReceived(const QString &name, qint64 bytes);
    // A file the sender was told to skip (its name refused); the batch goes on.
    void fileFailed(const QString &reason);
    void finished(const Modem::Outcome &outcome);

private:
    enum class State { Idle, WaitFile, FileInfo, InFile, Over, Done };

    void header(const Zmodem::Header &h, bool crc32) override;
    void subpacket(QByteArrayView data, char end) override;
    void damaged() override;
    void cancelled() override;

    void fileInfo(QByteArrayView data);
    void data(QByteArrayView data, char end);
    void endOfFile(qint64 pos);
    void askAgain(bool damage);
    void sendInit();
    void sendHex(const Zmodem::Header &h);
    bool tooManyErrors();
    void timedOut();
    void fail(Modem::Outcome::Kind kind, const QString &reason, bool tellPeer);
    void end(const Modem::Outcome &outcome);

    ReceiveSink &m_sink;
    Timing m_timing;
    QTimer m_timer;
    Zmodem::Parser m_parser;
    State m_state = State::Idle;
    // Data is taken only after a ZDATA at the position asked for; after damage, none until then.
    bool m_taking = false;
    // A ZSINIT came: its subpacket (the attention string) is answered, not written.
    bool m_sinit = false;
    // A ZFILE came while a file was open: the same one again is answered, not begun anew.
    bool m_offerAgain = false;
    QByteArray m_name;
    qint64 m_pos = 0;
    qint64 m_size = -1;
    int m_requests = 0;
    int m_errors = 0;
    int m_silences = 0;
    int m_recoveries = 0;
    int m_files = 0;
    int m_overs = 0;
};
