#pragma once

#include "transfer/modemframe.h"
#include "transfer/zmodemframe.h"

#include <QList>
#include <QObject>
#include <QTimer>

class QIODevice;

// Sends a batch of files by ZMODEM as a state machine driven by the receiver's headers, by the
// line taking what was queued, and by one timer. It streams subpackets (ZCRCG) while no more
// than a window's worth waits for the line, so a ZRPOS is acted on while the line is still
// busy; it stops for ZACK (ZCRCW) where the receiver's buffer size asks, takes up a file where
// the receiver already holds part of it, and goes back to where a ZRPOS says.
class ZmodemSender : public QObject, private Zmodem::Parser::Events
{
    Q_OBJECT

public:
    struct Timing
    {
        // Between ZRQINITs, and how many make up the time the receiver has to start.
        int requestMs = 5000;
        int requests = 12;
        // How long an answer may take once the line has taken what was queued.
        int replyMs = 10000;
    };
    struct Source
    {
        QIODevice *data = nullptr; // open for reading and seekable, kept by the caller
        QByteArray name;           // the base name
        qint64 size = 0;
        qint64 mtime = 0; // seconds since 1970
    };
    // Bytes of file data per subpacket, and how much may wait for the line.
    static constexpr qsizetype SubpacketSize = 1024;
    static constexpr qint64 Window = 32 * 1024;

    explicit ZmodemSender(const QList<Source> &sources, QObject *parent = nullptr);

    void setTiming(const Timing &timing) { m_timing = timing; }
    void start();
    // Bytes from the line; returns how many belong to the transfer (all of them until it ends).
    qsizetype feed(QByteArrayView bytes);
    // The line took bytes: stillQueued is what waits for it now (the port's count, since the
    // port may report several steps at once).
    void lineTook(qint64 stillQueued);
    // The user's stop: the cancel goes out and the transfer ends at once.
    void cancel();

    bool running() const { return m_state != State::Idle && m_state != State::Done; }
    // What the receiver confirmed: files it took whole, the bytes that crossed for them (a
    // resumed file counts from where it was taken up), and files it declined.
    int filesConfirmed() const { return m_confirmed; }
    qint64 bytesConfirmed() const { return m_confirmedBytes; }
    int filesSkipped() const { return m_skipped; }
    int recoveries() const { return m_recoveries; }

Q_SIGNALS:
    void output(const QByteArray &bytes);
    void receiverStarted();
    void fileStarted(const QByteArray &name, qint64 size);
    void progress(qint64 done, qint64 total);
    void fileConfirmed(const QByteArray &name, qint64 sent, qint64 resumedAt);
    void fileSkipped(const QByteArray &name);
    void finished(const Modem::Outcome &outcome);

private:
    enum class State { Idle, WaitInit, WaitPos, Streaming, WaitAck, WaitEof, WaitFin, Done };

    void header(const Zmodem::Header &h, bool crc32) override;
    void subpacket(QByteArrayView, char) override {}
    void damaged() override {}
    void cancelled() override;

    void receiverReady(const Zmodem::Header &h);
    void sendFile();
    void nextFile();
    void sendFin();
    void sendFrom(qint64 pos);
    void pump();
    void put(const QByteArray &bytes, State next);
    void timedOut();
    bool retry();
    void fail(const QString &reason, bool tellPeer);
    void end(const Modem::Outcome &outcome);
    const Source &source() const { return m_sources[m_index]; }

    QList<Source> m_sources;
    Timing m_timing;
    QTimer m_timer;
    Zmodem::Parser m_parser;
    Zmodem::Encoder m_encoder;
    State m_state = State::Idle;
    bool m_crc32 = false;
    qint64 m_bufferSize = 0;
    qsizetype m_index = 0;
    qint64 m_pos = 0;         // the next byte of the file to go out
    qint64 m_windowStart = 0; // where the receiver last confirmed, for ZCRCW
    qint64 m_resumedAt = 0;
    bool m_frameOpen = false;
    qint64 m_queued = 0;
    qint64 m_window = Window;
    // Bytes put out and taken by the line in all; where our latest going back ends.
    qint64 m_sent = 0;
    qint64 m_written = 0;
    qint64 m_restartMark = 0;
    QByteArray m_last; // the header (and subpacket) to repeat when no answer comes
    qint64 m_lastRpos = -1;
    int m_requests = 0;
    int m_retries = 0;
    int m_confirmed = 0;
    qint64 m_confirmedBytes = 0;
    int m_skipped = 0;
    int m_recoveries = 0;
};
