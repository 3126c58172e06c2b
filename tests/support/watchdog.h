#pragma once

#include <algorithm>
#include <csignal>
#include <cstring>
#include <iterator>
#include <unistd.h>

// Guards a step that must not block the window's thread: if the step has not ended after the
// given seconds, the test executable ends at once with the step's name on its error output,
// instead of hanging until ctest gives up. Opening a FIFO that has no writer blocks inside the
// kernel, where nothing else in the process could notice; the alarm still reaches it.
class Watchdog
{
public:
    explicit Watchdog(const char *step, unsigned seconds = 30)
    {
        const size_t length = std::min(std::strlen(step), std::size(s_step) - 1);
        std::memcpy(s_step, step, length);
        s_step[length] = '\0';
        std::signal(SIGALRM, &Watchdog::expired);
        ::alarm(seconds);
    }
    ~Watchdog() { ::alarm(0); }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

private:
    static void expired(int)
    {
        const char prefix[] = "\nblocked, the window's thread was held: ";
        [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, prefix, sizeof prefix - 1);
        written = ::write(STDERR_FILENO, s_step, std::strlen(s_step));
        written = ::write(STDERR_FILENO, "\n", 1);
        ::_exit(3);
    }

    static inline char s_step[256] = {};
};
