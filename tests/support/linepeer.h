#pragma once

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

// The far end of a slow or held line, reading the master side of a pseudo-terminal on a thread
// of its own: it takes what the program sends at its own pace whatever the window's thread is
// doing, so a program that does not wait for the line shows in what arrives. Partway through it
// says one remark, to show whether the program still listens while it sends.
class LinePeer
{
public:
    struct Pace
    {
        // Takes nothing for this long after start(), as a device holding CTS or a busy peer.
        int holdMs = 0;
        // Then takes at most this many bytes a second (11,520 is a 115200 bit/s line); 0 takes
        // whatever arrives at once.
        int bytesPerSecond = 0;
        // For this long, after which it takes the rest at once (0: for good). A test cannot
        // wait the three minutes that 2 MiB take at 115200 bit/s, but it can watch a part.
        int pacedMs = 0;

        // When the line stops being slower than any sender, on the peer's clock.
        int slowUntilMs() const { return holdMs + pacedMs; }
    };

    LinePeer(int masterFd, Pace pace);
    ~LinePeer();
    LinePeer(const LinePeer &) = delete;
    LinePeer &operator=(const LinePeer &) = delete;

    // Starts the clock and the reading; the remark goes out remarkAtMs later.
    void start(const QByteArray &remark, int remarkAtMs);
    void stop();

    // Milliseconds since start().
    qint64 elapsedMs() const;
    qint64 receivedCount() const { return m_count.load(); }
    // When the last byte so far was taken, in elapsedMs(); -1 before the first.
    qint64 lastByteMs() const { return m_lastByteMs.load(); }
    // When the remark went out; -1 before.
    qint64 remarkSentMs() const { return m_remarkSentMs.load(); }
    bool holding() const { return elapsedMs() < m_pace.holdMs; }
    // Everything taken so far.
    QByteArray received() const;

private:
    void run();
    void say();

    const int m_fd;
    const Pace m_pace;
    QByteArray m_remark;
    int m_remarkAtMs = 0;
    std::chrono::steady_clock::time_point m_start;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<qint64> m_count{0};
    std::atomic<qint64> m_lastByteMs{-1};
    std::atomic<qint64> m_remarkSentMs{-1};
    mutable std::mutex m_mutex;
    QByteArray m_received;
};
