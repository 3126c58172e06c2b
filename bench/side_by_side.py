#!/usr/bin/env python3
"""side_by_side.py - our program beside CuteCom and GTKTerm, on the same data, in one run.

The script plays the far end of a serial line. For each program, shape and repetition it makes
a pseudo-terminal pair (the slave in raw mode at 115200 bit/s), starts its own Xvfb display,
starts the program there with a fresh HOME, has it open the slave as a user would (keys sent
with xdotool), and then sends one shape:

  a           5 MiB of 80-character lines, as fast as the pty takes it
  b           5 MiB of 4,000-character lines, as fast as the pty takes it
  c           2 MiB with no line break, as fast as the pty takes it
  d           shape a with the program in its hex display (our program and CuteCom)
  e           5 MiB of ls --color lines: an SGR colour pair around every word
  f           the text of shape e without its escapes (what e shows)
  paced-lf    80-character lines at 11,520 B/s (115200 bit/s, 8N1), one line per 1/144 s
  paced-nolf  the same writes with no line break at all: one ever-longer line
  idle        nothing: the port open, the window shown

and prints one table: per program and shape the median over the repetitions of the wall time
(blasts), the program's CPU (seconds for a blast, share of a core for a stream or idle), the X
server's CPU, the peak resident memory, the longest event-loop stall and how busy the rest of
the machine was.

How a blast is timed: a `cat` child writes the file into the master with blocking writes. The
blast counts as absorbed when the writer is done, the slave's input queue is empty and the
program has used less than 2 % of a core for a second; the wall time runs from the first byte to
the last moment the program still used CPU before that second.

How a stall is seen: the script sends the program's main window a _NET_WM_PING every 23 ms
(every 97 ms while a stream runs, never while idle) and times each answer. Qt and GTK answer it
from the thread that runs the window's event loop, so the slowest answer is the longest time the
window could not react. The same probe works for all three programs.

CuteCom and GTKTerm close a pseudo-terminal as soon as a modem-line ioctl fails, which it always
does on a pty. The script builds bench/ptymodem_shim.c and preloads it into them (LD_PRELOAD);
it answers those four ioctls on a pty slave as a UART with all lines up would. Our program is
run without it.

Usage (from the repository; scripts/bench side-by-side builds the release program first):
  bench/side_by_side.py [--programs velmir,cutecom,gtkterm] [--shapes a,b,c,d,paced-lf,...]
                        [--reps N] [--paced-seconds S] [--idle-seconds S] [--quick]
                        [--install] [--velmir [LABEL=]PATH ...] [--keep] [--json FILE]

Needs python3, Xvfb, xdotool, libX11 and a C compiler; --install installs CuteCom and GTKTerm
with apt-get (as root, or through sudo).
"""

import argparse
import ctypes
import ctypes.util
import errno
import fcntl
import json
import os
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SHIM_SRC = os.path.join(HERE, "ptymodem_shim.c")
CLK_TCK = os.sysconf("SC_CLK_TCK")
MIB = 1024 * 1024
WIN_W, WIN_H = 1024, 768          # every program's window is resized to this

IDLE_WINDOW = 1.0                 # a second below IDLE_FRACTION of a core means "done"
IDLE_FRACTION = 0.02
DONE_SLACK = 0.01                 # CPU seconds a program may still use after "done"
BLAST_SAMPLE = 0.01               # CPU sampling period while a blast is absorbed
PACED_RATE = 11520                # bytes a second: 115200 bit/s with 8N1
STREAM_CHUNK = 80                 # bytes per paced write: 144 writes a second
STREAM_WINDOW = 10.0              # paced CPU is also kept per window of this length
STREAM_GRACE = 2.0
CATCH_UP_MAX = 30.0               # how long a program may take to empty the queue after a stream
START_TIMEOUT = 30.0              # from start to a visible window
# Ping periods are kept off multiples of 100 ms: a ping that keeps arriving just as a program's
# 100-ms timer fires is now and then answered only a tick later, which would read as a stall.
PING_BLAST = 0.023
PING_STREAM = 0.097

BLASTS = {
    "a": dict(size=5 * MIB, line=80, hex=False, what="5 MiB of 80-character lines"),
    "b": dict(size=5 * MIB, line=4000, hex=False, what="5 MiB of 4,000-character lines"),
    "c": dict(size=2 * MIB, line=None, hex=False, what="2 MiB, no line break"),
    "d": dict(size=5 * MIB, line=80, hex=True, what="shape a in hex"),
    "e": dict(size=5 * MIB, line="ls", hex=False,
              what="5 MiB of ls --color lines, an SGR pair around every word"),
    "f": dict(size=5 * MIB, line="ls-plain", hex=False, what="shape e's text without escapes"),
}
STREAMS = {
    "paced-lf": dict(lf=True, what="80-character lines at 11,520 B/s"),
    "paced-nolf": dict(lf=False, what="no line break, 11,520 B/s"),
}
ALL_SHAPES = list(BLASTS) + list(STREAMS) + ["idle"]
PRINTABLE = bytes(range(0x20, 0x7F))

# --------------------------------------------------------------------------------------------
# data
# --------------------------------------------------------------------------------------------


def numbered_chunks(count, body, lf):
    """count pieces of printable text, each body bytes plus an LF when lf, each starting with
    its number so that a screenshot shows how far a program got."""
    pattern = PRINTABLE * (body // len(PRINTABLE) + 2)
    out = []
    for k in range(count):
        head = b"%07d " % k
        off = k % len(PRINTABLE)
        out.append(head + pattern[off:off + body - len(head)] + (b"\n" if lf else b""))
    return b"".join(out)


def ls_color_lines(size, escapes):
    """Lines as ls --color writes them, eight names each between an SGR pair, as many as make
    size bytes with the escapes; without them, the same lines as they are shown."""
    colours = [b"01;34", b"01;36", b"01;32", b"00", b"01;31", b"40;33;01"]
    out = []
    total = 0
    k = 0
    while total < size:
        words = []
        shown = []
        for w in range(8):
            name = b"name%05d" % ((k * 8 + w) % 100000)
            words.append(b"\x1b[%sm%s\x1b[0m" % (colours[(k + w) % len(colours)], name))
            shown.append(name)
        line = b"  ".join(words) + b"\r\n"
        total += len(line)
        out.append(line if escapes else b"  ".join(shown) + b"\r\n")
        k += 1
    return b"".join(out)


def blast_data(shape):
    what = BLASTS[shape]
    if what["line"] in ("ls", "ls-plain"):
        return ls_color_lines(what["size"], what["line"] == "ls")
    if what["line"]:
        line = what["line"]
        data = numbered_chunks(what["size"] // line + 1, line - 1, True)[:what["size"]]
        return data[:-1] + b"\n"
    tail = b"#END-OF-BLAST-C#"
    n = what["size"] - len(tail)
    data = (PRINTABLE * (n // len(PRINTABLE) + 1))[:n] + tail
    assert b"\n" not in data and b"\r" not in data
    return data


def blast_file(workdir, shape):
    path = os.path.join(workdir, "blast-%s.bin" % shape)
    if not os.path.exists(path):
        with open(path + ".tmp", "wb") as f:
            f.write(blast_data(shape))
        os.replace(path + ".tmp", path)
    return path, os.path.getsize(path)


# --------------------------------------------------------------------------------------------
# /proc
# --------------------------------------------------------------------------------------------


def proc_cpu(pid):
    """CPU time of a process, all its threads, in seconds; None once it is gone. The
    scheduler's own count (nanoseconds) where there is one, since the clock-tick count of
    /proc/PID/stat cannot tell 0.1 % from 0.2 % of a core in a minute."""
    total = 0
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return None
    for t in tasks:
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, t)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            break
    else:
        return total / 1e9
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            s = f.read()
    except OSError:
        return None
    fields = s[s.rfind(b")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def proc_status_kb(pid, key):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def machine_busy():
    """(busy jiffies, all jiffies) over every core."""
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:]]
    idle = v[3] + (v[4] if len(v) > 4 else 0)
    return sum(v) - idle, sum(v)


def other_cores(busy0, busy1, own_cpu_s, seconds):
    """Average number of cores busy with anything but the program and its X server."""
    ncpu = os.cpu_count() or 1
    busy = ncpu * (busy1[0] - busy0[0]) / max(1, busy1[1] - busy0[1])
    return max(0.0, busy - own_cpu_s / max(1e-6, seconds))


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def holds(pid, path):
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == path:
                    return True
            except OSError:
                pass
    except OSError:
        pass
    return False


def remove_locks_of(pid):
    """Lock files (/run/lock/LCK..*) left by a program we started and then ended."""
    for d in ("/run/lock", "/var/lock"):
        try:
            names = os.listdir(d)
        except OSError:
            continue
        for n in names:
            if not n.startswith("LCK.."):
                continue
            p = os.path.join(d, n)
            try:
                with open(p) as f:
                    first = f.read(64).split()
                if first and first[0] == str(pid):
                    os.unlink(p)
            except (OSError, UnicodeDecodeError):
                pass


# --------------------------------------------------------------------------------------------
# the far end: a pseudo-terminal pair
# --------------------------------------------------------------------------------------------


class Pty:
    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        attrs = termios.tcgetattr(self.slave)
        attrs[4] = attrs[5] = termios.B115200
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        self.dev = os.ttyname(self.slave)
        self._stop = False
        # What the program sends towards the device is read and dropped, so it never blocks.
        self._drain = threading.Thread(target=self._drain_loop, daemon=True)
        self._drain.start()

    def _drain_loop(self):
        while not self._stop:
            try:
                r, _, _ = select.select([self.master], [], [], 0.2)
                if r:
                    os.read(self.master, 65536)
            except OSError:
                time.sleep(0.05)

    def inq(self):
        """Bytes in the slave's input queue that the program has not read yet."""
        buf = fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0")
        return struct.unpack("i", buf)[0]

    def set_nonblocking(self, on):
        fl = fcntl.fcntl(self.master, fcntl.F_GETFL)
        fcntl.fcntl(self.master, fcntl.F_SETFL, fl | os.O_NONBLOCK if on else fl & ~os.O_NONBLOCK)

    def close(self):
        self._stop = True
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


# --------------------------------------------------------------------------------------------
# X: a private Xvfb, xdotool, and the ping that times the event loop
# --------------------------------------------------------------------------------------------


class XServer:
    def __init__(self, logdir):
        # Xvfb picks a free display itself and says which (-displayfd): choosing one here
        # could race another test's server for the same number and end up on that one.
        self.log = open(os.path.join(logdir, "xvfb.log"), "wb")
        rfd, wfd = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(wfd), "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp"],
                stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                pass_fds=(wfd,), start_new_session=True)
            os.close(wfd)
            wfd = None
            number = b""
            deadline = time.monotonic() + 15
            while not number.endswith(b"\n"):
                r, _, _ = select.select([rfd], [], [], max(0.0, deadline - time.monotonic()))
                chunk = os.read(rfd, 16) if r else b""
                if not chunk:
                    self.stop()
                    raise RuntimeError("Xvfb did not start (see %s)" % self.log.name)
                number += chunk
        finally:
            os.close(rfd)
            if wfd is not None:
                os.close(wfd)
        self.display = ":%d" % int(number)

    def env(self):
        e = dict(os.environ)
        e["DISPLAY"] = self.display
        return e

    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env(),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        if check and r.returncode != 0:
            raise RuntimeError("xdotool %s: %s" % (" ".join(map(str, args)),
                                                   r.stderr.decode().strip()))
        return r.stdout.decode()

    def windows_of(self, pid):
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                           env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           timeout=20)
        return [int(w) for w in r.stdout.split()]

    def screenshot(self, path):
        if shutil.which("import"):
            subprocess.run(["import", "-window", "root", path], env=self.env(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


class _XClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", _XClientMessage),
                ("pad", ctypes.c_long * 24)]


_libx11 = None


def libx11():
    global _libx11
    if _libx11 is None:
        name = ctypes.util.find_library("X11") or "libX11.so.6"
        lib = ctypes.CDLL(name)
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(_XEvent)]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XPending.argtypes = [ctypes.c_void_p]
        lib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(_XEvent)]
        lib.XConnectionNumber.argtypes = [ctypes.c_void_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        _libx11 = lib
    return _libx11


class StallProbe(threading.Thread):
    """Pings a window with _NET_WM_PING and keeps the slowest answer. The toolkit answers from
    the thread that runs the window's event loop, by sending the message back to the root
    window, where this connection listens for it."""

    CLIENT_MESSAGE = 33
    # Qt sends its answer to the root window for structure listeners, GTK for substructure ones.
    ROOT_MASK = (1 << 17) | (1 << 19)

    def __init__(self, display, window):
        super().__init__(daemon=True)
        self.x = libx11()
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display %s for the stall probe" % display)
        self.window = window
        self.root = self.x.XDefaultRootWindow(self.dpy)
        self.protocols = self.x.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        self.ping = self.x.XInternAtom(self.dpy, b"_NET_WM_PING", 0)
        self.x.XSelectInput(self.dpy, self.root, self.ROOT_MASK)
        self.x.XFlush(self.dpy)
        self.interval = None          # None: not pinging
        self.lock = threading.Lock()
        self.sent = {}
        self.seq = 0
        self.worst = 0.0
        self.answers = 0
        self.quit = False
        self.start()

    def measure(self, interval):
        """Starts a measurement: pings every interval seconds from now."""
        with self.lock:
            self.sent.clear()
            self.worst = 0.0
            self.answers = 0
            self.interval = interval

    def result(self):
        """Stops pinging; the slowest answer in ms, an unanswered ping counting its age so
        far. None when no ping was answered at all."""
        time.sleep(0.05)
        with self.lock:
            self.interval = None
            now = time.monotonic()
            worst = max([self.worst] + [now - t for t in self.sent.values()])
            answered = self.answers
            self.sent.clear()
        return round(1000 * worst) if answered else None

    def run(self):
        fd = self.x.XConnectionNumber(self.dpy)
        next_ping = time.monotonic()
        while not self.quit:
            now = time.monotonic()
            with self.lock:
                interval = self.interval
                if interval is not None and now >= next_ping:
                    self.seq += 1
                    out = _XEvent()
                    out.xclient.type = self.CLIENT_MESSAGE
                    out.xclient.window = self.window
                    out.xclient.message_type = self.protocols
                    out.xclient.format = 32
                    out.xclient.l[0] = self.ping
                    out.xclient.l[1] = self.seq
                    out.xclient.l[2] = self.window
                    self.x.XSendEvent(self.dpy, self.window, 0, 0, ctypes.byref(out))
                    self.x.XFlush(self.dpy)
                    self.sent[self.seq] = now
                    next_ping = now + interval
                elif interval is None:
                    next_ping = now
            # Sending may have read an answer off the socket into the library's queue, where
            # select() would not see it: take what is queued before waiting.
            self._take_answers()
            wait = 0.05 if interval is None else max(0.0, next_ping - time.monotonic())
            select.select([fd], [], [], wait)
            self._take_answers()

    def _take_answers(self):
        ev = _XEvent()
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, ctypes.byref(ev))
            if ev.type != self.CLIENT_MESSAGE or ev.xclient.message_type != self.protocols \
                    or ev.xclient.l[0] != self.ping:
                continue
            t = time.monotonic()
            with self.lock:
                sent = self.sent.pop(ev.xclient.l[1] & 0xFFFFFFFF, None)
                if sent is not None:
                    self.worst = max(self.worst, t - sent)
                    self.answers += 1

    def close(self):
        self.quit = True
        self.join(2)
        self.x.XCloseDisplay(self.dpy)


# --------------------------------------------------------------------------------------------
# the programs
# --------------------------------------------------------------------------------------------


def dpkg_version(pkg):
    r = subprocess.run(["dpkg-query", "-W", "-f=${Version}", pkg], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL)
    return r.stdout.decode() or None


class Program:
    name = "?"
    package = None            # Debian package that brings it, for --install
    shim = True               # preload the modem-line shim
    has_hex = False
    open_keys = []
    hex_keys = []
    needs_x = True

    def available(self):
        return shutil.which(self.argv_base()) is not None

    def argv_base(self):
        return self.name

    def prepare(self, run):
        """Writes settings into run.home before the program starts."""

    def argv(self, run):
        return [self.argv_base()]

    def after_window(self, run):
        """Once the main window is shown, resized and focused."""

    def version(self):
        return dpkg_version(self.package) if self.package else None


class Velmir(Program):
    name = "velmir"
    shim = False
    has_hex = True
    open_keys = ["F12"]
    hex_keys = ["ctrl+h"]

    def __init__(self, path, name="velmir"):
        self.path = path
        self.name = name

    def available(self):
        return os.access(self.path, os.X_OK)

    def argv_base(self):
        return self.path

    def prepare(self, run):
        # The port is opened as a user would: COM1 linked to the device, 115200 bit/s. The
        # program keeps its settings under the name it was started by.
        name = os.path.splitext(os.path.basename(self.path))[0]
        app = os.path.join(run.home, ".config", name)
        os.makedirs(os.path.join(app, "ports"), exist_ok=True)
        with open(os.path.join(app, name + ".ini"), "w") as f:
            f.write("[Setting]\nComport=COM1\nBaud=115200\n")
        os.symlink(run.dev, os.path.join(app, "ports", "COM1"))

    def version(self):
        r = subprocess.run(["git", "-C", REPO, "describe", "--always", "--dirty"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return r.stdout.decode().strip() or None


class CuteCom(Program):
    """CuteCom 0.51: the session is written to ~/.config/CuteCom/CuteCom5.conf (the device,
    115200 8N1, no flow control, no reconnect); Alt+O opens, Alt+X ticks hex output."""
    name = "cutecom"
    package = "cutecom"
    has_hex = True
    open_keys = ["alt+o"]
    hex_keys = ["alt+x"]

    def prepare(self, run):
        d = os.path.join(run.home, ".config", "CuteCom")
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "CuteCom5.conf"), "w") as f:
            f.write("[CuteCom]\nsession=Default\nLogFileLocation=%s\n\n[sessions]\n"
                    "1\\BaudRate=115200\n1\\DataBits=8\n1\\Parity=0\n1\\StopBits=1\n"
                    "1\\FlowControl=0\n1\\OpenMode=3\n1\\Device=%s\n1\\autoReconnect=false\n"
                    "1\\name=Default\n1\\showCtrlCharacters=false\n1\\showTimestamp=false\n"
                    "size=1\n" % (os.path.join(run.dir, "cutecom-rx.log"), run.dev))


class GTKTerm(Program):
    """GTKTerm 1.2.1: the port on the command line and ~/.config/.gtktermrc written (no
    first-run dialog; CR-LF auto on, so LF-only lines start at the left). It drops a port that
    udev does not know (a pty) right after start-up, so F5 opens it again."""
    name = "gtkterm"
    package = "gtkterm"
    open_keys = ["F5"]

    def prepare(self, run):
        with open(os.path.join(run.home, ".config", ".gtktermrc"), "w") as f:
            f.write("[default]\nport\t= %s\nspeed\t= 115200\nbits\t= 8\nstopbits\t= 1\n"
                    "parity\t= none\nflow\t= none\nwait_delay\t= 0\nwait_char\t= -1\n"
                    "rs485_rts_time_before_tx\t= 30\nrs485_rts_time_after_tx\t= 30\n"
                    "echo\t= False\ncrlfauto\t= True\ntimestamp\t= False\n"
                    "font\t= \"Monospace 12\"\nterm_block_cursor\t= True\n"
                    "term_rows\t= 80\nterm_columns\t= 25\nterm_scrollback\t= 10000\n"
                    "term_visual_bell\t= True\n" % run.dev)

    def argv(self, run):
        return ["gtkterm", "--port", run.dev, "--speed", "115200", "--bits", "8",
                "--stopbits", "1"]

    def after_window(self, run):
        time.sleep(0.5)   # let the start-up check drop the port before F5 opens it


class Cat(Program):
    """The floor: cat reading the slave into /dev/null."""
    name = "cat"
    shim = False
    needs_x = False

    def argv(self, run):
        return ["cat", run.dev]

    def version(self):
        return "coreutils " + (dpkg_version("coreutils") or "?")


# --------------------------------------------------------------------------------------------
# one session: pty, X server and program, the port open
# --------------------------------------------------------------------------------------------


class Run:
    def __init__(self, workdir, program, shape, rep):
        self.rep = rep
        self.dir = os.path.join(workdir, "runs", "%s-%s-%d" % (program.name, shape, rep))
        shutil.rmtree(self.dir, ignore_errors=True)
        self.home = os.path.join(self.dir, "home")
        os.makedirs(os.path.join(self.home, ".config"))
        os.makedirs(os.path.join(self.home, "rt"), mode=0o700)
        self.dev = None
        self.x = None
        self.pid = None
        self.win = None


class Session:
    def __init__(self, ctx, program, shape, rep):
        self.ctx = ctx
        self.p = program
        self.shape = shape
        # Our program only: profiled during the measured phase alone.
        self.callgrind = ctx.callgrind if isinstance(program, Velmir) else None
        self.perf_dir = ctx.perf if isinstance(program, Velmir) else None
        self.perf = None
        self.run = Run(ctx.workdir, program, shape, rep)
        self.pty = None
        self.proc = None
        self.probe = None
        self.out = None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def env(self):
        run = self.run
        e = {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "LANG": "C.UTF-8",
            "HOME": run.home,
            "XDG_CONFIG_HOME": os.path.join(run.home, ".config"),
            "XDG_RUNTIME_DIR": os.path.join(run.home, "rt"),
            "NO_AT_BRIDGE": "1",
            # no session bus is started for each run
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=%s/rt/no-bus" % run.home,
        }
        if run.x:
            e["DISPLAY"] = run.x.display
        if self.p.shim:
            e["LD_PRELOAD"] = self.ctx.shim
        return e

    def _start(self):
        run, p = self.run, self.p
        self.pty = Pty()
        run.dev = self.pty.dev
        if p.needs_x:
            run.x = XServer(run.dir)
        p.prepare(run)
        argv = p.argv(run)
        if self.callgrind:
            argv = ["valgrind", "--tool=callgrind", "--instr-atstart=no",
                    "--callgrind-out-file=%s/callgrind.out.%s-%s-%d.%%p"
                    % (self.callgrind, p.name, self.shape, run.rep)] + argv
        self.out = open(os.path.join(run.dir, "program.log"), "wb")
        self.proc = subprocess.Popen(argv, env=self.env(), cwd=run.dir, stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=self.out, start_new_session=True)
        run.pid = self.proc.pid
        if p.needs_x:
            start_timeout = START_TIMEOUT * (6 if self.callgrind else 1)
            deadline = time.monotonic() + start_timeout
            wins = []
            while not wins:
                if self.proc.poll() is not None:
                    raise RuntimeError("%s exited at start (status %s)"
                                       % (p.name, self.proc.returncode))
                if time.monotonic() > deadline:
                    raise RuntimeError("%s showed no window in %d s" % (p.name, start_timeout))
                time.sleep(0.2)
                wins = run.x.windows_of(run.pid)
            time.sleep(0.5)
            run.win = run.x.windows_of(run.pid)[0]
            run.x.xdo("windowsize", "--sync", run.win, WIN_W, WIN_H, check=False)
            run.x.xdo("windowfocus", "--sync", run.win, check=False)
            p.after_window(run)
        for _ in range(3):
            self.keys(p.open_keys)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and not self.holds_port():
                time.sleep(0.1)
            time.sleep(1.0)               # still open a second later?
            if self.holds_port():
                break
        else:
            raise RuntimeError("%s did not keep %s open" % (p.name, run.dev))
        if p.needs_x:
            extra = [w for w in run.x.windows_of(run.pid) if w != run.win]
            if extra:
                raise RuntimeError("%s shows another window (an error message?) after opening "
                                   "the port" % p.name)
            self.probe = StallProbe(run.x.display, run.win)

    def keys(self, keys):
        for k in keys:
            self.run.x.xdo("windowfocus", "--sync", self.run.win, check=False)
            self.run.x.xdo("key", "--window", self.run.win, k)
            time.sleep(0.3)

    def holds_port(self):
        return holds(self.run.pid, self.run.dev)

    def alive(self):
        return self.proc.poll() is None

    def cpu(self):
        return proc_cpu(self.run.pid) or 0.0

    def xcpu(self):
        return (proc_cpu(self.run.x.proc.pid) or 0.0) if self.run.x else 0.0

    def hwm_kb(self):
        return proc_status_kb(self.run.pid, "VmHWM")

    def begin(self, ping_interval):
        """The measured phase starts: pings (unless None) and, under callgrind, counting."""
        if self.callgrind:
            self.callgrind_control("-z")
            self.callgrind_control("-i", "on")
        if self.perf_dir:
            out = os.path.join(self.perf_dir, "perf.%s-%s-%d.data"
                               % (self.p.name, self.shape, self.run.rep))
            events = [x for e in self.ctx.perf_events for x in ("-e", e)]
            self.perf = subprocess.Popen(
                # Debian's Qt keeps no frame pointers: the stacks come from DWARF unwinding.
                ["perf", "record", "-q", "--call-graph", "dwarf", "-F", str(self.ctx.perf_freq),
                 "-o", out] + events
                + ["-p", str(self.run.pid)],
                stdout=subprocess.DEVNULL, stderr=self.out)
            time.sleep(0.5)               # attached before the first byte
        if self.probe and ping_interval:
            self.probe.measure(ping_interval)

    def end(self):
        """The measured phase ends; returns the longest stall in ms, if pinged."""
        stall = self.probe.result() if self.probe and self.probe.interval else None
        if self.callgrind:
            self.callgrind_control("-i", "off")
            self.callgrind_control("-d", "%s-%s" % (self.p.name, self.shape))
        self.stop_perf()
        return stall

    def stop_perf(self):
        if self.perf and self.perf.poll() is None:
            self.perf.send_signal(signal.SIGINT)
            try:
                self.perf.wait(30)
            except subprocess.TimeoutExpired:
                self.perf.kill()
                self.perf.wait()
        self.perf = None

    def callgrind_control(self, *args):
        subprocess.run(["callgrind_control"] + list(args) + [str(self.run.pid)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def probe_line(self, label):
        """One line first, so that whatever a program does on its first data is done before
        the measurement starts."""
        os.write(self.pty.master, b"SIDE-BY-SIDE %s\n" % label.encode())
        self.wait_idle()

    def wait_idle(self, max_s=15.0):
        hist = []
        deadline = time.monotonic() + max_s
        while time.monotonic() < deadline:
            now = time.monotonic()
            hist.append((now, self.cpu()))
            old = [h for h in hist if h[0] <= now - IDLE_WINDOW]
            if old and self.pty.inq() == 0 and \
                    hist[-1][1] - old[-1][1] < IDLE_FRACTION * (now - old[-1][0]):
                return True
            time.sleep(0.05)
        return False

    def screenshot(self, name):
        if self.run.x and self.ctx.keep:
            self.run.x.screenshot(os.path.join(self.run.dir, name))

    def __exit__(self, *exc):
        self.stop_perf()
        if self.probe:
            self.probe.close()
        if self.proc and self.proc.poll() is None:
            # The program and anything it started live in their own session.
            try:
                os.killpg(self.proc.pid, signal.SIGTERM)
            except OSError:
                pass
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(self.proc.pid, signal.SIGKILL)
                except OSError:
                    pass
                self.proc.wait()
        if self.proc:
            remove_locks_of(self.proc.pid)
        if self.out:
            self.out.close()
        if self.run.x:
            self.run.x.stop()
        if self.pty:
            self.pty.close()
        return False


# --------------------------------------------------------------------------------------------
# measurements
# --------------------------------------------------------------------------------------------


def measure_blast(ctx, program, shape, rep):
    path, size = blast_file(ctx.workdir, shape)
    with Session(ctx, program, shape, rep) as s:
        if BLASTS[shape]["hex"]:
            s.keys(program.hex_keys)
        s.probe_line("%s %s %d" % (program.name, shape, rep))
        s.screenshot("before.png")
        cpu0, x0, busy0 = s.cpu(), s.xcpu(), machine_busy()
        s.begin(PING_BLAST)
        t0 = time.monotonic()
        writer = subprocess.Popen(["cat", path], stdin=subprocess.DEVNULL, stdout=s.pty.master,
                                  stderr=subprocess.DEVNULL)
        t_written = None
        hist = [(t0, cpu0)]
        status, done_t, first = "timeout", None, 0
        try:
            while True:
                time.sleep(BLAST_SAMPLE)
                now, c = time.monotonic(), s.cpu()
                hist.append((now, c))
                if t_written is None and writer.poll() is not None:
                    t_written = now
                    if writer.returncode != 0:
                        status = "writer failed"
                        break
                if not s.alive():
                    status = "program exited"
                    break
                while first + 1 < len(hist) and hist[first + 1][0] <= now - IDLE_WINDOW:
                    first += 1
                if t_written is not None and hist[first][0] <= now - IDLE_WINDOW \
                        and s.pty.inq() == 0 and c - hist[first][1] < IDLE_FRACTION * (
                            now - hist[first][0]):
                    # done: after this moment the program used at most DONE_SLACK more
                    k = len(hist) - 1
                    while k > 0 and c - hist[k - 1][1] <= DONE_SLACK:
                        k -= 1
                    done_t = max(hist[k][0], t_written)
                    status = "ok"
                    break
                if now - t0 > ctx.timeout:
                    break
        finally:
            if writer.poll() is None:
                writer.kill()
            writer.wait()
        now = time.monotonic()
        stall = s.end()
        app_cpu, x_cpu = s.cpu() - cpu0, s.xcpu() - x0
        if status == "ok":
            # The idle second that proved the end is not part of the work.
            note = None
        else:
            note = "%d of %d bytes read" % (size - s.pty.inq(), size)
        out = {
            "program": program.name, "shape": shape, "rep": rep, "status": status,
            "wall_s": round((done_t or now) - t0, 3),
            "app_cpu": round(app_cpu, 2), "x_cpu": round(x_cpu, 2),
            "hwm_mib": (s.hwm_kb() or 0) / 1024, "stall_ms": stall,
            "other_cores": round(other_cores(busy0, machine_busy(), app_cpu + x_cpu, now - t0), 2),
            "note": note,
        }
        s.screenshot("after.png")
    return out


class StreamWriter(threading.Thread):
    """Writes chunk k at t0 + k / 144 s through a non-blocking master, so a slow reader cannot
    slow the schedule: what the pty does not take stays due, and each refusal is counted. A
    writer that is itself late (a busy machine) catches up for at most STREAM_GRACE seconds
    after the schedule ends."""

    def __init__(self, fd, data, t0, t_stop):
        super().__init__(daemon=True)
        self.fd, self.data, self.t0, self.t_stop = fd, memoryview(data), t0, t_stop
        self.per_s = PACED_RATE / STREAM_CHUNK
        self.written = 0
        self.refused = 0
        self.error = None
        self.start()

    def due(self, now):
        k = int((now - self.t0) * self.per_s) + 1
        return min(len(self.data), max(0, k) * STREAM_CHUNK)

    def run(self):
        give_up = self.t_stop + STREAM_GRACE
        while self.written < len(self.data):
            now = time.monotonic()
            if now >= give_up:
                break
            due = self.due(now)
            if self.written < due:
                try:
                    self.written += os.write(self.fd, self.data[self.written:due])
                except BlockingIOError:
                    # The pty is full: the program is behind. A full master does not always
                    # say when it has room again, so poll.
                    self.refused += 1
                    select.select([], [self.fd], [], 0.01)
                except OSError as e:
                    self.error = str(e)
                    break
                continue
            nxt = self.t0 + (due // STREAM_CHUNK) / self.per_s
            time.sleep(max(0.0, nxt - time.monotonic()))


def measure_stream(ctx, program, shape, rep):
    lf = STREAMS[shape]["lf"]
    per_s = PACED_RATE / STREAM_CHUNK
    n_chunks = int(round(ctx.paced_seconds * per_s))
    data = numbered_chunks(n_chunks, STREAM_CHUNK - 1 if lf else STREAM_CHUNK, lf)
    seconds = n_chunks / per_s
    with Session(ctx, program, shape, rep) as s:
        s.probe_line("%s %s %d" % (program.name, shape, rep))
        s.pty.set_nonblocking(True)
        windows = []
        status = "ok"
        try:
            c0, x0, busy0 = s.cpu(), s.xcpu(), machine_busy()
            s.begin(PING_STREAM)
            t0 = time.monotonic()
            t_stop = t0 + seconds
            w = StreamWriter(s.pty.master, data, t0, t_stop)
            win = (t0, c0)
            while True:
                t_win = min(win[0] + STREAM_WINDOW, t_stop)
                time.sleep(max(0.0, t_win - time.monotonic()))
                if not s.alive():
                    status = "program exited"
                    break
                now, c = time.monotonic(), s.cpu()
                windows.append(round(100 * (c - win[1]) / max(1e-6, now - win[0]), 1))
                win = (now, c)
                if now >= t_stop:
                    break
            t1 = time.monotonic()
            inq_end = s.pty.inq()
            c1, x1, busy1 = s.cpu(), s.xcpu(), machine_busy()
            stall = s.end()
            w.join(STREAM_GRACE + 5)
            caught_up = s.wait_idle(CATCH_UP_MAX) if s.alive() else False
        finally:
            s.pty.set_nonblocking(False)
        shortfall = len(data) - w.written
        kept_up = status == "ok" and shortfall == 0 and w.refused == 0
        if status == "ok" and not kept_up:
            status = "fell behind"
        elif status == "ok" and not caught_up:
            status = "busy after"
        shown = ["%.1f" % v for v in windows]
        if len(shown) > 6:
            shown = shown[:3] + ["..."] + shown[-2:]
        note = "per %g s: %s %%" % (STREAM_WINDOW, " ".join(shown) or "-")
        out = {
            "program": program.name, "shape": shape, "rep": rep, "status": status,
            "wall_s": None,
            "app_cpu": round(100 * (c1 - c0) / (t1 - t0), 2),
            "x_cpu": round(100 * (x1 - x0) / (t1 - t0), 2),
            "hwm_mib": (s.hwm_kb() or 0) / 1024, "stall_ms": stall,
            "other_cores": round(other_cores(busy0, busy1, c1 - c0 + x1 - x0, t1 - t0), 2),
            "windows": windows, "shortfall": shortfall, "refused": w.refused,
            "inq_end": inq_end,
            "writer_error": w.error, "note": note,
        }
        s.screenshot("after.png")
    return out


def measure_idle(ctx, program, rep):
    with Session(ctx, program, "idle", rep) as s:
        s.probe_line("%s idle %d" % (program.name, rep))
        # No pings here: answering them would be most of what an idle window does.
        s.begin(None)
        c0, x0, busy0, t0 = s.cpu(), s.xcpu(), machine_busy(), time.monotonic()
        time.sleep(ctx.idle_seconds)
        c1, x1, busy1, t1 = s.cpu(), s.xcpu(), machine_busy(), time.monotonic()
        s.end()
        status = "ok" if s.alive() and s.holds_port() else "port closed"
        return {
            "program": program.name, "shape": "idle", "rep": rep, "status": status,
            "wall_s": None,
            "app_cpu": round(100 * (c1 - c0) / (t1 - t0), 2),
            "x_cpu": round(100 * (x1 - x0) / (t1 - t0), 2),
            "hwm_mib": (s.hwm_kb() or 0) / 1024, "stall_ms": None,
            "other_cores": round(other_cores(busy0, busy1, c1 - c0 + x1 - x0, t1 - t0), 2),
            "note": "%g s" % ctx.idle_seconds,
        }


# --------------------------------------------------------------------------------------------
# the table
# --------------------------------------------------------------------------------------------


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def cell(value, fmt, spread=None):
    if value is None:
        return "-"
    text = fmt % value
    if spread and len(spread) > 1:
        text += " (%s-%s)" % (fmt % min(spread), fmt % max(spread))
    return text


def print_table(rows, programs, shapes, versions, out=sys.stdout):
    head = ("program", "shape", "n", "wall s", "app CPU", "X CPU", "peak RSS", "stall ms",
            "other", "status / note")
    lines = [head]
    for shape in shapes:
        unit = "%.2f s" if shape in BLASTS else "%.1f %%" if shape in STREAMS else "%.2f %%"
        for name in programs:
            rs = [r for r in rows if r["program"] == name and r["shape"] == shape]
            if not rs:
                continue
            good = [r for r in rs if r.get("status") not in (None, "error", "skipped")
                    and "error" not in r.get("status", "")] or rs
            walls = [r.get("wall_s") for r in good if r.get("wall_s") is not None]
            statuses = sorted(set(r["status"] for r in rs))
            notes = [r.get("note") for r in rs if r.get("note")]
            lines.append((
                name, shape, str(len(rs)),
                cell(median(walls), "%.2f", walls),
                cell(median([r.get("app_cpu") for r in good]), unit),
                cell(median([r.get("x_cpu") for r in good]), unit),
                cell(median([r.get("hwm_mib") for r in good]), "%.0f MiB"),
                cell(max([r["stall_ms"] for r in good if r.get("stall_ms") is not None],
                         default=None), "%d"),
                cell(median([r.get("other_cores") for r in good]), "%.2f"),
                ",".join(statuses) + ("; " + notes[-1] if notes else ""),
            ))
    widths = [max(len(line[i]) for line in lines) for i in range(len(head) - 1)]
    for line in lines:
        print("  ".join(c.ljust(w) for c, w in zip(line, widths)) + "  " + line[-1], file=out)
    print(file=out)
    print("wall s: blasts, median (min-max) from the first byte until the program is idle; "
          "app CPU / X CPU: seconds for a blast, % of one core for paced and idle; peak RSS: "
          "VmHWM; stall ms: slowest answer of the window to a ping, the worst repetition; "
          "other: cores busy with anything else meanwhile.", file=out)
    for name in programs:
        if versions.get(name):
            print("%s: %s" % (name, versions[name]), file=out)


# --------------------------------------------------------------------------------------------
# set-up
# --------------------------------------------------------------------------------------------


def build_shim(workdir):
    out = os.path.join(workdir, "ptymodem_shim.so")
    r = subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", out, SHIM_SRC, "-ldl"],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        sys.exit("side_by_side: building %s failed:\n%s" % (SHIM_SRC, r.stdout.decode()))
    return out


def install(packages):
    """apt-get install -y, as root or through sudo."""
    missing = [p for p in packages if not dpkg_version(p)]
    if not missing:
        return
    cmd = []
    if os.geteuid() != 0:
        if not shutil.which("sudo"):
            sys.exit("side_by_side: installing %s needs root or sudo" % " ".join(missing))
        cmd = ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    print("installing %s" % " ".join(missing), file=sys.stderr, flush=True)
    r = subprocess.run(cmd + ["apt-get", "install", "-y", "--no-install-recommends"] + missing,
                       env=env)
    if r.returncode != 0:
        # The package lists may be missing or stale on a fresh machine.
        subprocess.run(cmd + ["apt-get", "update"], env=env, check=True)
        subprocess.run(cmd + ["apt-get", "install", "-y", "--no-install-recommends"] + missing,
                       env=env, check=True)


class Context:
    pass


def _terminate(signum, frame):
    raise SystemExit("side_by_side: stopped by signal %d" % signum)


def main():
    signal.signal(signal.SIGTERM, _terminate)
    signal.signal(signal.SIGINT, _terminate)
    signal.signal(signal.SIGHUP, _terminate)
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--programs", default="velmir,cutecom,gtkterm",
                    help="comma-separated: velmir, cutecom, gtkterm, cat (default %(default)s)")
    ap.add_argument("--shapes", default=",".join(ALL_SHAPES),
                    help="comma-separated, from %s (default: all)" % ", ".join(ALL_SHAPES))
    ap.add_argument("--reps", type=int, help="repetitions of each (default 3, quick 1)")
    ap.add_argument("--paced-seconds", type=float,
                    help="length of each paced stream (default 60, quick 20)")
    ap.add_argument("--idle-seconds", type=float,
                    help="length of the idle measurement (default 30, quick 10)")
    ap.add_argument("--timeout", type=float, default=180.0,
                    help="longest a blast may take before it counts as not absorbed")
    ap.add_argument("--quick", action="store_true",
                    help="one repetition, 20-s paced streams, 10 s idle, unless given")
    ap.add_argument("--install", action="store_true",
                    help="install CuteCom and GTKTerm with apt-get where missing")
    ap.add_argument("--velmir", action="append", metavar="[LABEL=]PATH",
                    help="our program (default build-rel/velmir-rs232); give it again, with a "
                         "label, to set builds side by side, e.g. --velmir old=/tmp/velmir-old")
    ap.add_argument("--dir", help="work directory (default: a new temporary one, removed)")
    ap.add_argument("--keep", action="store_true",
                    help="keep the work directory, with screenshots and program logs")
    ap.add_argument("--json", help="also write every run as one JSON line to this file")
    ap.add_argument("--callgrind", metavar="DIR",
                    help="run our program under valgrind --tool=callgrind, counting only while "
                         "a shape is measured; profiles go to DIR (its figures in the table "
                         "are then callgrind's, not the program's)")
    ap.add_argument("--perf", metavar="DIR",
                    help="sample our program with perf record -g while a shape is measured; "
                         "profiles go to DIR")
    ap.add_argument("--perf-freq", type=int, default=999,
                    help="samples a second for --perf (default %(default)s)")
    ap.add_argument("--perf-events", default="cpu-clock",
                    help="comma-separated events for --perf (default %(default)s; uprobes "
                         "made with perf probe count calls)")
    a = ap.parse_args()
    a.reps = a.reps or (1 if a.quick else 3)
    a.paced_seconds = a.paced_seconds or (20.0 if a.quick else 60.0)
    a.idle_seconds = a.idle_seconds or (10.0 if a.quick else 30.0)

    builds = []
    for given in a.velmir or [os.path.join(REPO, "build-rel", "velmir-rs232")]:
        label, _, path = given.rpartition("=")
        builds.append(Velmir(os.path.abspath(path), label or "velmir"))
    if len(set(b.name for b in builds)) != len(builds):
        ap.error("give each build of our program its own label")
    makers = {"velmir": lambda: builds, "cutecom": lambda: [CuteCom()],
              "gtkterm": lambda: [GTKTerm()], "cat": lambda: [Cat()]}
    names = [n.strip() for n in a.programs.split(",") if n.strip()]
    shapes = [s.strip() for s in a.shapes.split(",") if s.strip()]
    for n in names:
        if n not in makers:
            ap.error("unknown program %r" % n)
    for s in shapes:
        if s not in ALL_SHAPES:
            ap.error("unknown shape %r" % s)
    programs = [p for n in names for p in makers[n]()]
    if a.install:
        install([p.package for p in programs if p.package])
    for tool in ("Xvfb", "xdotool", "cc", "cat"):
        if not shutil.which(tool):
            sys.exit("side_by_side: %s is missing (scripts/setup installs it)" % tool)
    libx11()
    usable = []
    for p in programs:
        if p.available():
            usable.append(p)
        elif p.package:
            print("skipping %s: not installed (--install installs it)" % p.name, file=sys.stderr)
        else:
            print("skipping %s: %s is not there (build it first)" % (p.name, p.argv_base()),
                  file=sys.stderr)
    if not usable:
        sys.exit("side_by_side: nothing to run")

    ctx = Context()
    ctx.workdir = os.path.abspath(a.dir) if a.dir else tempfile.mkdtemp(prefix="side-by-side-")
    os.makedirs(ctx.workdir, exist_ok=True)
    ctx.keep = a.keep or bool(a.dir)
    ctx.timeout, ctx.paced_seconds, ctx.idle_seconds = a.timeout, a.paced_seconds, a.idle_seconds
    ctx.callgrind = None
    ctx.perf = None
    ctx.perf_events = [e for e in a.perf_events.split(",") if e]
    ctx.perf_freq = a.perf_freq
    if a.perf:
        if not shutil.which("perf"):
            sys.exit("side_by_side: --perf needs perf (apt-get install linux-perf)")
        ctx.perf = os.path.abspath(a.perf)
        os.makedirs(ctx.perf, exist_ok=True)
    if a.callgrind:
        if not shutil.which("valgrind") or not shutil.which("callgrind_control"):
            sys.exit("side_by_side: --callgrind needs valgrind (apt-get install valgrind)")
        ctx.callgrind = os.path.abspath(a.callgrind)
        os.makedirs(ctx.callgrind, exist_ok=True)
        ctx.timeout *= 10
    rows = []
    jsonf = open(a.json, "a") if a.json else None
    load_start = loadavg()
    try:
        ctx.shim = build_shim(ctx.workdir)
        print("load average at start: %s; work directory %s" % (load_start, ctx.workdir),
              file=sys.stderr, flush=True)
        # Programs take turns within each repetition, so the machine's noise hits all alike.
        for rep in range(1, a.reps + 1):
            for shape in shapes:
                for p in usable:
                    if shape in BLASTS and BLASTS[shape]["hex"] and not p.has_hex:
                        continue
                    t = time.monotonic()
                    try:
                        if shape in BLASTS:
                            r = measure_blast(ctx, p, shape, rep)
                        elif shape in STREAMS:
                            r = measure_stream(ctx, p, shape, rep)
                        else:
                            r = measure_idle(ctx, p, rep)
                    except (RuntimeError, OSError, subprocess.SubprocessError) as e:
                        r = {"program": p.name, "shape": shape, "rep": rep,
                             "status": "error", "note": str(e)}
                    r["seconds_taken"] = round(time.monotonic() - t, 1)
                    rows.append(r)
                    if jsonf:
                        jsonf.write(json.dumps(r) + "\n")
                        jsonf.flush()
                    brief = {k: r.get(k) for k in ("program", "shape", "rep", "status", "wall_s",
                                                    "app_cpu", "x_cpu", "stall_ms", "note")}
                    print(json.dumps(brief), file=sys.stderr, flush=True)
    finally:
        if jsonf:
            jsonf.close()
        if rows:
            print()
            print("load average: %s at start, %s at the end; %d cores"
                  % (load_start, loadavg(), os.cpu_count() or 1))
            print_table(rows, [p.name for p in usable], shapes,
                        {p.name: p.version() for p in usable})
        if ctx.keep:
            print("work directory kept: %s" % ctx.workdir, file=sys.stderr)
        else:
            shutil.rmtree(ctx.workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
