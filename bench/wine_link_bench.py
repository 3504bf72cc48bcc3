#!/usr/bin/env python3
"""Throughput of the real program under Wine, beside nc on the same machine.

For each size and kind of stream (80-column text lines, random bytes of every
value), prints the bytes per second from a local peer through the program with its
capture on (from the first byte sent until the capture file holds the last one,
checked byte for byte) and through `nc -l > file` with the same bytes, and the
ratio; with --before, the same for another build of the program (an older one,
say), in the same run; and, in turn with each program, the same for the floor
(bench/floor: a hidden window that only receives and captures, as the program's
receive path does), labelled ":floor". Then, for each program: the share of a core
that its process takes (Linux user plus system time) while a peer sends 80-column
lines in 100 writes a second at each of --rates, beside the floor's in the same
stream and their ratio; the delay from the last byte of a burst until the screen
shows it; the delay from the last byte captured to the idle status line after a
peer's 1,000,000 tiny writes and its close. Then, for --exe only, while a peer
floods the program as fast as it reads, with the capture on: the delays from a
click on "Connexion" to its drop-down on the screen, from its Deconnexion key to the
idle status line, and from a click on "A propos" to the box on the screen; and the
delay from a typed key to the byte reaching the peer while a peer streams at
10 MB/s. Figures only: nothing here passes or fails. Talks only to
127.0.0.1, and ends every process it starts.

    bench/wine_link_bench.py --exe build/mingw/dazirar-oru.exe [--before OLD.exe]
        [--sizes 262144,10485760,104857600] [--repeat 3] [--keys 60] [--stream-rate 10000000]
        [--menu-tries 12] [--tiny-writes 1000000] [--rates 100000,1000000,10000000]
        [--cpu-seconds 10] [--frames 30] [--octet-view] [--in-turn] [--throughput-only]
        [--send-dialog] [--file-size 104857600] [--connections 200] [--rules 20] [--ansi]

Each throughput figure is the median of --repeat runs, the program's and nc's taken
in turn; with --send-dialog, --exe is measured once more with its send dialog open
(the label ends in +F4); with --file-size, each program sends a file of that many
bytes through its send dialog to a peer that reads it, beside nc sending the same
file, timed from the first byte the peer gets to the last (the rows "file"); with
--connections, --exe with "Ecoute continue" serves that many clients that each send a
line and close, one after the other and then all at once, beside `nc -lk`; with
--octet-view, each round streams once more to --exe with its octet
view shown (the label ends in +F2); with --ansi, --exe is measured once more with
"Sequences ANSI" checked (the label ends in +ansi), and every program also gets a
colourful log (kind "colours": ESP-IDF-style lines, each coloured and reset). With --in-turn and --before, only the streams,
each through a program started afresh, the two programs in turn. The screen is read and the mouse and keys are given
straight through the X server (Xlib and its test extension), so that a delay is not
that of a helper program starting; windows are unmanaged, so that Wine does not
wait for a window manager around the boxes.
"""
import argparse
import ctypes
import ctypes.util
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
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Wine with the loader that runs 64-bit programs on this machine.
WINE = os.path.join(ROOT, "scripts", "wine")


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


def prepare_prefix(prefix, display):
    """Boots the Wine prefix once and makes its windows unmanaged: without a window
    manager, Wine waits two seconds for one whenever a box is hidden."""
    env = dict(os.environ, DISPLAY=display, WINEPREFIX=prefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    with tempfile.TemporaryFile() as out:  # never a pipe: Wine's own processes keep it
        subprocess.run(["wineserver", "-k"], env=env, stdout=out, stderr=out)  # an interrupted run's
        subprocess.run([WINE, "wineboot", "-i"], env=env, stdout=out, stderr=out, timeout=300)
        subprocess.run([WINE, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=env, stdout=out, stderr=out, timeout=120)
        subprocess.run(["wineserver", "-w"], env=env, timeout=300)


def start_under_wine(exe, args, env):
    """Starts a Windows program under Wine. scripts/wine execs Wine's loader, and
    the loader runs the program in the process it was started as: the process
    started here is the program's, whatever its file is called."""
    return subprocess.Popen([WINE, exe, *args], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def program_pid(process, exe):
    """The Linux process id of the program that start_under_wine started, once Wine
    has named that process after the program's file (as it does once it runs it)."""
    name = os.path.basename(exe)[:15]  # the kernel keeps 15 characters of a name

    def named():
        try:
            with open("/proc/%d/comm" % process.pid) as f:
                return f.read().strip() == name
        except OSError:
            return False

    wait_for(named, DEADLINE, "process %d to run %s" % (process.pid, exe))
    return process.pid


class Program:
    def __init__(self, exe, prefix, display, session, viewer):
        self.env = dict(os.environ, DISPLAY=display, WINEPREFIX=prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.viewer = viewer
        self.process = start_under_wine(exe, [windows_path(session)], self.env)
        self.window = wait_for(self.find_window, 120, "the main window")
        self.pid = program_pid(self.process, exe)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True).stdout

    def find_window(self):
        ids = self.xdotool("search", "--name", "^Dazirar OrU").split()
        return ids[0] if ids else None

    def view(self, *args):
        """What the e2e viewer prints about the program's windows."""
        with tempfile.TemporaryFile() as out:
            subprocess.run([WINE, self.viewer, *args], env=self.env, stdout=out,
                           stderr=subprocess.DEVNULL, timeout=60)
            out.seek(0)
            return out.read().decode("latin-1")

    def client(self):
        """The main window's client area on the screen: (x, y, width, height)."""
        for line in self.view("state").splitlines():
            fields = line.split("\t")
            if fields[0] == "client":
                return tuple(int(v) for v in fields[1:5])
        raise RuntimeError("the viewer did not tell the client area")

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
            self.view("command", "505")
            try:
                return wait_for(lambda: try_connect(port), 3, "the program to listen")
            except RuntimeError:
                continue
        raise RuntimeError("the program never listened")

    def apply_rules(self, text, count):
        """Types `text` into the reply rules dialog, applies it, makes the rules active
        and closes the dialog."""
        caption = "Reponses automatiques"
        self.view("syscommand", str(0x1040))
        window = wait_for(lambda: self.xdotool("search", "--name", "^%s$" % caption).split(), DEADLINE,
                          "the rules dialog")[0]
        self.xdotool("mousemove", "--window", window, "60", "60")
        self.xdotool("click", "1")
        self.xdotool("type", "--delay", "1", text)
        said = "control\t1102\tStatic\t\t\t%d regles" % count
        wait_for(lambda: said in self.view("state"), DEADLINE, "the rules typed")
        self.view("press", caption, "1")
        self.view("click", caption, "1103")
        wait_for(lambda: "\tButton\t\tchecked\t&Actives" in self.view("state"), DEADLINE, "Actives")
        self.view("press", caption, "2")

    def start_journal(self, path):
        """Starts the pcapng journal into `path` through its item and the Save dialog."""
        caption = "Journal pcapng"
        if os.path.exists(path):
            os.remove(path)  # else the dialog asks before replacing it
        self.view("syscommand", str(IDM_JOURNAL))
        window = wait_for(lambda: self.xdotool("search", "--name", "^%s$" % caption).split(), DEADLINE,
                          "the Save dialog")[0]
        self.xdotool("windowactivate", "--sync", window)
        self.xdotool("key", "ctrl+a")
        self.xdotool("type", "--delay", "1", windows_path(path))
        self.xdotool("key", "Return")
        wait_for(lambda: file_size(path) > 0, DEADLINE, "the journal's start")
        self.journal_path = path

    def stop_journal(self, path):
        """Stops the journal and waits until its file no longer grows."""
        self.view("syscommand", str(IDM_JOURNAL))

        def settled():
            size = file_size(path)
            time.sleep(0.3)
            return file_size(path) == size
        wait_for(settled, DEADLINE, "the journal written out")

    def stop(self):
        self.process.kill()
        subprocess.run(["wineserver", "-k"], env=self.env)
        self.process.wait()


class Floor:
    """The floor (bench/floor): one hidden window that takes each peer in turn and
    only receives and captures, as the program's receive path does. It listens from
    its start to its end, on a port of its own, in the program's Wine session."""
    NAME = "oru-floor.exe"

    def __init__(self, exe, env, port, capture):
        self.port = port
        self.process = start_under_wine(exe, [str(port), windows_path(capture)], env)
        probe = wait_for(lambda: try_connect(port), 120, "the floor to listen")
        probe.close()
        self.pid = program_pid(self.process, exe)

    def listen(self, port):
        return wait_for(lambda: try_connect(port), DEADLINE, "the floor")

    def stop(self):
        self.process.kill()
        self.process.wait()


def never_matching_rules(count):
    """`count` reply rules whose patterns no stream of the benchmark holds (six bytes
    from FF down, then the rule's own), the last bytes those of control characters
    that text lines hold."""
    return "".join('recu hex "FF FE FD FC FB %02X" -> hex "00"\n' % (i + 1) for i in range(count))


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


def colour_lines(size, rng):
    """A device's colourful log: lines of three levels, each coloured and reset as an
    ESP-IDF-style log colours them, about 80 columns of text a line."""
    levels = [(b"32", b"I"), (b"33", b"W"), (b"31", b"E")]
    lines = []
    for n in range(12):
        colour, level = levels[n % 3]
        text = bytes(rng.randrange(32, 127) for _ in range(60))
        lines.append(b"\x1b[0;" + colour + b"m" + level + b" (%07d) wifi: " % (n * 1237) + text +
                     b"\x1b[0m\r\n")
    out = b"".join(lines[i % len(lines)] for i in range(size // len(lines[0]) + 1))
    return out[:size]


STREAM_KINDS = {"text": text_lines, "random": lambda size, rng: rng.randbytes(size),
                "colours": colour_lines}
IDM_ANSI_SEQUENCES = 0x1050  # "Sequences ANSI", a system command
IDM_JOURNAL = 0x10A0  # "Journal pcapng...", a system command


def write_out(folder):
    """Writes out what the files of `folder` hold in the page cache and the disk has
    not yet: fsync of each, and nothing else of the machine."""
    for entry in os.scandir(folder):
        if entry.is_file(follow_symlinks=False):
            fd = os.open(entry.path, os.O_RDONLY)
            try:
                os.fsync(fd)
            finally:
                os.close(fd)


def stream_through(peer, data, grows, base, folder):
    """Seconds from the first byte sent until grows() - base covers all of data. What
    earlier streams left in the page cache is written out first, untimed: otherwise
    each stream would pay for the ones before it, the later programs most. They
    wrote only into `folder`, the benchmark's working folder (the captures, nc's
    output), and only its files are written out."""
    write_out(folder)
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
            elapsed = stream_through(peer, data, lambda: file_size(out), 0, workdir)
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


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong),
                ("blue_mask", ctypes.c_ulong), ("obdata", ctypes.c_void_p),
                ("create_image", ctypes.c_void_p), ("destroy_image", ctypes.c_void_p),
                ("get_pixel", ctypes.c_void_p), ("put_pixel", ctypes.c_void_p),
                ("sub_image", ctypes.c_void_p), ("add_pixel", ctypes.c_void_p)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("c_class", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class Screen:
    """The virtual display, read and driven through Xlib and its test extension."""
    IS_VIEWABLE = 2
    Z_PIXMAP = 2

    def __init__(self, display):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XGetImage.restype = ctypes.POINTER(XImage)
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                   ctypes.POINTER(ctypes.c_uint)]
        x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                             ctypes.POINTER(XWindowAttributes)]
        x11.XFree.argtypes = [ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XStringToKeysym.restype = ctypes.c_ulong
        x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.x11 = x11
        # A window can go between listing it and asking about it: such errors are
        # expected, and Xlib's default handler would end the process.
        self.ignore_errors = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(
            lambda display, error: 0)
        x11.XSetErrorHandler(self.ignore_errors)
        self.display = x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)
        self.root = x11.XDefaultRootWindow(self.display)
        self.destroy = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(XImage))

    def pixels(self, x, y, w, h):
        """(r, g, b) of each pixel of a screen rectangle, row after row."""
        image = self.x11.XGetImage(self.display, self.root, x, y, w, h, 0xFFFFFFFF, self.Z_PIXMAP)
        if not image:
            return []
        im = image.contents
        raw = ctypes.string_at(im.data, im.bytes_per_line * im.height)
        self.destroy(im.destroy_image)(image)
        step = im.bits_per_pixel // 8
        return [(raw[r * im.bytes_per_line + c * step + 2], raw[r * im.bytes_per_line + c * step + 1],
                 raw[r * im.bytes_per_line + c * step]) for r in range(h) for c in range(w)]

    def shown_windows(self):
        """The viewable top-level windows: {id: (x, y, width, height)}."""
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        self.x11.XQueryTree(self.display, self.root, ctypes.byref(root), ctypes.byref(parent),
                            ctypes.byref(children), ctypes.byref(count))
        shown = {}
        for i in range(count.value):
            a = XWindowAttributes()
            if self.x11.XGetWindowAttributes(self.display, children[i], ctypes.byref(a)) and \
                    a.map_state == self.IS_VIEWABLE:
                shown[children[i]] = (a.x, a.y, a.width, a.height)
        if children:
            self.x11.XFree(children)
        return shown

    def click(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 1, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 0, 0)
        self.x11.XFlush(self.display)

    def key(self, name):
        code = self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(name.encode()))
        self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x11.XFlush(self.display)


def dark(pixel):
    return sum(pixel) < 3 * 80


def painted(pixels):
    """Mostly one light colour with dark text on it: a menu or a box drawn in full.
    A window not painted yet shows what was under it or its bare background."""
    if not pixels:
        return False
    counts = {}
    for p in pixels:
        counts[p] = counts.get(p, 0) + 1
    background, most = max(counts.items(), key=lambda kv: kv[1])
    return most > len(pixels) // 2 and sum(background) > 3 * 160 and \
        sum(1 for p in pixels if dark(p)) > 40


def wait_painted_window(screen, before, deadline):
    """Polls until a top-level window that was not in `before` is shown and painted;
    returns the time it was first seen painted."""
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        for window, (x, y, w, h) in screen.shown_windows().items():
            if window not in before and painted(screen.pixels(x, y, w, h)):
                return time.monotonic()
        time.sleep(0.001)
    raise RuntimeError("no new window was painted")


def wait_windows_gone(screen, before, deadline=DEADLINE):
    wait_for(lambda: set(screen.shown_windows()) <= set(before), deadline, "the window to go")


def menu_bar_items(screen, client):
    """Screen rectangles of the words of the menu bar above the client area at
    (x, y, w): runs of columns with dark pixels, split at gaps wider than a blank."""
    x, y, w = client
    height = 18
    top = y - height - 1
    pixels = screen.pixels(x, top, w, height)
    inked = [any(dark(pixels[row * w + col]) for row in range(height)) for col in range(w)]
    items, start, gap = [], None, 0
    for col, ink in enumerate(inked + [False] * 9):
        if ink:
            start = col if start is None else start
            gap = 0
        elif start is not None:
            gap += 1
            if gap > 8:
                items.append(((x + start + x + col - gap + 1) // 2, top + height // 2))
                start = None
    return items


def status_idle(screen, client):
    """The status line shows no text (the idle status is one blank)."""
    x, y, w, h = client
    return not any(dark(p) for p in screen.pixels(x + 4, y + h - 17, 300, 14))


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]

def timed_stream(program, port, capture, data):
    """One stream through a program: its seconds on the clock, the seconds of CPU its
    process took, and whether the capture holds the bytes exactly. The capture is in
    the working folder."""
    peer = program.listen(port)
    base = file_size(capture)
    start_cpu = cpu_seconds(program.pid)
    seconds = stream_through(peer, data, lambda: file_size(capture), base,
                             os.path.dirname(capture))
    cpu = cpu_seconds(program.pid) - start_cpu
    peer.close()
    return seconds, cpu, same_bytes(capture, base, data)


def print_streams(label, kind, size, seconds, cpu, nc_seconds, exact):
    """One row of the throughput table, from the medians of its streams."""
    wine_time = percentile(seconds, 0.5)
    nc_time = percentile(nc_seconds, 0.5)
    cpu_time = max(percentile(cpu, 0.5), 1.0 / os.sysconf("SC_CLK_TCK"))
    print("%-12s %-7s %11d %14.0f %14.0f %7.2f %14.0f  %s" % (
        label, kind, size, size / wine_time, size / nc_time, wine_time / nc_time, size / cpu_time,
        "yes" if all(exact) else "NO"), flush=True)


def measure_throughput(label, program, port, capture, workdir, sizes, repeat, octet_view=False,
                       kinds=("text", "random")):
    """Prints, for each size and kind, the medians of `repeat` streams: bytes a second
    through the program (a Program or the Floor) and through nc, their ratio, and the bytes a
    second of the program's own CPU time (user plus system). With `octet_view`, each
    round streams once more with the program's octet view shown (F2), first or second
    in turn, so that both views meet the same states of the machine; that row's label
    ends in +F2."""
    rng = random.Random(2026)
    views = [False, True] if octet_view else [False]
    for size in sizes:
        for kind in kinds:
            data = STREAM_KINDS[kind](size, rng)
            wine_times = {view: [] for view in views}
            cpu_times = {view: [] for view in views}
            nc_times, exact = [], []
            for round_ in range(repeat):
                # Which comes first turns each round: a stream just after another one
                # into the same capture file is slower here, whichever view it has.
                for view in (views if round_ % 2 == 0 else views[::-1]):
                    if view:
                        program.keys("F2")
                    seconds, cpu, same = timed_stream(program, port, capture, data)
                    wine_times[view].append(seconds)
                    cpu_times[view].append(cpu)
                    exact.append(same)
                    if view:
                        program.keys("F2")
                nc_time, nc_exact = measure_nc(data, workdir)
                nc_times.append(nc_time)
                exact.append(nc_exact)
            for view in views:
                print_streams(label + ("+F2" if view else ""), kind, size, wine_times[view],
                              cpu_times[view], nc_times, exact)


def measure_file_send(label, program, port, workdir, size, repeat):
    """Prints a row: a file of `size` bytes sent by the program through its send
    dialog to a peer that reads it, and by `nc` to the same kind of peer, each timed
    from the first byte the peer gets to the last and checked byte for byte; the
    medians of `repeat` rounds, the program and nc in turn."""
    data = random.Random(2027).randbytes(size)
    path = os.path.join(workdir, "sent.bin")
    with open(path, "wb") as f:
        f.write(data)

    def read_all(peer):
        got = bytearray()
        first = None
        while len(got) < size:
            chunk = peer.recv(1 << 20)
            if not chunk:
                break
            if first is None:
                first = time.monotonic()
            got += chunk
        return time.monotonic() - first, bytes(got) == data

    def through_program():
        peer = program.listen(port)
        peer.settimeout(300)
        program.view("command", str(0x1020))  # the send dialog
        wait_for(lambda: program.xdotool("search", "--name", "^Envoyer$").split(), DEADLINE,
                 "the send dialog")
        program.view("press", "Envoyer", "1004")
        chooser = wait_for(lambda: program.xdotool("search", "--name", "^Fichier a envoyer$").split(),
                           DEADLINE, "the Open dialog")[0]
        program.xdotool("windowfocus", "--sync", chooser)
        program.xdotool("type", "--delay", "10", windows_path(path))
        program.xdotool("key", "Return")
        taken = read_all(peer)
        peer.close()
        program.view("press", "Envoyer", "2")
        return taken

    def through_nc():
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        with open(path, "rb") as source:
            nc = subprocess.Popen(["nc", "-N", "127.0.0.1", str(listener.getsockname()[1])],
                                  stdin=source, stdout=subprocess.DEVNULL)
            reader, _ = listener.accept()
            reader.settimeout(300)
            taken = read_all(reader)
            reader.close()
            nc.kill()
            nc.wait()
        listener.close()
        return taken

    times, nc_times, exact = [], [], []
    for round_ in range(repeat):
        for way in ((through_program, through_nc) if round_ % 2 == 0 else (through_nc, through_program)):
            seconds, same = way()
            (times if way is through_program else nc_times).append(seconds)
            exact.append(same)
    os.remove(path)
    seconds = percentile(times, 0.5)
    nc_seconds = percentile(nc_times, 0.5)
    print("%-12s %-7s %11d %14.0f %14.0f %7.2f %14s  %s" % (
        label, "file", size, size / seconds, size / nc_seconds, seconds / nc_seconds, "-",
        "yes" if all(exact) else "NO"), flush=True)


def measure_connections(label, program, port, capture, workdir, count):
    """A summary line: `count` clients, each of which connects, sends a line and
    closes, served by the program with "Ecoute continue" checked and by `nc -lk`:
    one after the other (each line captured before the next client comes), then all
    at once; each timed from the first connection until the last line is captured,
    and checked byte for byte."""
    lines = [b"connexion %06d\r\n" % i for i in range(count)]
    expected = b"".join(lines)

    def wait_grown(grows, base, size, quiet=None):
        """Waits until grows() - base reaches size; with `quiet`, gives up once it
        has not grown for that many seconds. Returns the time of the last growth."""
        end = time.monotonic() + 300
        last, seen = time.monotonic(), grows()
        while seen - base < size:
            now = time.monotonic()
            if now > end or (quiet is not None and now - last > quiet):
                if quiet is None:
                    raise RuntimeError("the clients' lines did not all arrive")
                break
            time.sleep(0.0005)
            if grows() != seen:
                last, seen = time.monotonic(), grows()
        return last

    def client(port_, line):
        # A listener whose queue is full lets the client's system try again later, the
        # waits doubling each time: a client may take a minute or two to get in.
        peer = socket.create_connection(("127.0.0.1", port_), timeout=300)
        peer.sendall(line)
        peer.close()

    def serve(port_, grows):
        base = grows()
        start = time.monotonic()
        done = 0
        for line in lines:
            client(port_, line)
            done += len(line)
            wait_grown(grows, base, done)
        one_by_one = time.monotonic() - start
        # All at once: a line lost (a listener may lose some) shows in the count of
        # lines that came, once nothing more has come for 10 s.
        base = grows()
        start = time.monotonic()
        clients = [threading.Thread(target=client, args=(port_, line)) for line in lines]
        for c in clients:
            c.start()
        for c in clients:
            c.join()
        last = wait_grown(grows, base, len(expected), quiet=10)
        return one_by_one, last - start, (grows() - base) // len(lines[0])

    program.view("syscommand", str(0x1030))  # Ecoute continue
    program.listen(port).close()
    base = file_size(capture)
    one_by_one, at_once, got = serve(port, lambda: file_size(capture))
    with open(capture, "rb") as f:
        f.seek(base)
        served = f.read()
    exact = served[:len(expected)] == expected and sorted(served[len(expected):].splitlines()) == \
        sorted(expected.splitlines())
    program.view("syscommand", str(0x1030))
    program.view("command", "506")  # Deconnexion

    nc_port = free_port()
    out = os.path.join(workdir, "nc-k.out")
    with open(out, "wb") as sink:
        nc = subprocess.Popen(["nc", "-lk", "127.0.0.1", str(nc_port)], stdout=sink)
        try:
            wait_for(lambda: try_connect(nc_port), DEADLINE, "nc to listen").close()
            nc_one_by_one, nc_at_once, nc_got = serve(nc_port, lambda: file_size(out))
        finally:
            nc.kill()
            nc.wait()
    os.remove(out)
    return ("%s: %d clients, each a line and a close, one after the other: program %.0f, "
            "nc -lk %.0f connections a second, ratio %.2f; all at once: program %d lines in "
            "%.2f s, nc -lk %d lines in %.2f s; program byte-exact %s" % (
                label, count, count / one_by_one, count / nc_one_by_one,
                nc_one_by_one / one_by_one, got, at_once, nc_got, nc_at_once,
                "yes" if exact else "NO"))


def measure_programs_in_turn(programs, start, port, capture, workdir, sizes, repeat,
                             kinds=("text", "random")):
    """The streams of measure_throughput through each of `programs` ((label, path)
    pairs), each stream through a program started afresh by `start(path)`, the
    programs in turn and which comes first turning each round: then no program meets
    the machine in a state of its own (the capture file grown by the others, the page
    cache), and the medians compare builds."""
    rng = random.Random(2026)
    for size in sizes:
        for kind in kinds:
            data = STREAM_KINDS[kind](size, rng)
            wine_times = {label: [] for label, _ in programs}
            cpu_times = {label: [] for label, _ in programs}
            nc_times, exact = [], []
            for round_ in range(repeat):
                for label, path in (programs if round_ % 2 == 0 else programs[::-1]):
                    program = start(label, path)
                    try:
                        seconds, cpu, same = timed_stream(program, port, capture, data)
                        if label.endswith("+journal"):
                            journal = program.journal_path
                            program.stop_journal(journal)
                            print("%-12s journal of %d bytes carried: %d bytes (%.3f)" % (
                                label, len(data), file_size(journal), file_size(journal) / len(data)))
                    finally:
                        program.stop()
                    wine_times[label].append(seconds)
                    cpu_times[label].append(cpu)
                    exact.append(same)
                nc_time, nc_exact = measure_nc(data, workdir)
                nc_times.append(nc_time)
                exact.append(nc_exact)
            for label, _ in programs:
                print_streams(label, kind, size, wine_times[label], cpu_times[label], nc_times, exact)


def measure_trickle(program, port, capture, screen, client, writes):
    """Seconds from the last byte of `writes` tiny writes (1 to 20 bytes, each its own
    segment) reaching the capture until the status line is idle after the peer's
    close, and whether the capture is exact."""
    peer = program.listen(port)
    peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    rng = random.Random(5)
    sizes = [rng.randint(1, 20) for _ in range(writes)]
    data = rng.randbytes(sum(sizes))
    base = file_size(capture)

    def send():
        offset = 0
        for n in sizes:
            peer.sendall(data[offset:offset + n])
            offset += n
        peer.close()

    sender = threading.Thread(target=send)
    sender.start()
    captured_at = None
    end = time.monotonic() + 600
    while True:
        now = time.monotonic()
        if captured_at is None and file_size(capture) - base >= len(data):
            captured_at = now
        if captured_at is not None and status_idle(screen, client):
            break
        if now > end:
            raise RuntimeError("the close was not seen within ten minutes")
        time.sleep(0.001)
    sender.join()
    return now - captured_at, same_bytes(capture, base, data)


def measure_menu_delays(program, port, capture, screen, client, tries, flooded):
    """While a peer floods the program with the capture on (or, not flooded, while
    it sends nothing): seconds from a click on "A propos" to the box painted, from a
    click on "Connexion" to its drop-down painted, and from the Deconnexion key to
    the idle status line; one of each a try."""
    items = menu_bar_items(screen, client[:3])
    if len(items) != 5:
        raise RuntimeError("the menu bar's items were not found: %r" % items)
    connexion, about = items[1], items[4]
    block = random.Random(15).randbytes(1000003)
    box, drop, idle = [], [], []
    for _ in range(tries):
        peer = program.listen(port)
        base = file_size(capture)

        def flood():
            try:
                while flooded:
                    peer.sendall(block)
            except OSError:
                pass

        flooding = threading.Thread(target=flood)
        flooding.start()
        try:
            if flooded:
                wait_for(lambda: file_size(capture) - base > 4 * len(block), DEADLINE, "the flood")
            before = screen.shown_windows()
            clicked = time.monotonic()
            screen.click(*about)
            box.append(wait_painted_window(screen, before, 120) - clicked)
            program.xdotool("key", "Escape")
            wait_windows_gone(screen, before)
            clicked = time.monotonic()
            screen.click(*connexion)
            drop.append(wait_painted_window(screen, before, 120) - clicked)
            pressed = time.monotonic()
            screen.key("d")
            wait_for(lambda: status_idle(screen, client), 120, "the idle status")
            idle.append(time.monotonic() - pressed)
        finally:
            try:
                peer.shutdown(socket.SHUT_RDWR)  # ends the flood if Deconnexion did not
            except OSError:
                pass
            flooding.join()
            peer.close()
        os.truncate(capture, 0)  # the program writes on at its offset: a sparse file
    return box, drop, idle


def cpu_seconds(pid):
    """User plus system time of a process so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wineserver_pid(prefix):
    """The Wine server of `prefix` (wineserver, or wineserver64 on Debian), known by its
    folder, which Wine names after the prefix's device and inode: under Wine, part of a
    program's work (its messages, timers, window changes) is done there."""
    where = os.stat(prefix)
    folder = "server-%x-%x" % (where.st_dev, where.st_ino)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if not f.read().strip().startswith("wineserver"):
                    continue
            if os.path.basename(os.readlink("/proc/%s/cwd" % entry)) == folder:
                return int(entry)
        except OSError:
            continue
    return None


def share_text(share):
    return "?" if share is None else "%.1f %%" % (100 * share)


def measure_cpu_share(program, port, capture, rate, seconds, kind="text", beside=()):
    """The share of a core that the program's process (a Program's or the Floor's)
    takes while a peer sends 80-column lines (of STREAM_KINDS) at `rate` bytes a
    second in 100 writes a second; and in the same interval, the share of each
    process of `beside` (the Wine server, the X server)."""
    pid = program.pid
    peer = program.listen(port)
    rng = random.Random(rate)
    block = STREAM_KINDS[kind](max(80, rate // 100), rng)
    base = file_size(capture)
    time.sleep(0.5)  # the connection settled (not a synchronisation)
    sent = 0
    start_cpu, start = cpu_seconds(pid), time.monotonic()
    beside_start = [cpu_seconds(other) if other is not None else 0 for other in beside]
    due = start
    while time.monotonic() - start < seconds:
        peer.sendall(block)
        sent += len(block)
        due += 0.01
        pause = due - time.monotonic()
        if pause > 0:
            time.sleep(pause)
    wait_for(lambda: file_size(capture) - base >= sent, DEADLINE, "the lines in the capture")
    elapsed = time.monotonic() - start
    share = (cpu_seconds(pid) - start_cpu) / elapsed
    others = [(cpu_seconds(other) - was) / elapsed if other is not None else None
              for other, was in zip(beside, beside_start)]
    peer.close()
    return share, sent / seconds, others


def row_region(client, row, col, cells):
    """The screen rectangle of `cells` cells of a row of the grid, for the 10 by 18
    cell under Wine at 96 DPI: the text area's left edge is 10 pixels into the
    client area, its bottom 30 pixels above the client's bottom."""
    x, y, _, h = client
    return x + 10 + 10 * col, y + h - 30 - 25 * 18 + 18 * row, 10 * cells, 18


def measure_last_frame(program, port, screen, client, rounds):
    """Seconds from the last byte of a burst until the screen shows it. A burst is
    20 lines, then 5 ms later a last piece that puts a bar of ten '#' alone on the
    last row, each time in another place: that piece comes within a display frame of
    the drawing of the lines."""
    peer = program.listen(port)
    peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    rng = random.Random(7)
    places = [0, 20, 40, 60]
    delays = []
    threshold = None
    for i in range(rounds):
        lines = text_lines(20 * 80, rng)
        col, before = places[i % 4], places[(i - 1) % 4]

        def dark_cells(at):
            return sum(1 for p in screen.pixels(*row_region(client, 24, at, 10)) if dark(p))

        peer.sendall(lines)
        time.sleep(0.005)
        peer.sendall(b"\r\n" + b" " * col + b"#" * 10)
        sent = time.monotonic()
        if threshold is None:
            wait_for(lambda: dark_cells(col) > 100, DEADLINE, "the first bar")
            threshold = dark_cells(col) // 2
            continue
        end = sent + DEADLINE
        while not (dark_cells(col) >= threshold and dark_cells(before) == 0):
            if time.monotonic() > end:
                raise RuntimeError("the bar of round %d was not shown (%d dark pixels where it "
                                   "goes, %d where the last one was, %d wanted)" % (
                                       i, dark_cells(col), dark_cells(before), threshold))
            time.sleep(0.0005)
        delays.append(time.monotonic() - sent)
        time.sleep(0.1)
    peer.close()
    return delays


def describe_delays(what, delays):
    return "%-52s p50 %6.1f ms  p95 %6.1f ms  max %6.1f ms  (%d tries)" % (
        what, 1000 * percentile(delays, 0.5), 1000 * percentile(delays, 0.95),
        1000 * max(delays), len(delays))


def find_floor(given, viewer):
    """The floor: the one given, else the one built beside the viewer."""
    place = given or os.path.join(os.path.dirname(viewer), "..", "..", "..", "bench", "floor",
                                  Floor.NAME)
    if not os.path.exists(place):
        sys.exit("the floor is missing at %s (cmake --build --preset mingw builds it)" % place)
    return os.path.abspath(place)


def find_viewer(given, exe):
    """The e2e viewer: the one given, else the one of --exe's build tree, else the
    64-bit build's (a release tree builds none)."""
    relative = os.path.join("tests", "e2e", "viewer", "oru-viewer.exe")
    places = [given] if given else [os.path.join(os.path.dirname(exe), relative),
                                    os.path.join(ROOT, "build", "mingw", relative)]
    for place in places:
        if os.path.exists(place):
            return os.path.abspath(place)
    sys.exit("the e2e viewer is missing; looked for it at " + " and ".join(places) +
             " (cmake --build --preset mingw builds it)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--before", help="another build, measured beside --exe")
    parser.add_argument("--viewer", help="the e2e viewer (default: beside --exe's build)")
    parser.add_argument("--floor", help="the floor program (default: beside the viewer)")
    parser.add_argument("--sizes", default="262144,10485760,104857600")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--keys", type=int, default=60)
    parser.add_argument("--stream-rate", type=int, default=10000000)
    parser.add_argument("--stream-seconds", type=float, default=10.0)
    parser.add_argument("--menu-tries", type=int, default=12)
    parser.add_argument("--tiny-writes", type=int, default=1000000)
    parser.add_argument("--rates", default="100000,1000000,10000000",
                        help="bytes a second of the 80-column lines whose CPU share is measured")
    parser.add_argument("--cpu-seconds", type=float, default=10.0)
    parser.add_argument("--frames", type=int, default=30, help="bursts whose last frame is timed")
    parser.add_argument("--send-dialog", action="store_true",
                        help="measure --exe once more with its send dialog open")
    parser.add_argument("--file-size", type=int, default=0,
                        help="bytes of a file sent through the send dialog (0: none)")
    parser.add_argument("--octet-view", action="store_true",
                        help="for --exe, the streams again with the octet view shown (F2)")
    parser.add_argument("--in-turn", action="store_true",
                        help="with --before: only the streams, each through a program started "
                             "afresh, the programs in turn")
    parser.add_argument("--connections", type=int, default=0,
                        help="for --exe, clients served one after another with Ecoute continue, "
                             "beside nc -lk (0: none)")
    parser.add_argument("--throughput-only", action="store_true",
                        help="only the streams beside nc: no CPU shares, frames, tiny writes, "
                             "menus or keys")
    parser.add_argument("--ansi", action="store_true",
                        help="measure --exe once more with Sequences ANSI checked (the label ends "
                             "in +ansi), and stream a colourful log too")
    parser.add_argument("--journal", action="store_true",
                        help="measure --exe once more with the pcapng journal on (the label ends "
                             "in +journal), and print the journal's size beside the bytes carried")
    parser.add_argument("--rules", type=int, default=0,
                        help="measure --exe once more with this many reply rules active that "
                             "never match (the label ends in +rules; 0: none)")
    args = parser.parse_args()
    for tool in ("wineserver", "Xvfb", "xdotool", "nc"):
        if shutil.which(tool) is None:
            sys.exit(tool + " is missing (scripts/test installs it)")
    exe = os.path.abspath(args.exe)
    viewer = find_viewer(args.viewer, exe)
    floor_exe = find_floor(args.floor, viewer)
    programs = [("before", os.path.abspath(args.before))] if args.before else []
    programs.append(("after" if args.before else "program", exe))
    if args.send_dialog:
        programs.append((programs[-1][0] + "+F4", exe))
    if args.rules:
        programs.append(((programs[-1][0] if not args.before else "after") + "+rules", exe))
    if args.ansi:
        programs.append(((programs[-1][0] if not args.before else "after") + "+ansi", exe))
    if args.journal:
        programs.append(((programs[-1][0] if not args.before else "after") + "+journal", exe))
    rules = never_matching_rules(args.rules)
    kinds = ("text", "random", "colours") if args.ansi else ("text", "random")

    workdir = tempfile.mkdtemp(prefix="oru-bench-")
    prefix = os.path.join(os.path.dirname(exe), "bench-wineprefix")
    capture = os.path.join(workdir, "capture.bin")
    floor_capture = os.path.join(workdir, "floor.bin")
    session = os.path.join(workdir, "bench.sip")
    journal = os.path.join(workdir, "journal.pcapng")
    port = free_port()
    floor_port = free_port()
    with open(session, "wb") as f:
        f.write(session_record("127.0.0.1", port, windows_path(capture)))
    sizes = [int(s) for s in args.sizes.split(",")]

    display = Display()
    screen = Screen(display.name)
    program = None
    floor = None
    summary = []
    try:
        prepare_prefix(prefix, display.name)
        print("%-12s %-7s %11s %14s %14s %7s %14s  %s" % (
            "program", "kind", "bytes", "program B/s", "nc B/s", "ratio", "B/CPU-s", "byte-exact"))
        if args.in_turn:
            def start(label, path):
                started = Program(path, prefix, display.name, session, viewer)
                started.start_capture(capture)
                if label.endswith("+rules"):
                    started.apply_rules(rules, args.rules)
                if label.endswith("+ansi"):
                    started.view("syscommand", str(IDM_ANSI_SEQUENCES))
                if label.endswith("+journal"):
                    started.start_journal(journal)
                return started
            measure_programs_in_turn(programs, start, port, capture, workdir, sizes, args.repeat,
                                     kinds)
            programs = []
        for label, path in programs:
            program = Program(path, prefix, display.name, session, viewer)
            program.start_capture(capture)
            if label.endswith("+rules"):
                program.apply_rules(rules, args.rules)
            if label.endswith("+ansi"):
                program.view("syscommand", str(IDM_ANSI_SEQUENCES))
            if label.endswith("+F4"):
                program.view("command", str(0x1020))  # the send dialog stays open
                wait_for(lambda: program.xdotool("search", "--name", "^Envoyer$").split(), DEADLINE,
                         "the send dialog")
            client = program.client()
            floor = Floor(floor_exe, program.env, floor_port, floor_capture)
            measure_throughput(label, program, port, capture, workdir, sizes, args.repeat,
                               octet_view=args.octet_view and path == exe, kinds=kinds)
            measure_throughput(label + ":floor", floor, floor_port, floor_capture, workdir, sizes,
                               args.repeat, kinds=kinds)
            if args.file_size and not label.endswith("+F4") and not label.startswith("before"):
                measure_file_send(label, program, port, workdir, args.file_size, args.repeat)
            if args.connections and path == exe and not label.endswith("+F4"):
                summary.append(measure_connections(label, program, port, capture, workdir,
                                                   args.connections))
            if args.throughput_only:
                floor.stop()
                floor = None
                program.stop()
                program = None
                continue
            for rate in (int(r) for r in args.rates.split(",")):
                for kind in ("text", "colours") if args.ansi else ("text",):
                    beside = (wineserver_pid(prefix), display.process.pid)
                    share, achieved, others = measure_cpu_share(program, port, capture, rate,
                                                                args.cpu_seconds, kind, beside)
                    floor_share, _, floor_others = measure_cpu_share(floor, floor_port, floor_capture, rate,
                                                                     args.cpu_seconds, kind, beside)
                    summary.append("%s: CPU share while a peer sends 80-column %s lines at %9d B/s in "
                                   "100 writes a second: program %5.1f %%, floor %5.1f %% of a core, "
                                   "ratio %5.2f; Wine server and X server beside the program %s, beside "
                                   "the floor %s" % (
                                       label, kind, achieved, 100 * share, 100 * floor_share,
                                       share / floor_share if floor_share > 0 else 0,
                                       " and ".join(share_text(o) for o in others),
                                       " and ".join(share_text(o) for o in floor_others)))
            floor.stop()
            floor = None
            frames = measure_last_frame(program, port, screen, client, args.frames)
            summary.append(describe_delays(label + ": last byte of a burst to its frame shown", frames))
            waited, exact = measure_trickle(program, port, capture, screen, client,
                                            args.tiny_writes)
            summary.append("%s: %d tiny writes and a close: last byte captured to idle status "
                           "%.1f ms, byte-exact %s" % (label, args.tiny_writes, 1000 * waited,
                                                       "yes" if exact else "NO"))
            if path == exe and not label.endswith("+F4"):
                for flooded in (False, True):
                    box, drop, idle = measure_menu_delays(program, port, capture, screen, client,
                                                          args.menu_tries, flooded)
                    when = "flood" if flooded else "quiet"
                    summary.append(describe_delays(when + ": click on A propos to the box painted", box))
                    summary.append(describe_delays(when + ": click on Connexion to its drop-down", drop))
                    summary.append(describe_delays(when + ": Deconnexion key to the idle status", idle))
                delays = measure_key_delay(program, port, args.keys, args.stream_rate,
                                           args.stream_seconds)
                arrived = [d for d in delays if d is not None]
                summary.append("typed key to peer while a peer streams at %d B/s: %d keys, "
                               "p50 %.1f ms, p99 %.1f ms, max %.1f ms, %d lost" % (
                                   args.stream_rate, len(delays),
                                   1000 * percentile(arrived or [0], 0.5),
                                   1000 * percentile(arrived or [0], 0.99),
                                   1000 * max(arrived or [0]), len(delays) - len(arrived)))
            program.stop()
            program = None
        for line in summary:
            print(line)
    finally:
        if floor is not None:
            floor.stop()
        if program is not None:
            program.stop()
        display.stop()
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
