#include "linepeer.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

// How often the peer looks at the line while it waits.
constexpr int StepMs = 5;
// A paced peer saves up at most this much unused time: a real line that idled does not deliver
// faster afterwards.
constexpr int CreditMs = 20;

} // namespace

LinePeer::LinePeer(int masterFd, Pace pace)
    : m_fd(masterFd)
    , m_pace(pace)
{}

LinePeer::~LinePeer()
{
    stop();
}

void LinePeer::start(const QByteArray &remark, int remarkAtMs)
{
    Q_ASSERT(!m_thread.joinable());
    m_remark = remark;
    m_remarkAtMs = remarkAtMs;
    m_start = std::chrono::steady_clock::now();
    m_thread = std::thread(&LinePeer::run, this);
}

void LinePeer::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
}

qint64 LinePeer::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                 - m_start)
            .count();
}

QByteArray LinePeer::received() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

void LinePeer::run()
{
    char buffer[65536];
    double credit = 0;
    qint64 lastMs = m_pace.holdMs;
    while (!m_stopping) {
        const qint64 now = elapsedMs();
        if (m_remarkSentMs < 0 && now >= m_remarkAtMs)
            say();
        if (now < m_pace.holdMs) {
            ::usleep(StepMs * 1000);
            continue;
        }

        // How much the line may carry now.
        qsizetype allowed = sizeof buffer;
        if (m_pace.bytesPerSecond > 0 && (m_pace.pacedMs == 0 || now < m_pace.slowUntilMs())) {
            const double perMs = m_pace.bytesPerSecond / 1000.0;
            credit = qMin(credit + double(now - lastMs) * perMs, CreditMs * perMs);
            lastMs = now;
            allowed = qMin(allowed, qsizetype(credit));
            if (allowed <= 0) {
                ::usleep(StepMs * 1000);
                continue;
            }
        }

        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, StepMs) <= 0)
            continue;
        const ssize_t n = ::read(m_fd, buffer, size_t(allowed));
        if (n <= 0) {
            // EIO: the program does not hold its end open right now.
            if (n < 0 && errno == EIO)
                ::usleep(StepMs * 1000);
            continue;
        }
        credit -= double(n);
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_received.append(buffer, n);
        }
        m_count += n;
        m_lastByteMs = elapsedMs();
    }
}

void LinePeer::say()
{
    // Short enough for the line's buffer: the program reads it whenever it likes.
    qsizetype written = 0;
    while (written < m_remark.size() && !m_stopping) {
        const ssize_t n
                = ::write(m_fd, m_remark.constData() + written, size_t(m_remark.size() - written));
        if (n > 0)
            written += n;
        else
            ::usleep(StepMs * 1000);
    }
    m_remarkSentMs = elapsedMs();
}
