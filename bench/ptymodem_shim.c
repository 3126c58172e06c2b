/*
 * Keeps CuteCom and GTKTerm on a pseudo-terminal for side_by_side.py (LD_PRELOAD).
 *
 * A Linux pseudo-terminal has no modem-control lines: TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC
 * on a pty slave fail with ENOTTY. GTKTerm 1.2.1 polls TIOCMGET and closes the port on that
 * error; CuteCom 0.51 sets DTR and RTS after opening and closes the port after an error dialog.
 * Where one of those four calls fails with ENOTTY on a pty slave (character major 136-143), the
 * shim answers as a UART with DTR, RTS, CTS, DSR and CD asserted would, and remembers what was
 * set. Every other call goes to the C library unchanged. Our own program needs none of this.
 *
 * side_by_side.py builds it with: cc -shared -fPIC -O2 -o ptymodem_shim.so ptymodem_shim.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

static int (*real_ioctl)(int, unsigned long, ...);
static int fake_bits = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;

static int is_pty_slave(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    const unsigned int maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;
}

int ioctl(int fd, unsigned long req, ...)
{
    va_list ap;
    va_start(ap, req);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!real_ioctl)
        real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");

    if (req != TIOCMGET && req != TIOCMSET && req != TIOCMBIS && req != TIOCMBIC)
        return real_ioctl(fd, req, arg);

    const int saved = errno;
    const int r = real_ioctl(fd, req, arg);
    if (r != -1 || errno != ENOTTY || !arg || !is_pty_slave(fd))
        return r;
    int *bits = (int *)arg;
    switch (req) {
    case TIOCMGET:
        *bits = fake_bits;
        break;
    case TIOCMSET:
        fake_bits = *bits;
        break;
    case TIOCMBIS:
        fake_bits |= *bits;
        break;
    case TIOCMBIC:
        fake_bits &= ~*bits;
        break;
    }
    errno = saved;
    return 0;
}
