#!/usr/bin/env python3
"""The far end of the soak run: a pseudo-terminal that floods the program with mixed data.

    soak_peer.py serve LINK STATE SEED   make the device, link LINK to it, then wait for SIGUSR1
                                         and send until SIGUSR2; totals go to STATE
    soak_peer.py verify FILE SEED BYTES  compare FILE byte for byte with the first BYTES of the
                                         stream of SEED; exit 0 when equal

The stream is a pure function of the seed, so the capture file can be checked against it
without keeping a copy: lines of text (ASCII and Chinese in code page 936), random binary
bytes (every value, CR and LF included), and long runs of text without a line break.
"""

import os
import random
import signal
import sys
import time
import tty

# Python's GBK has no euro sign; code page 936 puts it at 0x80.
WORDS = [w.encode("gbk") for w in (
    "OK", "ERROR", "AT+CSQ", "+CREG: 0,1", "RING", "NO CARRIER", "温度", "湿度", "电压",
    "串口测试", "数据", "帧", "0x7E", "checksum", "状态正常", "报警", "设备",
)] + [b"\x80 25"]


def blocks(seed):
    """Yields the stream's blocks, forever, the same for the same seed."""
    rng = random.Random(seed)
    while True:
        kind = rng.random()
        if kind < 0.45:
            # Lines of text, each ended by CR LF, LF or CR as devices do.
            lines = []
            for _ in range(rng.randint(20, 400)):
                words = [rng.choice(WORDS) for _ in range(rng.randint(1, 12))]
                lines.append(b" ".join(words) + rng.choice((b"\r\n", b"\r\n", b"\n", b"\r")))
            yield b"".join(lines)
        elif kind < 0.8:
            yield rng.randbytes(rng.randint(1, 64 * 1024))
        else:
            # A long line: printable text and Chinese with no break at all.
            size = rng.randint(16 * 1024, 256 * 1024)
            piece = b"".join(rng.choice(WORDS) for _ in range(64))
            yield (piece * (size // len(piece) + 1))[:size]


def write_all(fd, data):
    view = memoryview(data)
    while view:
        n = os.write(fd, view[:65536])
        view = view[n:]


def serve(link, state_path, seed):
    master, slave = os.openpty()
    # The peer keeps the slave open too, so the master never reads EIO between openings.
    tty.setraw(master)
    tty.setraw(slave)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)

    go = {"send": False, "stop": False}
    signal.signal(signal.SIGUSR1, lambda *_: go.update(send=True))
    signal.signal(signal.SIGUSR2, lambda *_: go.update(stop=True))
    signal.signal(signal.SIGTERM, lambda *_: go.update(stop=True))

    def state(sent, done):
        with open(state_path + ".tmp", "w") as f:
            f.write(f"{sent} {int(done)}\n")
        os.replace(state_path + ".tmp", state_path)

    state(0, False)
    while not go["send"] and not go["stop"]:
        time.sleep(0.05)
    sent = 0
    last = time.monotonic()
    for block in blocks(seed):
        if go["stop"]:
            break
        # Whatever the program types back is read and dropped, so it never blocks on us.
        try:
            os.set_blocking(master, False)
            while os.read(master, 65536):
                pass
        except (BlockingIOError, OSError):
            pass
        os.set_blocking(master, True)
        write_all(master, block)
        sent += len(block)
        if time.monotonic() - last > 1:
            state(sent, False)
            last = time.monotonic()
    state(sent, True)
    # Keep the device until told to go, so the program sees no hang-up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    while True:
        time.sleep(1)


def verify(path, seed, total):
    done = 0
    with open(path, "rb") as f:
        for block in blocks(seed):
            if done >= total:
                break
            want = block[: total - done]
            got = f.read(len(want))
            if got != want:
                at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), len(got))
                print(f"differs at byte {done + at}: the capture has "
                      f"{got[at:at + 8].hex(' ') or 'nothing'}, the peer sent {want[at:at + 8].hex(' ')}")
                return 1
            done += len(want)
        extra = f.read(1)
        if extra:
            print(f"the capture holds more than the {total} bytes sent")
            return 1
    print(f"equal: {done} bytes")
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif len(sys.argv) == 5 and sys.argv[1] == "verify":
        sys.exit(verify(sys.argv[2], int(sys.argv[3]), int(sys.argv[4])))
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
