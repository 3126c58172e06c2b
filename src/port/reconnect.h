#pragma once

#include <QObject>
#include <QTimer>

class CommPort;

// After a loss, waits for the same port to come back and reopens it with the settings it had.
// A local device is looked for twice a second: each look is an opening attempt that fails at once
// and quietly while the device is missing. A network port is tried again a second after each
// failed attempt, and an attempt the server leaves unanswered is given up after a few seconds.
// Nothing else runs while waiting.
//
// States: idle, waiting for the next look, attempting (a network opening under way).
class Reconnect : public QObject
{
    Q_OBJECT

public:
    static constexpr int LookMs = 500;
    static constexpr int RetryMs = 1000;
    static constexpr int AttemptMs = 3000;

    explicit Reconnect(CommPort &port, QObject *parent = nullptr);

    void start();
    // Ends the wait; an attempt under way is stopped.
    void stop();
    bool waiting() const { return m_state != State::Idle; }

Q_SIGNALS:
    // The port is open again.
    void back();

private:
    enum class State { Idle, Waiting, Attempting };

    void look();
    void onOpened();
    void onOpenFailed();
    void onAttemptTimeout();
    void waitFor(int milliseconds);

    CommPort &m_port;
    State m_state = State::Idle;
    QTimer m_timer;
};
