#!/usr/bin/env python3
"""A paced line for the transfer benchmarks: a pseudo-terminal whose far end carries bytes both
ways at a fixed byte rate (11,520 B/s, a 115200 bit/s line at ten bits a byte) to and from a
program of lrzsz (rb unless named). Whoever sends opens the slave named on the first line printed
("SLAVE /dev/pts/N"). Ends when the program ends, with its exit status. A rate of 0 carries bytes
as fast as they come.

    modem_pacer.py FOLDER [BYTES_PER_SECOND [PROGRAM ARGUMENTS...]]   the program runs in FOLDER
"""
import fcntl
import os
import select
import subprocess
import sys
import termios
import time
import tty


class Pace:
    """Byte credit that grows with time at the line's rate; at most a small burst is ever taken at
    once, as a UART's FIFO would hold."""

    def __init__(self, rate):
        self.rate = rate
        self.credit = 0.0
        self.last = time.monotonic()
        self.burst = 64 if rate > 0 else 65536

    def update(self):
        now = time.monotonic()
        if self.rate > 0:
            self.credit = min(self.credit + (now - self.last) * self.rate, self.burst)
        else:
            self.credit = self.burst
        self.last = now

    def ready(self):
        return self.credit >= 1

    def wait(self):
        return 0.05 if self.ready() else max((1.0 - self.credit) / self.rate, 0.0)


def main():
    folder = sys.argv[1]
    rate = float(sys.argv[2]) if len(sys.argv) > 2 else 11520.0
    program = sys.argv[3:] or ["rb"]
    master, slave = os.openpty()
    tty.setraw(slave)
    print("SLAVE", os.ttyname(slave), flush=True)
    far = subprocess.Popen(program, cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, bufsize=0)
    to_far, from_far = far.stdin.fileno(), far.stdout.fileno()
    out_pace, in_pace = Pace(rate), Pace(rate)
    # Nothing here ever blocks: a write that would wait keeps its bytes for later, so that the
    # program writing while it is not read cannot hold up the other direction.
    for fd in (master, to_far):
        os.set_blocking(fd, False)
    pending = b""  # from the program, waiting for the line
    outgoing = b""  # from the line, waiting for the program
    far_open = True
    closed_at = None
    while far_open or pending:
        # The program's last answers get a few seconds to reach a sender that still reads.
        if not far_open:
            closed_at = closed_at or time.monotonic()
            if time.monotonic() - closed_at > 5:
                break
        out_pace.update()
        in_pace.update()
        watch = []
        if far_open and len(pending) < 65536:
            watch.append(from_far)
        if out_pace.ready() and len(outgoing) < 65536:
            watch.append(master)
        writes = []
        if pending and in_pace.ready():
            writes.append(master)
        if outgoing and far_open:
            writes.append(to_far)
        readable, writable, _ = select.select(
            watch, writes, [], min(out_pace.wait(), in_pace.wait() if pending else 0.05))
        if from_far in readable:
            answer = os.read(from_far, 65536)
            if answer:
                pending += answer
            else:
                far_open = False
        if master in writable:
            try:
                n = os.write(master, pending[:int(in_pace.credit)])
            except BlockingIOError:
                n = 0
            in_pace.credit -= n
            pending = pending[n:]
        if to_far in writable:
            try:
                n = os.write(to_far, outgoing)
            except BlockingIOError:
                n = 0
            except BrokenPipeError:
                far_open, n = False, len(outgoing)
            outgoing = outgoing[n:]
        if master in readable:
            try:
                data = os.read(master, int(out_pace.credit))
            except (BlockingIOError, OSError):
                data = b""
            out_pace.credit -= len(data)
            outgoing += data
    status = far.wait()
    # The program's last answer may still wait in the line for the sender: closing the
    # pseudo-terminal now would hang it up and drop that answer.
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        pending = fcntl.ioctl(slave, termios.FIONREAD, b"\0\0\0\0")
        if int.from_bytes(pending, sys.byteorder) == 0:
            break
        time.sleep(0.01)
    time.sleep(0.5)
    os.close(master)
    os.close(slave)
    sys.exit(status)


if __name__ == "__main__":
    main()
