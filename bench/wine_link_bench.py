#!/usr/bin/env python3
"""Throughput of the real program under Wine, beside nc on the same machine.

For each size and kind of stream (80-column text lines, random bytes of every
value), prints the bytes per second from a local peer through the program with its
capture on (from the first byte sent until the capture file holds the last one,
checked byte for byte) and through `nc -l > file` with the same bytes, and the
ratio; then the delay from a typed key to the byte reaching the peer while a peer
streams at 10 MB/s. Figures only: nothing here passes or fails. Talks only to
127.0.0.1, and ends every process it starts.

    bench/wine_link_bench.py --exe build/mingw/dazirar-oru.exe
        [--sizes 262144,10485760,104857600] [--repeat 3] [--keys 60] [--stream-rate 10000000]

Each figure is the median of --repeat runs, the program's and nc's taken in turn.
"""
import argparse
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

DEADLINE = 30.0


def wait_for(condition, deadline, what):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise RuntimeError("timed out waiting for " + what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def session_record(address, port, capture_path, wrap=False):
    return (address.encode() + b"\0" + bytes([port & 0xFF, (port >> 8) & 0xFF, 0]) +
            capture_path.encode() + b"\0" + (b"\x01" if wrap else b"\xff"))


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


class Display:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            self.name = ":" + f.readline().strip()

    def stop(self):
        self.process.kill()
        self.process.wait()


class Program:
    def __init__(self, exe, prefix, display, session):
        self.env = dict(os.environ, DISPLAY=display, WINEPREFIX=prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.process = subprocess.Popen(["wine", exe, windows_path(session)], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = wait_for(self.find_window, 120, "the main window")

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True).stdout

    def find_window(self):
        ids = self.xdotool("search", "--name", "^Dazirar OrU").split()
        return ids[0] if ids else None

    def keys(self, *keys):
        self.xdotool("windowfocus", "--sync", self.window)
        for k in keys:
            self.xdotool("key", k)

    def start_capture(self, path):
        self.keys("alt+a")
        wait_for(lambda: self.xdotool("search", "--name", "parametres du fichier").split(), DEADLINE,
                 "the capture dialog")
        self.xdotool("key", "Return")
        wait_for(lambda: os.path.exists(path), DEADLINE, "the capture file")

    def listen(self, port):
        # The menu command is taken only once the previous peer's close has returned
        # the program to idle, so it is chosen again until a connection goes through.
        end = time.monotonic() + DEADLINE
        while time.monotonic() < end:
            self.keys("alt+c", "m")
            try:
                return wait_for(lambda: try_connect(port), 3, "the program to listen")
            except RuntimeError:
                continue
        raise RuntimeError("the program never listened")

    def stop(self):
        self.process.kill()
        subprocess.run(["wineserver", "-k"], env=self.env)
        self.process.wait()


def try_connect(port):
    try:
        peer = socket.create_connection(("127.0.0.1", port), timeout=2)
    except OSError:
        return None
    peer.settimeout(None)  # a long stream waits for the program as long as it takes
    return peer


def text_lines(size, rng):
    line = bytes(rng.randrange(32, 127) for _ in range(78)) + b"\r\n"
    lines = [line[i:] + line[:i] for i in range(0, 78, 7)]  # a few different lines
    out = b"".join(lines[i % len(lines)] for i in range(size // 80 + 1))
    return out[:size]


def stream_through(peer, data, grows, base):
    """Seconds from the first byte sent until grows() - base covers all of data."""
    start = time.monotonic()
    sender = threading.Thread(target=peer.sendall, args=(data,))
    sender.start()
    end = start + 3600
    while grows() - base < len(data):
        if time.monotonic() > end:
            raise RuntimeError("the stream did not arrive within an hour")
        time.sleep(0.001)
    elapsed = time.monotonic() - start
    sender.join()
    return elapsed


def same_bytes(path, offset, data):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(len(data) + 1) == data


def measure_nc(data, workdir):
    port = free_port()
    out = os.path.join(workdir, "nc.out")
    with open(out, "wb") as sink:
        nc = subprocess.Popen(["nc", "-l", "127.0.0.1", str(port)], stdout=sink)
        try:
            peer = wait_for(lambda: try_connect(port), DEADLINE, "nc to listen")
            elapsed = stream_through(peer, data, lambda: file_size(out), 0)
            peer.close()
        finally:
            nc.kill()
            nc.wait()
    exact = same_bytes(out, 0, data)
    os.remove(out)
    return elapsed, exact


def measure_key_delay(program, port, rounds, rate, seconds):
    """Typed-key delays while a peer streams at `rate` bytes per second."""
    peer = program.listen(port)
    stop = threading.Event()
    received = []
    block = bytes(random.getrandbits(8) | 0x20 for _ in range(rate // 100))

    def stream():
        # One block every 10 ms: `rate` bytes a second.
        due = time.monotonic()
        while not stop.is_set():
            try:
                peer.sendall(block)
            except OSError:
                return
            due += 0.01
            pause = due - time.monotonic()
            if pause > 0:
                time.sleep(pause)

    def read():
        peer.settimeout(0.2)
        while not stop.is_set():
            try:
                got = peer.recv(64)
            except socket.timeout:
                continue
            except OSError:
                return
            if not got:
                return
            received.extend((time.monotonic(), b) for b in got)

    threads = [threading.Thread(target=stream), threading.Thread(target=read)]
    for t in threads:
        t.start()
    delays = []
    try:
        program.xdotool("windowfocus", "--sync", program.window)
        time.sleep(0.5)  # let the stream build up before the first key (not a synchronisation)
        started = time.monotonic()
        gap = seconds / rounds
        for i in range(rounds):
            before = len(received)
            sent_at = time.monotonic()
            program.xdotool("key", "x")
            try:
                wait_for(lambda: len(received) > before, 30, "the typed key")
                delays.append(received[before][0] - sent_at)
            except RuntimeError:
                delays.append(None)
            pause = started + (i + 1) * gap - time.monotonic()
            if pause > 0:
                time.sleep(pause)
    finally:
        stop.set()
        peer.close()
        for t in threads:
            t.join()
    return delays


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sizes", default="262144,10485760,104857600")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--keys", type=int, default=60)
    parser.add_argument("--stream-rate", type=int, default=10000000)
    parser.add_argument("--stream-seconds", type=float, default=10.0)
    args = parser.parse_args()
    for tool in ("wine", "Xvfb", "xdotool", "nc"):
        if shutil.which(tool) is None:
            sys.exit(tool + " is missing (scripts/test installs it)")

    workdir = tempfile.mkdtemp(prefix="oru-bench-")
    prefix = os.path.join(os.path.dirname(os.path.abspath(args.exe)), "bench-wineprefix")
    capture = os.path.join(workdir, "capture.bin")
    session = os.path.join(workdir, "bench.sip")
    port = free_port()
    with open(session, "wb") as f:
        f.write(session_record("127.0.0.1", port, windows_path(capture)))

    rng = random.Random(2026)
    display = Display()
    program = None
    try:
        program = Program(os.path.abspath(args.exe), prefix, display.name, session)
        program.start_capture(capture)
        print("%-7s %11s %14s %14s %7s  %s" % ("kind", "bytes", "program B/s", "nc B/s", "ratio",
                                               "byte-exact"))
        for size in (int(s) for s in args.sizes.split(",")):
            for kind in ("text", "random"):
                data = text_lines(size, rng) if kind == "text" else rng.randbytes(size)
                wine_times, nc_times, exact = [], [], []
                for _ in range(args.repeat):
                    peer = program.listen(port)
                    base = file_size(capture)
                    wine_times.append(stream_through(peer, data, lambda: file_size(capture), base))
                    peer.close()
                    exact.append(same_bytes(capture, base, data))
                    nc_time, nc_exact = measure_nc(data, workdir)
                    nc_times.append(nc_time)
                    exact.append(nc_exact)
                wine_time = percentile(wine_times, 0.5)
                nc_time = percentile(nc_times, 0.5)
                print("%-7s %11d %14.0f %14.0f %7.2f  %s" % (
                    kind, size, size / wine_time, size / nc_time, wine_time / nc_time,
                    "yes" if all(exact) else "NO"), flush=True)
        delays = measure_key_delay(program, port, args.keys, args.stream_rate, args.stream_seconds)
        arrived = [d for d in delays if d is not None]
        if arrived:
            print("typed key to peer while a peer streams at %d B/s: %d keys, p50 %.1f ms, "
                  "p99 %.1f ms, max %.1f ms, %d lost" % (
                      args.stream_rate, len(delays), 1000 * percentile(arrived, 0.5),
                      1000 * percentile(arrived, 0.99), 1000 * max(arrived),
                      len(delays) - len(arrived)))
        else:
            print("typed key to peer: no key arrived")
    finally:
        if program is not None:
            program.stop()
        display.stop()
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
