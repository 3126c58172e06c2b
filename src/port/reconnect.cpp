#include "port/reconnect.h"

#include "core/commport.h"

Reconnect::Reconnect(CommPort &port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    m_timer.setSingleShot(true);
    // A coarse timer: the look may come a little late, and the system may gather wake-ups.
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_state == State::Waiting)
            look();
        else if (m_state == State::Attempting)
            onAttemptTimeout();
    });
    connect(&m_port, &CommPort::opened, this, &Reconnect::onOpened);
    connect(&m_port, &CommPort::openFailed, this, &Reconnect::onOpenFailed);
}

void Reconnect::start()
{
    Q_ASSERT(!m_port.portOpen() && !m_port.portOpening());
    waitFor(LookMs);
}

void Reconnect::stop()
{
    if (m_state == State::Attempting)
        (void)m_port.setPortOpen(false);
    m_state = State::Idle;
    m_timer.stop();
}

void Reconnect::waitFor(int milliseconds)
{
    m_state = State::Waiting;
    m_timer.start(milliseconds);
}

void Reconnect::look()
{
    // The port looks up its device or server afresh on each opening, so a link changed
    // meanwhile is followed. A failure here is the expected answer while the port is away.
    (void)m_port.setPortOpen(true);
    if (m_port.portOpen()) {
        m_state = State::Idle;
        Q_EMIT back();
    } else if (m_port.portOpening()) {
        m_state = State::Attempting;
        m_timer.start(AttemptMs);
    } else {
        waitFor(LookMs);
    }
}

void Reconnect::onOpened()
{
    if (m_state != State::Attempting)
        return;
    m_state = State::Idle;
    m_timer.stop();
    Q_EMIT back();
}

void Reconnect::onOpenFailed()
{
    if (m_state == State::Attempting)
        waitFor(RetryMs);
}

void Reconnect::onAttemptTimeout()
{
    (void)m_port.setPortOpen(false);
    waitFor(RetryMs);
}
