#!/usr/bin/env python3
"""A paced line for the YMODEM benchmark: a pseudo-terminal whose far end is read at a fixed byte
rate (11,520 B/s, a 115200 bit/s line at ten bits a byte) and handed to lrzsz's rb, whose answers
go back as they come. Whoever sends opens the slave named on the first line printed
("SLAVE /dev/pts/N"). Ends when rb ends, with rb's exit status.

    modem_pacer.py FOLDER [BYTES_PER_SECOND]      rb receives into FOLDER
"""
import fcntl
import os
import select
import subprocess
import sys
import termios
import time
import tty


def main():
    folder = sys.argv[1]
    rate = float(sys.argv[2]) if len(sys.argv) > 2 else 11520.0
    master, slave = os.openpty()
    tty.setraw(slave)
    print("SLAVE", os.ttyname(slave), flush=True)
    rb = subprocess.Popen(["rb"], cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, bufsize=0)
    to_rb, from_rb = rb.stdin.fileno(), rb.stdout.fileno()
    # Byte credit grows with time at the line's rate; at most a small burst is ever read at once,
    # as a UART's FIFO would hold.
    credit, last = 0.0, time.monotonic()
    burst = 64
    while True:
        now = time.monotonic()
        credit = min(credit + (now - last) * rate, burst)
        last = now
        wait = max((1.0 - credit) / rate, 0.0)
        readable, _, _ = select.select([from_rb] + ([master] if credit >= 1 else []), [], [],
                                       wait if credit < 1 else 0.05)
        if from_rb in readable:
            answer = os.read(from_rb, 4096)
            if not answer:
                break
            os.write(master, answer)
        if master in readable:
            try:
                data = os.read(master, int(credit))
            except OSError:
                data = b""
            credit -= len(data)
            if data:
                try:
                    os.write(to_rb, data)
                except BrokenPipeError:
                    break
    status = rb.wait()
    # rb's last answer may still wait in the line for the sender: closing the pseudo-terminal
    # now would hang it up and drop that answer.
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
