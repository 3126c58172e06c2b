#include "app/signalwatcher.h"

#include "core/messages.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int number)
{
    // Only async-signal-safe work here: one byte into the pipe wakes the event loop. A full
    // pipe (EAGAIN) already holds a wake-up, so a failed write loses nothing; errno is the
    // interrupted code's and goes back untouched.
    const int savedErrno = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : SignalWatcher(false, parent)
{}

SignalWatcher::SignalWatcher(bool interrupt, QObject *parent)
    : QObject(parent)
    , m_interrupt(interrupt)
{
    // The pipe that carries a signal from its handler to the event loop.
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_error = Messages::signalWatchFailed(u"pipe2"_s, qt_error_string(errno));
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::onReadable);

    // The handlers; a signal whose handler cannot be set keeps its default and ends the program
    // without the orderly close.
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const auto &[number, name] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGHUP, "SIGHUP"},
                                       std::pair{SIGINT, "SIGINT"}}) {
        if (number == SIGINT && !m_interrupt)
            continue;
        if (::sigaction(number, &action, nullptr) != 0 && m_error.isEmpty()) {
            m_error = Messages::signalWatchFailed(u"sigaction(%1)"_s.arg(QLatin1StringView(name)),
                                                  qt_error_string(errno));
        }
    }
}

SignalWatcher::~SignalWatcher()
{
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    if (m_interrupt)
        ::signal(SIGINT, SIG_DFL);
}

void SignalWatcher::onReadable()
{
    char buffer[64];
    ssize_t n = 0;
    while ((n = ::read(g_pipe[0], buffer, sizeof buffer)) > 0)
        m_signal = uchar(buffer[n - 1]);
    Q_EMIT terminationRequested();
}
