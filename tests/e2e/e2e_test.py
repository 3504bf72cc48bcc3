#!/usr/bin/env python3
"""End-to-end tests: the real dazirar-oru.exe under Wine on a virtual display,
driven from outside as a user would (menu commands, dialog buttons, typed keys,
a TCP peer on 127.0.0.1), read back through the viewer program (tests/e2e/viewer).

    e2e_test.py --exe build/mingw/dazirar-oru.exe --inspector .../oru-viewer.exe --work DIR
                [--wine-arch win32]

The program and the viewer are of one build; --wine-arch win32 runs the 32-bit build
on a 32-bit Wine prefix of its own (in DIR, as the 64-bit one is).
"""
import argparse
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Wine with the loader that runs programs of WINEARCH on this machine.
WINE = os.path.join(ROOT, "scripts", "wine")
ARGS = None
ENV = None
DISPLAY = None
DEADLINE = 60.0
MARLETT = "/usr/share/wine/fonts/marlett.ttf"  # from the package fonts-wine

IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
IDM_QUIT, IDM_LISTEN, IDM_DISCONNECT = 501, 505, 506
IDM_CAPTURE, IDM_STOP, IDM_PAUSE, IDM_RESUME = 510, 511, 512, 513
IDM_PROPERTIES, IDM_ABOUT = 515, 520
IDC_ADDRESS, IDC_PORT = 101, 102
IDM_KEEP_LISTENING = 0x1030  # "Ecoute continue", a system command


def wait_for(condition, what, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.1)


def listening(port):
    """The status line while listening on `port`."""
    return " Serveur en ecoute sur < %d >" % port


def connected(port):
    """The status line while a peer from 127.0.0.1 is served on `port`."""
    return "Serveur Connecte avec <127.0.0.1 : %d> ..." % port


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def session_record(address, port, capture, wrap):
    return (address.encode() + b"\0" + bytes([port & 0xFF, (port >> 8) & 0xFF, 0]) +
            capture.encode() + b"\0" + (b"\x01" if wrap else b"\xff"))


def inspector(*args):
    # The output goes to a file, not a pipe: when this call is the one that starts
    # Wine's own background processes, they inherit its output and would hold a
    # pipe open long after the viewer has ended.
    # A viewer started in the very moment the program's Wine session comes up has
    # been seen to hang (once in some hundred runs): one that only reads is then
    # started again; one that acts is not, since it may have acted already.
    reads = args[0] in ("state", "caret")
    for attempt in range(3 if reads else 1):
        with tempfile.TemporaryFile() as out:
            try:
                subprocess.run([WINE, ARGS.inspector, *map(str, args)], env=ENV, stdout=out,
                               stderr=subprocess.DEVNULL, timeout=20 if reads else 60)
            except subprocess.TimeoutExpired:
                if reads:
                    continue
                raise
            out.seek(0)
            return out.read().decode("latin-1")
    raise AssertionError("the viewer hung three times on " + " ".join(map(str, args)))


def act(*args):
    """Has the viewer act on the program's windows (press, settext, command,
    syscommand) and returns once it has. The viewer finds a window by its class and
    caption, which it asks the program for: on a busy machine an answer can come too
    late, and the viewer then says so ("error ...") and does nothing. It is asked
    again until it acts, within the deadline."""
    said = []

    def acted():
        said[:] = [inspector(*args).strip()]
        return said[0].startswith("ok")

    try:
        wait_for(acted, "the viewer to " + " ".join(map(str, args)))
    except AssertionError:
        raise AssertionError("the viewer could not %s: %s" % (" ".join(map(str, args)), said[0]))


def state():
    """The program's windows as the inspector reads them."""
    s = {"title": None, "status": None, "size": None, "dialogs": {}}
    dialog = None
    for line in inspector("state").splitlines():
        fields = line.rstrip("\r").split("\t")
        kind = fields[0]
        if kind == "title":
            s["title"] = fields[1]
        elif kind == "status":
            s["status"] = fields[1] if len(fields) > 1 else ""
        elif kind == "size":
            s["size"] = (int(fields[1]), int(fields[2]))
        elif kind == "client":
            s["client"] = tuple(int(v) for v in fields[1:5])
        elif kind == "frame":
            s["frame"] = tuple(int(v) for v in fields[1:5])
        elif kind == "dialog":
            dialog = {"controls": {}, "texts": []}
            s["dialogs"][fields[1] if len(fields) > 1 else ""] = dialog
        elif kind == "control" and dialog is not None:
            control = {"id": int(fields[1]), "class": fields[2], "readonly": fields[3] == "readonly",
                       "checked": fields[4] == "checked", "text": fields[5] if len(fields) > 5 else ""}
            dialog["controls"].setdefault(control["id"], control)
            dialog["texts"].append(control["text"])
    return s


def caret():
    """Where the program's caret is: (holder's control id, class, x, y) and its
    rectangle on the screen, or None without a caret."""
    holder, screen = None, None
    for line in inspector("caret").splitlines():
        fields = line.rstrip("\r").split("\t")
        if fields[0] == "caret" and fields[1] != "none":
            holder = (int(fields[1]), fields[2], int(fields[3]), int(fields[4]))
        elif fields[0] == "screen":
            screen = tuple(int(v) for v in fields[1:5])
    return (holder, screen) if holder else None


def screen_pixels(x, y, w, h):
    """A rectangle of the screen as RGB bytes, row after row."""
    with tempfile.NamedTemporaryFile(suffix=".rgb") as f:
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                        "-depth", "8", "rgb:" + f.name], env=ENV, check=True)
        return bytearray(f.read())


def dark(pixels, i):
    return pixels[i] + pixels[i + 1] + pixels[i + 2] < 3 * 80


def client_area():
    """The main window's client area on the screen: x, y, width, height. A reading of
    the viewer that found no window (it starts while Wine is busy) is asked again."""
    return wait_for(lambda: state().get("client"), "the main window's client area")


def menu_bar_items():
    """The screen rectangles (left, top, right, bottom) of the words on the main
    window's menu bar, read off the screen: runs of columns holding dark pixels,
    split where the gap is wider than a blank between two words of one item."""
    x, y, w, _ = client_area()
    height = 18
    top = y - height - 1
    pixels = screen_pixels(x, top, w, height)
    inked = [any(dark(pixels, (row * w + col) * 3) for row in range(height)) for col in range(w)]
    items, start, gap = [], None, 0
    for col, ink in enumerate(inked + [False] * 9):
        if ink:
            start = col if start is None else start
            gap = 0
        elif start is not None:
            gap += 1
            if gap > 8:
                items.append((x + start, top, x + col - gap + 1, top + height))
                start = None
    return items


def client_pixels():
    """The main window's client area as the screen shows it (RGB bytes), with the
    caret's cell blanked out: it blinks. The same twice in a row, so that what the
    program drew last has reached the screen."""
    def shot():
        x, y, w, h = client_area()
        pixels = screen_pixels(x, y, w, h)
        where = caret()
        if where is not None:
            left, top, right, bottom = where[1]
            for row in range(max(top, y), min(bottom, y + h)):
                start = ((row - y) * w + max(left, x) - x) * 3
                end = ((row - y) * w + min(right, x + w) - x) * 3
                pixels[start:end] = bytes(max(0, end - start))
        return bytes(pixels)

    last = shot()
    end = time.monotonic() + DEADLINE
    while True:
        time.sleep(0.2)
        now = shot()
        if now == last:
            return now
        if time.monotonic() > end:
            raise AssertionError("the window never stopped changing")
        last = now


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], env=ENV, capture_output=True,
                          text=True).stdout


def tcp_queues(local_port, remote_port):
    """(tx, rx) queue sizes of the loopback socket local_port -> remote_port."""
    want_local = "0100007F:%04X" % local_port
    want_remote = "0100007F:%04X" % remote_port
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            parts = line.split()
            if parts[1] == want_local and parts[2] == want_remote:
                tx, rx = parts[4].split(":")
                return int(tx, 16), int(rx, 16)
    return None


class Program:
    """One run of the terminal; always ended by stop()."""

    def __init__(self, *args):
        self.process = subprocess.Popen([WINE, ARGS.exe, *args], env=ENV,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: state()["title"] is not None, "the main window", 120)

    def dialog(self, caption):
        return wait_for(lambda: state()["dialogs"].get(caption), "dialog " + repr(caption))

    def no_dialog(self, caption):
        wait_for(lambda: caption not in state()["dialogs"], "dialog %r to close" % caption)

    def press(self, caption, button):
        self.dialog(caption)
        act("press", caption, button)
        self.no_dialog(caption)

    def status(self, text):
        wait_for(lambda: state()["status"] == text, "status %r" % text)

    def command(self, ident):
        act("command", ident)

    def window(self):
        return wait_for(lambda: (xdotool("search", "--class", "dazirar-oru.exe").split() or
                                 xdotool("search", "--name", "^Dazirar OrU").split()),
                        "the X window")[0]

    def type_keys(self, *keys):
        window = self.window()
        xdotool("windowactivate", "--sync", window)
        xdotool("windowfocus", "--sync", window)
        for k in keys:
            xdotool("key", k)

    def wait_exit(self):
        return self.process.wait(timeout=DEADLINE)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        subprocess.run(["wineserver", "-k"], env=ENV)
        self.process.wait()


class E2E(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="oru-e2e-")
        self.program = None

    def tearDown(self):
        if self.program is not None:
            self.program.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, *args):
        self.program = Program(*args)
        return self.program

    def session(self, name, port, capture="", wrap=False, tail=b""):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(session_record("127.0.0.1", port, capture, wrap) + tail)
        return path

    def filled(self, program, caption):
        dialog = program.dialog(caption)
        return dialog if dialog["controls"].get(IDC_PORT, {}).get("text") else None

    def typed_keys_reach(self, program, peer):
        """Typed keys go to the peer as single bytes, Enter as 13."""
        program.type_keys("a", "z", "Return")
        got = b""
        while len(got) < 3:
            chunk = peer.recv(16)
            self.assertTrue(chunk, "connection closed while waiting for typed keys")
            got += chunk
        self.assertEqual(got, b"az\r")

    def connect(self, port):
        peer = wait_for(lambda: try_connect(port), "the program to accept on %d" % port)
        return peer

    def recording(self, name, port, wrap=False):
        """The program started on a session of its own, recording into a new capture
        file: (program, capture path)."""
        capture = os.path.join(self.dir, name + ".bin")
        p = self.start(windows_path(self.session(name + ".sip", port, windows_path(capture), wrap)))
        p.command(IDM_CAPTURE)
        p.press("parametres du fichier de capture", IDOK)
        wait_for(lambda: os.path.exists(capture), "the capture file")
        return p, capture

    def recording_and_listening(self, name, wrap=False, keep_listening=False):
        """The program started on a session of its own, recording into a new capture
        file, "Ecoute continue" checked first or not, and listening: (program, port,
        capture path)."""
        port = free_port()
        p, capture = self.recording(name, port, wrap)
        if keep_listening:
            act("syscommand", IDM_KEEP_LISTENING)
        p.command(IDM_LISTEN)
        p.status(listening(port))
        return p, port, capture

    def capturing_and_connected(self, name, wrap=False):
        """The program started on a session of its own, recording into a new capture
        file and connected to a peer: (program, peer, capture path)."""
        p, port, capture = self.recording_and_listening(name, wrap)
        peer = self.connect(port)
        p.status(connected(port))
        return p, peer, capture


def try_connect(port):
    try:
        peer = socket.create_connection(("127.0.0.1", port), timeout=2)
    except OSError:
        return None
    peer.settimeout(DEADLINE)
    return peer


class WindowTest(E2E):
    def test_start_shows_the_window_and_quit_asks_then_ends_with_zero(self):
        p = self.start()
        s = state()
        self.assertEqual(s["title"], "Dazirar OrU")
        self.assertEqual(s["status"], "")
        self.assertEqual(s["size"], (845, 570))
        shot = os.path.join(ARGS.work, "e2e-window.png")
        subprocess.run(["import", "-window", "root", shot], env=ENV)
        self.assertTrue(os.path.getsize(shot) > 0)
        before = set(os.listdir(self.dir))
        p.command(IDM_QUIT)
        box = p.dialog("Fin de session")
        self.assertIn("Voulez-vous enregistrer la session?", box["texts"])
        act("press", "Fin de session", IDNO)
        self.assertEqual(p.wait_exit(), 0)
        self.assertEqual(set(os.listdir(self.dir)), before)

    def test_menu_chosen_from_the_keyboard_follows_the_link_state(self):
        # The menu's states cannot be read from another process under Wine, so
        # they are shown by what choosing an item from the keyboard does. The
        # Properties dialog, opened and cancelled, marks that the keys before it
        # have been handled.
        port = free_port()
        p = self.start(windows_path(self.session("menu.sip", port)))

        def settled():
            p.type_keys("Escape", "Escape", "alt+p")
            p.press("Proprietes", IDCANCEL)

        # Idle: "Deconnexion" is grayed; it would have set the status to " ".
        p.type_keys("alt+c", "d")
        settled()
        self.assertEqual(state()["status"], "")
        p.type_keys("alt+c", "m")
        p.status(listening(port))
        # Listening: "Mise en ecoute" is grayed; a second listen on the same port
        # would have failed with a box.
        p.type_keys("alt+c", "m")
        settled()
        s = state()
        self.assertEqual(s["status"], listening(port))
        self.assertNotIn("erreur", s["dialogs"])
        p.type_keys("alt+c", "d")
        p.status(" ")
        p.type_keys("alt+a")
        p.press("parametres du fichier de capture", IDCANCEL)
        # A loaded session is saved without a question.
        p.type_keys("alt+f", "q")
        self.assertEqual(p.wait_exit(), 0)

    def test_about_box_shows_its_text_and_closes_with_escape(self):
        p = self.start()
        p.command(IDM_ABOUT)
        about = p.dialog("A propos")
        self.assertIn("Zidevi VAD eve 0", about["texts"])
        window = wait_for(lambda: xdotool("search", "--name", "^A propos$").split(), "About window")[0]
        xdotool("windowactivate", "--sync", window)
        xdotool("key", "Escape")
        p.no_dialog("A propos")


class LinkTest(E2E):
    def test_listen_connect_type_capture_and_disconnect(self):
        port = free_port()
        capture = os.path.join(self.dir, "capture.txt")
        old = b"old content\n"
        with open(capture, "wb") as f:
            f.write(old)
        p = self.start(windows_path(self.session("link.sip", port, windows_path(capture))))

        p.command(IDM_LISTEN)
        p.status(listening(port))
        peer = self.connect(port)
        p.status(connected(port))
        peer_port = peer.getsockname()[1]

        self.typed_keys_reach(p, peer)

        # Capture: start, record, pause, resume, stop.
        p.command(IDM_CAPTURE)
        dialog = p.dialog("parametres du fichier de capture")
        self.assertEqual(dialog["controls"][201]["text"], windows_path(capture))
        p.press("parametres du fichier de capture", IDOK)
        first = bytes(range(256)) + random.randbytes(3000)
        peer.sendall(first)
        wait_for(lambda: os.path.getsize(capture) >= len(old) + len(first), "the first bytes")
        p.command(IDM_PAUSE)
        paused = random.randbytes(700)
        peer.sendall(paused)
        # The program has taken every byte once nothing waits in either queue; the
        # resume command is queued behind their handling.
        wait_for(lambda: tcp_queues(peer_port, port) == (0, 0) and
                 tcp_queues(port, peer_port) == (0, 0), "the paused bytes to be read")
        p.command(IDM_RESUME)
        last = random.randbytes(900)
        peer.sendall(last)
        expected = old + first + last
        wait_for(lambda: os.path.getsize(capture) >= len(expected), "the last bytes")
        p.command(IDM_STOP)
        with open(capture, "rb") as f:
            self.assertEqual(f.read(), expected)

        # The peer's close returns the link to idle.
        peer.close()
        p.status(" ")

        # Listening again; "Deconnexion" closes the peer's connection.
        p.command(IDM_LISTEN)
        p.status(listening(port))
        peer = self.connect(port)
        p.status(connected(port))
        p.command(IDM_DISCONNECT)
        self.assertEqual(peer.recv(16), b"")
        p.status(" ")
        peer.close()

    def test_a_flood_of_random_bytes_is_captured_exactly(self):
        p, peer, capture = self.capturing_and_connected("flood")
        data = random.Random(11).randbytes(10 * 1024 * 1024)
        peer.sendall(data)
        peer.close()
        # The close is handled once everything before it has been read, and each
        # chunk is in the capture file before it is shown.
        p.status(" ")
        with open(capture, "rb") as f:
            got = f.read()
        self.assertEqual(len(got), len(data))
        if got != data:
            first = next(i for i in range(len(data)) if got[i] != data[i])
            self.fail("the capture differs from byte %d on" % first)

    def test_port_in_use_cannot_listen(self):
        holder = socket.socket()
        holder.bind(("127.0.0.1", 0))
        holder.listen(1)
        port = holder.getsockname()[1]
        try:
            p = self.start(windows_path(self.session("busy.sip", port)))
            p.command(IDM_LISTEN)
            box = p.dialog("erreur")
            self.assertIn("mise en ecoute impossible ", box["texts"])
            p.press("erreur", IDOK)
            p.status(" ")
        finally:
            holder.close()


class ModalTest(E2E):
    def test_a_flood_behind_the_about_box_and_the_properties_dialog_loses_nothing(self):
        p, peer, capture = self.capturing_and_connected("modal", wrap=True)
        rng = random.Random(12)
        expected = b""
        for caption, command, close in (("A propos", IDM_ABOUT, IDOK),
                                        ("Proprietes", IDM_PROPERTIES, IDCANCEL)):
            p.command(command)
            before = wait_for(lambda: self.filled(p, caption) if caption == "Proprietes"
                              else p.dialog(caption), "dialog " + caption)
            caret_before = caret()
            data = rng.randbytes(1024 * 1024)
            expected += data
            peer.sendall(data)
            wait_for(lambda: os.path.getsize(capture) >= len(expected), "the flood behind " + caption)
            if caption == "Proprietes":
                # The edit boxes keep their text and their caret: received bytes go
                # to the terminal's grid, not to the dialog.
                after = p.dialog(caption)
                self.assertEqual({i: c["text"] for i, c in after["controls"].items()},
                                 {i: c["text"] for i, c in before["controls"].items()})
                self.assertIsNotNone(caret_before, "no caret in the dialog")
                self.assertEqual(caret_before[0][1].lower(), "edit")
                self.assertEqual(caret(), caret_before)
            p.press(caption, close)
            with open(capture, "rb") as f:
                self.assertTrue(f.read() == expected, "the capture differs after " + caption)
            # What the chunks drew behind the box is what a repaint draws.
            shown = client_pixels()
            self.assertEqual(inspector("repaint").strip(), "ok")
            repainted = client_pixels()
            differing = sum(1 for a, b in zip(shown, repainted) if a != b) // 3
            self.assertEqual(differing, 0, "pixels that a repaint changed after " + caption)
        peer.close()
        p.status(" ")


def drop_down_painted(item):
    """True when a drop-down is drawn under the menu bar item: the rectangle below it
    is mostly one light colour (the menu's) with dark text on it. Whatever stood there
    before has no text, and a window that was never painted shows no such pattern."""
    left, _, _, bottom = item
    w, h = 90, 40
    pixels = screen_pixels(left, bottom + 2, w, h)
    counts = {}
    for i in range(0, len(pixels), 3):
        counts[bytes(pixels[i:i + 3])] = counts.get(bytes(pixels[i:i + 3]), 0) + 1
    background, most = max(counts.items(), key=lambda kv: kv[1])
    text = sum(1 for i in range(0, len(pixels), 3) if dark(pixels, i))
    return most > w * h // 2 and sum(background) > 3 * 160 and text > 40


class FloodTest(E2E):
    def test_the_menu_opens_and_disconnects_while_a_peer_floods(self):
        p, peer, capture = self.capturing_and_connected("menuflood")
        items = menu_bar_items()
        self.assertEqual(len(items), 5, "the menu bar's items were not found: %r" % items)
        connexion = items[1]
        self.assertFalse(drop_down_painted(connexion))
        # The peer sends a block of random bytes again and again as fast as it can,
        # until the connection breaks or its bound is reached.
        block = random.Random(15).randbytes(1000003)
        sent = [0]
        ended = {}

        def flood():
            end = time.monotonic() + 60
            try:
                while time.monotonic() < end and sent[0] < (8 << 30):
                    peer.sendall(block)
                    sent[0] += len(block)
                ended["why"] = "bound"
            except OSError as e:
                ended["why"] = "broken: %s" % e
            ended["at"] = time.monotonic()

        flooding = threading.Thread(target=flood)
        flooding.start()
        try:
            wait_for(lambda: os.path.getsize(capture) > 4 * len(block), "the flood to arrive")
            xdotool("mousemove", (connexion[0] + connexion[2]) // 2, (connexion[1] + connexion[3]) // 2)
            xdotool("click", "1")
            wait_for(lambda: drop_down_painted(connexion), "the drop-down", 90)
            painted = time.monotonic()
            xdotool("key", "d")
            p.status(" ")
        finally:
            flooding.join()
            peer.close()
        self.assertTrue(ended["why"].startswith("broken"),
                        "the peer stopped by itself before Deconnexion acted (%s)" % ended["why"])
        self.assertLess(painted, ended["at"], "the drop-down was painted only after the flood")
        size = os.path.getsize(capture)
        self.assertGreater(size, 4 * len(block))
        self.assertLessEqual(size, sent[0] + len(block))
        with open(capture, "rb") as f:
            offset = 0
            while offset < size:
                got = f.read(len(block))
                if got != block[:len(got)]:
                    self.fail("the capture differs from what was sent in bytes %d to %d" %
                              (offset, offset + len(got)))
                offset += len(got)


def cell_on_screen(row, col):
    """The centre of a cell of the view on the screen, for the 10 by 18 cell that Wine's
    stand-in for the Terminal font gives: the text area's left edge is 10 pixels into
    the client area, its bottom 30 pixels above the client's bottom."""
    x, y, _, h = client_area()
    top = h - 30 - 25 * 18
    return x + 10 + col * 10 + 5, y + top + row * 18 + 9


class HistoryTest(E2E):
    def test_a_row_of_the_history_is_selected_and_pasted_back_to_the_peer(self):
        p, peer, _ = self.capturing_and_connected("history")
        lines = b"".join(b"line %03d: serial A%05d ready\r\n" % (n, n * 7) for n in range(1, 301))
        peer.sendall(lines)
        # 300 line feeds from the top row: lines 1 to 276 went to the history, the grid
        # shows lines 277 to 300 and the cursor's empty row.
        wait_for(lambda: os.path.getsize(os.path.join(self.dir, "history.bin")) == len(lines),
                 "the lines to arrive")
        live = client_pixels()
        xdotool("mousemove", *cell_on_screen(12, 40))  # keys go to the window under the pointer
        p.type_keys("shift+Prior")  # back a page: lines 253 to 277
        wait_for(lambda: client_pixels() != live, "the view to go back")
        # A drag over the view's sixth row, line 258, from its first cell past its end.
        start, end = cell_on_screen(5, 0), cell_on_screen(5, 60)
        xdotool("mousemove", *start)
        xdotool("mousedown", "1")
        xdotool("mousemove", *end)
        xdotool("mouseup", "1")
        xdotool("click", "3")
        expected = b"line 258: serial A01806 ready"
        got = b""
        while len(got) < len(expected):
            chunk = peer.recv(64)
            self.assertTrue(chunk, "connection closed while waiting for the paste")
            got += chunk
        self.assertEqual(got, expected)
        # A typed key goes to the peer and brings the live rows back as they were.
        p.type_keys("q")
        self.assertEqual(peer.recv(16), b"q")
        wait_for(lambda: client_pixels() == live, "the live rows")


class OctetTest(E2E):
    def test_the_octet_view_shows_each_chunk_as_it_came_between_the_connection_marks(self):
        p, peer, capture = self.capturing_and_connected("octets")
        peer.sendall(b"\x02ABC\x03")
        wait_for(lambda: os.path.getsize(capture) == 5, "the first chunk")
        time.sleep(0.3)  # the second chunk comes about 300 ms later
        peer.sendall(b"\xff\x00")
        peer.close()
        p.status(" ")
        text_view = client_pixels()
        xdotool("mousemove", *cell_on_screen(12, 40))  # keys go to the window under the pointer
        p.type_keys("F2")
        wait_for(lambda: client_pixels() != text_view, "the octet view")
        xdotool("mousemove", *cell_on_screen(0, 0))
        xdotool("mousedown", "1")
        xdotool("mousemove", *cell_on_screen(5, 78))
        xdotool("mouseup", "1")
        copied = wait_for(lambda: "Fin de connexion" in inspector("clipboard") and inspector("clipboard"),
                          "the copied rows")
        rows = copied.split("\r\n")
        self.assertEqual(len(rows), 6, rows)
        time_of_day = r"\d\d:\d\d:\d\d\.\d{3}  "
        self.assertRegex(rows[0], "^" + time_of_day + r"Connexion de 127\.0\.0\.1:\d+$")
        self.assertRegex(rows[1], "^" + time_of_day + r"\+\d+\.\d{3} s  5 octets recus$")
        self.assertEqual(rows[2], "00000000  02 41 42 43 03".ljust(60) + ".ABC.")
        interval = re.fullmatch(time_of_day + r"\+(\d+\.\d{3}) s  2 octets recus", rows[3])
        self.assertIsNotNone(interval, rows[3])
        self.assertTrue(0.2 <= float(interval.group(1)) <= 2.0, rows[3])
        self.assertEqual(rows[4], "00000005  FF 00".ljust(60) + "..")
        self.assertRegex(rows[5], "^" + time_of_day + "Fin de connexion$")
        # F2 again: the text view as it was.
        p.type_keys("F2")
        wait_for(lambda: client_pixels() == text_view, "the text view as it was")


def octet_rows_copied(program, last_row, complete):
    """The octet view (F2), its rows 0 to `last_row` dragged over and copied: the
    clipboard's text once `complete(text)` holds."""
    xdotool("mousemove", *cell_on_screen(12, 40))  # keys go to the window under the pointer
    program.type_keys("F2")
    xdotool("mousemove", *cell_on_screen(0, 0))
    xdotool("mousedown", "1")
    xdotool("mousemove", *cell_on_screen(last_row, 78))
    xdotool("mouseup", "1")
    return wait_for(lambda: complete(inspector("clipboard")) and inspector("clipboard"), "the copied rows")


def find_dialog():
    """The caption of the open Find dialog (the system's, in the system's language),
    known by its text box edt1; None while there is none."""
    for caption, dialog in state()["dialogs"].items():
        if 1152 in dialog["controls"]:
            return caption
    return None


def inverted_cells(row, columns):
    """Which of the view's first `columns` cells of a row show mostly dark pixels:
    white on black, as a selection is drawn."""
    x, y = cell_on_screen(row, 0)
    pixels = screen_pixels(x - 5, y - 9, 10 * columns, 18)
    marks = []
    for col in range(columns):
        darks = sum(dark(pixels, ((line * 10 * columns) + col * 10 + i) * 3)
                    for line in range(18) for i in range(10))
        marks.append(darks > 90)
    return marks


def selected_spans():
    """(view row, first column, last column) of the runs of cells drawn white on black,
    two cells or more (the caret is one), from one shot of the text area."""
    x, y = cell_on_screen(0, 0)
    width, height = 79 * 10, 25 * 18
    pixels = screen_pixels(x - 5, y - 9, width, height)
    spans = []
    for row in range(25):
        marks = [sum(dark(pixels, ((row * 18 + line) * width + col * 10 + i) * 3)
                     for line in range(0, 18, 2) for i in range(0, 10, 2)) > 22
                 for col in range(79)]
        col = 0
        while col < 79:
            if marks[col]:
                end = col
                while end + 1 < 79 and marks[end + 1]:
                    end += 1
                if end > col:
                    spans.append((row, col, end))
                col = end + 1
            else:
                col += 1
    return spans


class FindTest(E2E):
    def test_a_line_is_found_shown_at_the_top_then_the_end_of_the_search_is_told(self):
        p, peer, capture = self.capturing_and_connected("find")
        lines = b"".join(b"line %03d: serial A%05d ready\r\n" % (n, n * 7) for n in range(1, 301))
        peer.sendall(lines)
        wait_for(lambda: os.path.getsize(capture) == len(lines), "the lines to arrive")
        live = client_pixels()
        xdotool("mousemove", *cell_on_screen(12, 40))  # keys go to the window under the pointer
        p.type_keys("F3")
        caption = wait_for(find_dialog, "the Find dialog")
        xdotool("type", "line 100:")
        xdotool("key", "Return")
        wait_for(lambda: client_pixels() != live, "the view to move to the match")
        xdotool("key", "Return")
        p.dialog("Rechercher")
        self.assertIn('Impossible de trouver "line 100:"', state()["dialogs"]["Rechercher"]["texts"])
        xdotool("key", "Escape")
        p.no_dialog("Rechercher")
        xdotool("key", "Escape")
        p.no_dialog(caption)
        # Line 100 is the view's top row (the dialog covered part of it), its first 9
        # cells selected: a drag over it copies it.
        wait_for(lambda: inverted_cells(0, 10) == [True] * 9 + [False], "line 100 selected at the top")
        xdotool("mousemove", *cell_on_screen(0, 0))
        xdotool("mousedown", "1")
        xdotool("mousemove", *cell_on_screen(0, 40))
        xdotool("mouseup", "1")
        wait_for(lambda: inspector("clipboard") == "line 100: serial A00700 ready", "the copied row")
        # A typed key reaches the peer and brings the live rows back.
        p.type_keys("q")
        self.assertEqual(peer.recv(16), b"q")
        wait_for(lambda: client_pixels() == live, "the live rows")


    def test_the_search_goes_on_from_its_place_while_lines_arrive_after_a_drag_and_from_the_dialog(self):
        p, peer, capture = self.capturing_and_connected("findplace")
        # Line n holds "ok" at column n: the column of a match tells its line.
        sent = b"".join(b" " * n + b"ok\r\n" for n in range(1, 41))
        peer.sendall(sent)
        wait_for(lambda: os.path.getsize(capture) == len(sent), "the lines to arrive")

        def match_on_line(n):
            return lambda: [s for s in selected_spans() if s[1:] == (n, n + 1)]

        def press_f3():
            xdotool("mousemove", *cell_on_screen(12, 40))  # keys go to the window under the pointer
            p.type_keys("F3")

        press_f3()
        caption = wait_for(find_dialog, "the Find dialog")
        xdotool("type", "ok")
        xdotool("key", "Return")
        xdotool("key", "Escape")
        p.no_dialog(caption)
        wait_for(match_on_line(40), "the match on the newest line")
        # Lines come between the presses, each with "ok" further right than any before:
        # every F3 finds the line above the last match all the same.
        newer = b"x" * 70 + b"ok\r\n"
        for line in range(39, 34, -1):
            sent += newer * 2
            peer.sendall(newer * 2)
            wait_for(lambda: os.path.getsize(capture) == len(sent), "the newer lines")
            press_f3()
            wait_for(match_on_line(line), "the match on line %d" % line)
        # A drag over the row found, to copy it: F3 goes on past it.
        row = match_on_line(35)()[0][0]
        xdotool("mousemove", *cell_on_screen(row, 0))
        xdotool("mousedown", "1")
        xdotool("mousemove", *cell_on_screen(row, 78))
        xdotool("mouseup", "1")
        wait_for(lambda: inspector("clipboard") == " " * 35 + "ok", "the row copied")
        press_f3()
        wait_for(match_on_line(34), "the match on line 34")
        # F3 pressed in the dialog's text box finds again, as in the window.
        p.command(0x1010)  # the system menu's Rechercher... item
        caption = wait_for(find_dialog, "the Find dialog")
        dialog = wait_for(lambda: xdotool("search", "--name", "^%s$" % re.escape(caption)).split(),
                          "the Find dialog's X window")[0]
        xdotool("windowactivate", "--sync", dialog)
        xdotool("windowfocus", "--sync", dialog)
        xdotool("mousemove", "--window", dialog, 30, 40)
        xdotool("key", "F3")
        xdotool("key", "Escape")
        p.no_dialog(caption)
        wait_for(match_on_line(33), "the match on line 33")


class SendTest(E2E):
    def dialog_keys(self, caption, *keys):
        """Keys typed into a dialog of the program, the pointer on it."""
        window = wait_for(lambda: xdotool("search", "--name", "^%s$" % re.escape(caption)).split(),
                          "the X window of " + caption)[0]
        xdotool("mousemove", "--window", window, 20, 12)
        for k in keys:
            xdotool(*k) if isinstance(k, tuple) else xdotool("key", k)

    def line(self, text):
        return wait_for(lambda: text in self.program.dialog("Envoyer")["texts"] and text,
                        "the send dialog's line %r" % text)

    def test_the_peer_is_answered_in_hexadecimal_and_with_escapes_then_sent_a_file(self):
        p, peer, capture = self.capturing_and_connected("send")
        connect = b"\x10\x0c\x00\x04MQTT\x04\x02\x00\x3c\x00\x00"
        peer.sendall(connect)
        wait_for(lambda: os.path.getsize(capture) == len(connect), "the request")
        xdotool("mousemove", *cell_on_screen(12, 40))
        p.type_keys("F4")
        p.dialog("Envoyer")
        # The text first, in the combo box that has the keyboard; then its way of
        # writing, whose button then has the keyboard: Shift+Tab goes back to the text,
        # End and Shift+Home select it to be typed over.
        self.dialog_keys("Envoyer", ("type", "20 02 00 00"), "alt+h")
        self.line("4 octets")
        self.dialog_keys("Envoyer", "Return")
        got = b""
        while len(got) < 4:
            got += peer.recv(16)
        self.assertEqual(got, b"\x20\x02\x00\x00")
        # Wrong texts send nothing, and the line says why.
        self.dialog_keys("Envoyer", "alt+t", "shift+Tab", "End", "shift+Home", ("type", "\\x4"))
        self.line("\\x sans deux chiffres hexadecimaux en position 1")
        self.dialog_keys("Envoyer", "Return", "alt+h", "shift+Tab", "End", "shift+Home", ("type", "ABC"))
        self.line("chiffre hexadecimal seul en position 3")
        self.dialog_keys("Envoyer", "Return", "alt+t", "shift+Tab", "End", "shift+Home", ("type", "OK\\r\\n\\x00\\xFF"))
        self.line("6 octets")
        self.dialog_keys("Envoyer", "Return")
        got = b""
        while len(got) < 6:
            got += peer.recv(16)
        self.assertEqual(got, b"OK\r\n\x00\xff", "a wrong text sent something")
        reply = b"\x30\x0b\x00\x03t/1hello\xe0\x00"
        peer.sendall(reply)
        wait_for(lambda: os.path.getsize(capture) == len(connect) + len(reply), "the second frame")
        with open(capture, "rb") as f:
            self.assertEqual(f.read(), connect + reply, "the capture holds what was received only")

        # The octet view: both directions, each chunk with its interval.
        self.dialog_keys("Envoyer", "Escape")
        p.no_dialog("Envoyer")
        rows = octet_rows_copied(p, 8, lambda text: text.count("\r\n") == 8).split("\r\n")
        header = r"^\d\d:\d\d:\d\d\.\d{3}  \+\d+\.\d{3} s  "
        self.assertRegex(rows[0], r"^\d\d:\d\d:\d\d\.\d{3}  Connexion de 127\.0\.0\.1:\d+$")
        self.assertRegex(rows[1], header + "14 octets recus$")
        self.assertEqual(rows[2], "00000000  10 0C 00 04 4D 51 54 54  04 02 00 3C 00 00        ....MQTT...<..")
        self.assertRegex(rows[3], header + "4 octets envoyes$")
        self.assertEqual(rows[4], "00000000  20 02 00 00".ljust(60) + " ...")
        self.assertRegex(rows[5], header + "6 octets envoyes$")
        self.assertEqual(rows[6], "00000004  4F 4B 0D 0A 00 FF".ljust(60) + "OK....")
        self.assertRegex(rows[7], header + "14 octets recus$")
        self.assertEqual(rows[8], "0000000E  30 0B 00 03 74 2F 31 68  65 6C 6C 6F E0 00        0...t/1hello..")
        p.type_keys("F2")

        # A file of 3 MB, chosen in the Open dialog, while the peer sends too.
        data = random.Random(17).randbytes(3 * 1024 * 1024 + 3)
        path = os.path.join(self.dir, "file.bin")
        with open(path, "wb") as f:
            f.write(data)
        flood = random.Random(18).randbytes(1024 * 1024)
        sender = threading.Thread(target=lambda: [peer.sendall(flood[i:i + 4096]) for i in range(0, len(flood), 4096)])
        xdotool("mousemove", *cell_on_screen(12, 40))
        p.type_keys("F4")
        p.dialog("Envoyer")
        self.dialog_keys("Envoyer", "alt+f")
        p.dialog("Fichier a envoyer")
        self.dialog_keys("Fichier a envoyer", ("type", "--delay", "20", windows_path(path)), "Return")
        sender.start()
        got = b""
        while len(got) < len(data):
            chunk = peer.recv(1 << 20)
            self.assertTrue(chunk, "the connection closed while the file came")
            got += chunk
        sender.join()
        self.assertTrue(got == data, "the file reached the peer otherwise")
        self.line("file.bin : 3 145 731 octets envoyes")
        expected = connect + reply + flood
        wait_for(lambda: os.path.getsize(capture) == len(expected), "the peer's bytes in the capture")
        with open(capture, "rb") as f:
            self.assertTrue(f.read() == expected, "the capture differs from what the peer sent")


def accepted_socket(port, peer):
    """What `ss` tells of the program's end of the connection from `peer`."""
    out = subprocess.run(["ss", "-tnoH", "state", "established"], capture_output=True,
                         text=True, check=True).stdout
    for line in out.splitlines():
        fields = line.split()
        if fields[2:4] == ["127.0.0.1:%d" % port, "127.0.0.1:%d" % peer.getsockname()[1]]:
            return line
    return None


def keepalive_left(port, peer):
    """The seconds left before the program's next keep-alive probe of the connection
    from `peer`, as `ss` tells them; None when it sends none."""
    where = accepted_socket(port, peer) or ""
    timer = re.search(r"timer:\(keepalive,(?:(\d+)min)?([\d.]+)(m?s)", where)
    if timer is None:
        return None
    return int(timer.group(1) or 0) * 60 + float(timer.group(2)) / (1000 if timer.group(3) == "ms" else 1)


def listen_queue(port):
    """The length of the queue of the program's listening socket on `port`, as `ss`
    tells it, or None while nothing listens there."""
    out = subprocess.run(["ss", "-ltnH"], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        fields = line.split()
        if fields[3] == "127.0.0.1:%d" % port:
            return int(fields[2])
    return None


def refused(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=5).close()
    except ConnectionRefusedError:
        return True
    return False


def wait_for_capture(capture, expected, what, deadline=DEADLINE):
    wait_for(lambda: os.path.getsize(capture) >= len(expected), what, deadline)
    with open(capture, "rb") as f:
        return f.read()


class KeepListeningTest(E2E):
    def test_clients_that_come_at_once_or_wait_are_served_in_turn_and_lose_nothing(self):
        p, port, capture = self.recording_and_listening("continue")
        self.assertEqual(listen_queue(port), 0)
        # Checked while listening: the port is opened anew, with room for peers that wait.
        act("syscommand", IDM_KEEP_LISTENING)
        wait_for(lambda: (listen_queue(port) or 0) > 0, "a listening socket with a queue")
        # Twenty clients connect at once, each sends a numbered line and closes: they
        # are served one after the other, in the order they came.
        lines = [b"ligne %02d du client %02d\r\n" % (i, i) for i in range(20)]
        clients = [socket.create_connection(("127.0.0.1", port), timeout=DEADLINE) for _ in lines]
        for client, line in zip(clients, lines):
            client.sendall(line)
            client.close()
        self.assertEqual(wait_for_capture(capture, b"".join(lines), "the twenty lines", 120),
                         b"".join(lines))
        p.status(listening(port))

        # A client that connects while another is served waits, with what it sends,
        # until that connection ends; then it is taken at once.
        first = self.connect(port)
        p.status(connected(port))
        first.sendall(b"premier ")
        second = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        second.sendall(b"second, en attendant ")
        second_port = second.getsockname()[1]
        wait_for(lambda: (tcp_queues(port, second_port) or (0, 0))[1] == 21,
                 "the waiting client's bytes in its queue")
        first.sendall(b"fin du premier\r\n")
        first.close()
        expected = b"".join(lines) + b"premier fin du premier\r\nsecond, en attendant "
        self.assertEqual(wait_for_capture(capture, expected, "the waiting client's bytes"), expected)
        p.status(connected(port))
        # Every connection the program takes is probed after 30 s of silence.
        wait_for(lambda: accepted_socket(port, second), "the accepted socket in ss")
        left = keepalive_left(port, second)
        self.assertTrue(left is not None and 25 <= left <= 30, accepted_socket(port, second))
        second.sendall(b"et apres\r\n")
        second.close()
        expected += b"et apres\r\n"
        self.assertEqual(wait_for_capture(capture, expected, "the second client's last bytes"), expected)
        p.status(listening(port))

        # "Deconnexion" while a client is served and another waits: idle, the port free.
        served = self.connect(port)
        p.status(connected(port))
        waiting = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        p.command(IDM_DISCONNECT)
        p.status(" ")
        self.assertEqual(served.recv(16), b"")
        with self.assertRaises((ConnectionResetError, ConnectionAbortedError)):
            if waiting.recv(16) == b"":
                raise ConnectionResetError
        self.assertTrue(refused(port))
        with socket.socket() as again:
            again.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            again.bind(("127.0.0.1", port))
            again.listen()

    def test_one_peer_a_listen_unless_checked_and_checked_while_served_it_listens_again(self):
        p, port, capture = self.recording_and_listening("un")
        first = self.connect(port)
        p.status(connected(port))
        self.assertTrue(refused(port))
        # Checked while a peer is served: when it leaves, the program listens again.
        act("syscommand", IDM_KEEP_LISTENING)
        first.sendall(b"un\r\n")
        first.close()
        p.status(listening(port))
        second = self.connect(port)
        second.sendall(b"deux\r\n")
        wait_for_capture(capture, b"un\r\ndeux\r\n", "the second peer's bytes")
        # Unchecked while served: the peer that waited is refused.
        waiting = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
        act("syscommand", IDM_KEEP_LISTENING)
        with self.assertRaises((ConnectionResetError, ConnectionAbortedError)):
            if waiting.recv(16) == b"":
                raise ConnectionResetError
        wait_for(lambda: refused(port), "the listener to close")
        second.close()
        p.status(" ")
        self.assertEqual(wait_for_capture(capture, b"un\r\ndeux\r\n", "the capture"), b"un\r\ndeux\r\n")


class VanishedPeerTest(E2E):
    """Run in a network namespace of its own (tests/e2e/in-own-network), whose
    loopback it takes down to cut the link."""

    def test_a_silent_peer_is_left_alone_and_one_whose_link_is_cut_is_gone_within_ninety_seconds(self):
        p, port, capture = self.recording_and_listening("vanished", keep_listening=True)
        peer = self.connect(port)
        p.status(connected(port))
        # The program's sockets are in this namespace: the cut reaches them.
        wait_for(lambda: accepted_socket(port, peer), "the accepted socket in ss")
        sent = b"avant la coupure\r\n"
        peer.sendall(sent)
        wait_for_capture(capture, sent, "the bytes sent before the cut")
        # A peer that is there but silent answers the probes and is not disturbed: the
        # timer, run down to the first probe, starts again from 30 s.
        lowest = [30.0]

        def probe_answered():
            left = keepalive_left(port, peer)
            if left is None:  # between two timers
                return False
            lowest[0] = min(lowest[0], left)
            return left > lowest[0] + 5

        wait_for(probe_answered, "a probe answered", 60)
        self.assertEqual(state()["status"], connected(port))
        subprocess.run(["ip", "link", "set", "lo", "down"], check=True)
        cut = time.monotonic()
        wait_for(lambda: state()["status"] == listening(port), "the vanished peer to be noticed", 100)
        gone = time.monotonic() - cut
        print("the vanished peer was seen gone %.1f s after the cut" % gone)
        self.assertLessEqual(gone, 90)
        with open(capture, "rb") as f:
            self.assertEqual(f.read(), sent)
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        peer.close()


IDM_RULES = 0x1040  # "Reponses automatiques...", a system command
RULES_CAPTION = "Reponses automatiques"
IDC_RULES_LINE, IDC_RULES_ACTIVE = 1102, 1103

# The README's example: a greeting, MQTT's CONNECT and PINGREQ answered, a modem's AT
# answered 50 ms later, and a Modbus/TCP poll whose reply carries its transaction id.
RULES = r"""# a comment; blank lines are allowed
connexion                  -> texte "Bienvenue\r\n"
recu hex "10 ?? 00 04 4D 51 54 54"   -> hex "20 02 00 00"
recu hex "C0 00"           -> hex "D0 00"
recu texte "AT\r"          -> apres 50 ms texte "OK\r\n"
recu hex "?? ?? 00 00 00 06 01 03 00 00 00 02" -> hex "$1 $2 00 00 00 07 01 03 04 00 2A 00 2B"
"""
MQTT_CONNECT = bytes.fromhex("100c00044d5154540402003c")
PINGREQ = bytes.fromhex("c000")


def modbus_poll(transaction):
    return transaction + bytes.fromhex("000000060103 00000002".replace(" ", ""))


def modbus_reply(transaction):
    return transaction + bytes.fromhex("00000007010304002a002b")


def receive_exactly(peer, count, what):
    got = b""
    while len(got) < count:
        chunk = peer.recv(count - len(got))
        if not chunk:
            raise AssertionError("the connection closed while waiting for " + what)
        got += chunk
    return got


def nothing_more(peer, seconds=0.4):
    peer.settimeout(seconds)
    try:
        extra = peer.recv(64)
    except socket.timeout:
        extra = b""
    peer.settimeout(DEADLINE)
    return extra


def rules_line():
    """What the rules dialog's line says of the text."""
    return state()["dialogs"][RULES_CAPTION]["controls"][IDC_RULES_LINE]["text"]


def type_rules(text):
    """Replaces the rules dialog's text by typing, as a person would."""
    window = wait_for(lambda: xdotool("search", "--name", "^%s$" % RULES_CAPTION).split(), "the rules window")[0]
    xdotool("mousemove", "--window", window, "60", "60")
    xdotool("click", "1")
    xdotool("key", "ctrl+Home")
    xdotool("key", "shift+ctrl+End")
    xdotool("type", "--delay", "2", text)


class RulesTest(E2E):
    def test_requests_cut_or_whole_are_answered_once_in_order_each_connection_greeted_and_timed_sends_stop(self):
        p, port, capture = self.recording_and_listening("rules", keep_listening=True)
        act("syscommand", IDM_RULES)
        p.dialog(RULES_CAPTION)
        type_rules(RULES)
        wait_for(lambda: rules_line() == "5 regles", "the line to count the rules typed")
        act("press", RULES_CAPTION, IDOK)
        act("click", RULES_CAPTION, IDC_RULES_ACTIVE)
        wait_for(lambda: state()["dialogs"][RULES_CAPTION]["controls"][IDC_RULES_ACTIVE]["checked"], "Actives")

        first = self.connect(port)
        first.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.assertEqual(receive_exactly(first, 11, "the greeting"), b"Bienvenue\r\n")
        requests = MQTT_CONNECT + PINGREQ + b"AT\r"
        replies = bytes.fromhex("20020000") + bytes.fromhex("d000") + b"OK\r\n"
        for byte in requests:  # one byte a write
            first.send(bytes([byte]))
            time.sleep(0.005)
        self.assertEqual(receive_exactly(first, len(replies), "the replies"), replies)
        first.sendall(requests)  # and all at once
        self.assertEqual(receive_exactly(first, len(replies), "the replies"), replies)
        self.assertEqual(nothing_more(first), b"", "a request was answered more than once")
        for transaction in (b"\x00\x01", b"\x01\x02"):
            first.sendall(modbus_poll(transaction))
            self.assertEqual(receive_exactly(first, 13, "the Modbus reply"), modbus_reply(transaction))

        # The next peer is greeted too. A text with an error names its line and
        # column, and the rules in force stay as they were.
        first.close()
        second = self.connect(port)
        self.assertEqual(receive_exactly(second, 11, "the second greeting"), b"Bienvenue\r\n")
        type_rules(RULES + 'recu hex "C0 0" -> hex "D0 00"\n')
        wait_for(lambda: rules_line() == "ligne 7, colonne 14 : chiffre hexadecimal seul", "the error")
        second.sendall(PINGREQ)
        self.assertEqual(receive_exactly(second, 2, "the PINGRESP"), bytes.fromhex("d000"))
        second.close()
        p.status(listening(port))

        # Every 100 ms while a peer is connected: about ten a second, and none once it
        # has gone.
        type_rules('toutes 100 ms -> hex "2E"\n')
        wait_for(lambda: rules_line() == "1 regle", "the line to count the rule")
        act("press", RULES_CAPTION, IDOK)
        third = self.connect(port)
        self.assertEqual(receive_exactly(third, 1, "the first timed send"), b".")
        start = time.monotonic()
        dots = 1
        while time.monotonic() - start < 1.0:
            third.settimeout(max(0.01, 1.0 - (time.monotonic() - start)))
            try:
                dots += len(third.recv(64))
            except socket.timeout:
                break
        third.settimeout(DEADLINE)
        self.assertTrue(8 <= dots <= 12, "%d timed sends in a second" % dots)
        third.shutdown(socket.SHUT_WR)
        while third.recv(64):  # the program ends the connection: its sends end there
            pass
        third.close()
        p.status(listening(port))


IDM_ANSI_SEQUENCES = 0x1050  # "Sequences ANSI", a system command
# The colours of 32, 33 and 31 as the program draws them on white.
GREEN, GOLD, RED = b"\x00\x80\x00", b"\xa0\x78\x00", b"\xaa\x00\x00"
BLACK = b"\x00\x00\x00"


def cell_colours(row, col):
    """The colours the pixels of a view cell show."""
    x, y = cell_on_screen(row, col)
    pixels = screen_pixels(x - 5, y - 9, 10, 18)
    return {bytes(pixels[i:i + 3]) for i in range(0, len(pixels), 3)}


def copied_rows(first, last):
    """The text of view rows first to last, as a drag over them copies it."""
    before = inspector("clipboard")
    xdotool("mousemove", *cell_on_screen(first, 0))
    xdotool("mousedown", "1")
    xdotool("mousemove", *cell_on_screen(last, 78))
    xdotool("mouseup", "1")
    return wait_for(lambda: inspector("clipboard") != before and inspector("clipboard"), "the copied rows")


class ConsoleTest(E2E):
    # Log lines of three levels as an ESP-IDF-style device colours them, and a
    # Zephyr-style shell line edited in place: erased to its end, back three.
    LOG = (b"\x1b[0;32mI (1201) boot: ready\x1b[0m\r\n"
           b"\x1b[0;33mW (1230) wifi: weak\x1b[0m\r\n"
           b"\x1b[0;31mE (1234) wifi: lost\x1b[0m\r\n"
           b"uart:~$ kernel thrx\x1b[3D\x1b[Khreads\r\n")

    def test_a_devices_colours_and_line_editing_show_with_the_option_and_not_without(self):
        p, peer, capture = self.capturing_and_connected("console")
        act("syscommand", IDM_ANSI_SEQUENCES)
        peer.sendall(self.LOG)
        wait_for(lambda: os.path.getsize(capture) == len(self.LOG), "the log in the capture")
        client_pixels()  # what was drawn has reached the screen
        for row, colour in ((0, GREEN), (1, GOLD), (2, RED)):
            self.assertIn(colour, cell_colours(row, 0), "row %d" % row)
            self.assertNotIn(BLACK, cell_colours(row, 0), "row %d" % row)
        self.assertIn(BLACK, cell_colours(3, 0))
        self.assertEqual(copied_rows(0, 3).split("\r\n"),
                         ["I (1201) boot: ready", "W (1230) wifi: weak", "E (1234) wifi: lost",
                          "uart:~$ kernel threads"])

        # Unchecked: the same bytes show as they always have, ESC as its glyph.
        act("syscommand", IDM_ANSI_SEQUENCES)
        peer.sendall(b"\x0c" + self.LOG)
        wait_for(lambda: os.path.getsize(capture) == 2 * len(self.LOG) + 1, "the second log")
        client_pixels()
        for row in range(3):
            self.assertEqual(cell_colours(row, 0) - {b"\xff\xff\xff"}, {BLACK}, "row %d" % row)
        lines = [line.decode("latin-1") for line in self.LOG.split(b"\r\n")[:4]]
        self.assertEqual(copied_rows(0, 3).split("\r\n"), lines)
        with open(capture, "rb") as f:
            self.assertEqual(f.read(), self.LOG + b"\x0c" + self.LOG)


IDM_JOURNAL = 0x10A0  # "Journal pcapng...", a system command
IDM_SAVE_OCTETS = 0x10B0  # "Enregistrer les octets...", a system command


def followed_streams(path, stream):
    """What each side of a TCP stream of a pcapng file sent, as tshark follows it: the
    side that opened it (the peer), then the other."""
    out = subprocess.run(["tshark", "-r", path, "-qz", "follow,tcp,raw,%d" % stream],
                         capture_output=True, text=True, check=True).stdout
    sides = [b"", b""]
    lines = out.split("\n")
    body = lines[lines.index(next(l for l in lines if l.startswith("Node 1:"))) + 1:]
    for line in body:
        if line.startswith("====") or not line.strip():
            continue
        side = 1 if line.startswith("\t") else 0
        sides[side] += bytes.fromhex(line.strip())
    return sides


class JournalTest(E2E):
    def choose_file(self, caption, path):
        window = wait_for(lambda: xdotool("search", "--name", "^%s$" % caption).split(), "the Save window")[0]
        xdotool("windowactivate", "--sync", window)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "20", windows_path(path))
        xdotool("key", "Return")

    def test_two_connections_in_the_journal_read_back_in_tshark_as_each_side_sent_them(self):
        p, port, capture = self.recording_and_listening("journal", keep_listening=True)
        journal = os.path.join(self.dir, "conversation.pcapng")
        act("syscommand", IDM_JOURNAL)
        self.choose_file("Journal pcapng", journal)
        wait_for(lambda: os.path.exists(journal) and os.path.getsize(journal) > 0, "the journal's start")

        rng = random.Random(43)
        big = rng.randbytes(200000)  # one receive of more than 64 KiB, in several segments
        first = self.connect(port)
        p.status(connected(port))
        first.sendall(b"GET /status\r\n")
        wait_for(lambda: os.path.getsize(capture) == 13, "the request")
        self.typed_keys_reach(p, first)  # "az\r" goes back
        first.sendall(big)
        wait_for(lambda: os.path.getsize(capture) == 13 + len(big), "the big receive")
        first.close()
        p.status(listening(port))

        second = self.connect(port)
        p.status(connected(port))
        second.sendall(b"\x00\x01\x00\x00\x00\x06\x01\x03\x00\x00\x00\x01")
        wait_for(lambda: os.path.getsize(capture) == 13 + len(big) + 12, "the second request")
        self.typed_keys_reach(p, second)
        act("syscommand", IDM_JOURNAL)  # stopped: written out and closed
        second.close()

        # The bytes kept, saved the same way: all of them, both connections.
        kept = os.path.join(self.dir, "kept.pcapng")
        act("syscommand", IDM_SAVE_OCTETS)
        self.choose_file("Enregistrer les octets", kept)
        second_sides = [b"\x00\x01\x00\x00\x00\x06\x01\x03\x00\x00\x00\x01", b"az\r"]

        def kept_whole():  # written at once after the chooser closes
            try:
                return followed_streams(kept, 1) == second_sides
            except (OSError, ValueError, StopIteration, subprocess.CalledProcessError):
                return False
        wait_for(lambda: os.path.exists(kept) and kept_whole(), "the bytes kept")
        for path in (journal, kept):
            self.assertEqual(subprocess.run(["capinfos", path], capture_output=True).returncode, 0)
            flagged = subprocess.run(["tshark", "-r", path, "-Y", "tcp.analysis.flags"],
                                     capture_output=True, text=True, check=True).stdout
            self.assertEqual(flagged.strip(), "", path)
            self.assertEqual(followed_streams(path, 0), [b"GET /status\r\n" + big, b"az\r"], path)
            self.assertEqual(followed_streams(path, 1), second_sides, path)


IDM_CONNECT = 0x10C0  # "Se connecter a...", a system command
CONNECT_CAPTION = "Se connecter a"
IDC_CONNECT_HOST, IDC_CONNECT_PORT, IDC_CONNECT_RECONNECT = 1201, 1202, 1203


def device(family):
    """A device that listens on the loopback address of `family`: (socket, port)."""
    server = socket.socket(family, socket.SOCK_STREAM)
    server.bind(("::1" if family == socket.AF_INET6 else "127.0.0.1", 0))
    server.listen(4)
    server.settimeout(DEADLINE)
    return server, server.getsockname()[1]


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def receive_until(peer, expected, what):
    got = b""
    while len(got) < len(expected):
        chunk = peer.recv(4096)
        if not chunk:
            break
        got += chunk
    if got != expected:
        raise AssertionError("%s: %r, not %r" % (what, got, expected))


class ConnectTest(E2E):
    def reach(self, p, host, port, reconnect=False):
        """Se connecter a: the host and port typed in, Connecter pressed."""
        act("syscommand", IDM_CONNECT)
        p.dialog(CONNECT_CAPTION)
        act("settext", CONNECT_CAPTION, IDC_CONNECT_HOST, host)
        act("settext", CONNECT_CAPTION, IDC_CONNECT_PORT, port)
        if reconnect:
            act("click", CONNECT_CAPTION, IDC_CONNECT_RECONNECT)
            wait_for(lambda: state()["dialogs"][CONNECT_CAPTION]["controls"][IDC_CONNECT_RECONNECT]["checked"],
                     "Reconnexion automatique checked")
        p.press(CONNECT_CAPTION, IDOK)

    def send_in_dialog(self, p, text):
        xdotool("mousemove", *cell_on_screen(12, 40))
        p.type_keys("F4")
        p.dialog("Envoyer")
        SendTest.dialog_keys(self, "Envoyer", ("type", text), "alt+t", "Return", "Escape")
        p.no_dialog("Envoyer")

    def test_devices_on_ipv4_ipv6_and_by_name_are_reached_served_journalled_and_left(self):
        p, capture = self.recording("reach", free_port())
        journal = os.path.join(self.dir, "reach.pcapng")
        expected_capture = b""
        for family, host, shown in ((socket.AF_INET, "localhost", "127.0.0.1"),
                                    (socket.AF_INET, "127.0.0.1", "127.0.0.1"),
                                    (socket.AF_INET6, "::1", "[::1]")):
            server, port = device(family)
            if family == socket.AF_INET6:
                act("syscommand", IDM_JOURNAL)
                JournalTest.choose_file(self, "Journal pcapng", journal)
                wait_for(lambda: os.path.exists(journal) and os.path.getsize(journal) > 0, "the journal's start")
            self.reach(p, host, port)
            peer, _ = server.accept()
            peer.settimeout(DEADLINE)
            p.status("Connecte a <%s : %d>" % (shown, port))
            greeting = b"device at " + host.encode() + b"\r\n"
            peer.sendall(greeting)
            expected_capture += greeting
            wait_for(lambda: file_bytes(capture) == expected_capture, "the greeting captured")
            self.typed_keys_reach(p, peer)
            self.send_in_dialog(p, "ping")
            receive_until(peer, b"ping", "the send dialog's bytes")
            p.command(IDM_DISCONNECT)
            p.status(" ")
            self.assertEqual(peer.recv(16), b"", "the connection closed")
            peer.close()
            server.close()
        act("syscommand", IDM_JOURNAL)  # stopped: written out and closed

        # The octet view's last rows: the IPv6 connection between its marks.
        copied = octet_rows_copied(p, 24, lambda text: "Fin de connexion" in text)
        marks = [row[14:] for row in copied.split("\r\n") if "Connexion" in row or "Fin de" in row]
        self.assertEqual(marks[-2:], ["Connexion a [::1]:%d" % port, "Fin de connexion"], copied)

        # The journal: the program's SYN first, each side's bytes, nothing flagged.
        self.assertEqual(followed_streams(journal, 0), [b"az\rping", b"device at ::1\r\n"])
        flagged = subprocess.run(["tshark", "-r", journal, "-Y", "tcp.analysis.flags"],
                                 capture_output=True, text=True, check=True).stdout
        self.assertEqual(flagged.strip(), "")
        ipv6 = subprocess.run(["tshark", "-r", journal, "-Y", "ipv6 && tcp.flags.syn == 1 && tcp.flags.ack == 0",
                               "-T", "fields", "-e", "ipv6.src", "-e", "tcp.dstport"],
                              capture_output=True, text=True, check=True).stdout
        self.assertEqual(ipv6.split(), ["::1", str(port)])

    def test_a_refused_port_is_said_and_a_device_that_closes_three_times_is_reached_four_times(self):
        p, capture = self.recording("again", free_port())
        refused_port = free_port()
        self.reach(p, "127.0.0.1", refused_port)
        why = "Connexion a <127.0.0.1 : %d> impossible : connexion refusee" % refused_port
        box = p.dialog("erreur")
        self.assertIn(why, box["texts"])
        p.press("erreur", IDOK)
        p.status(why)

        # A reply rule greets each connection the program opens.
        act("syscommand", IDM_RULES)
        p.dialog(RULES_CAPTION)
        type_rules('connexion -> texte "hello\\r\\n"\n')
        wait_for(lambda: rules_line() == "1 regle", "the rule typed")
        act("press", RULES_CAPTION, IDOK)
        act("click", RULES_CAPTION, IDC_RULES_ACTIVE)
        wait_for(lambda: state()["dialogs"][RULES_CAPTION]["controls"][IDC_RULES_ACTIVE]["checked"], "Actives")

        server, port = device(socket.AF_INET)
        self.reach(p, "127.0.0.1", port, reconnect=True)
        sent = b""
        for n in range(1, 5):
            peer, _ = server.accept()
            peer.settimeout(DEADLINE)
            receive_until(peer, b"hello\r\n", "the greeting of connection %d" % n)
            line = b"connexion %d\n" % n
            peer.sendall(line)
            sent += line
            wait_for(lambda: file_bytes(capture) == sent, "connection %d captured" % n)
            if n < 4:
                peer.close()
                wait_for(lambda: state()["status"].startswith("Nouvel essai dans "), "the wait before trying again")
        p.status("Connecte a <127.0.0.1 : %d>" % port)
        p.command(IDM_DISCONNECT)
        p.status(" ")
        self.assertEqual(peer.recv(16), b"")
        peer.close()
        server.close()


class SessionTest(E2E):
    def test_loaded_session_titles_the_window_and_is_saved_silently(self):
        port = free_port()
        tail = b"0123456789" * 4
        path = self.session("lab.test.sip", port, "C:\\cap.txt", wrap=True, tail=tail)
        p = self.start(windows_path(path))
        self.assertEqual(state()["title"], "Dazirar OrU :  lab")
        # A new port through the Properties dialog, then listening on it.
        new_port = free_port()
        p.command(IDM_PROPERTIES)
        props = p.dialog("Proprietes")
        props = wait_for(lambda: self.filled(p, "Proprietes"), "the Properties fields")
        self.assertEqual(props["controls"][IDC_ADDRESS]["text"], "127.0.0.1")
        self.assertEqual(props["controls"][IDC_PORT]["text"], str(port))
        self.assertTrue(props["controls"][103]["checked"])
        act("settext", "Proprietes", IDC_PORT, new_port)
        p.press("Proprietes", IDOK)
        p.command(IDM_LISTEN)
        p.status(listening(new_port))
        p.command(IDM_QUIT)
        self.assertEqual(p.wait_exit(), 0)
        with open(path, "rb") as f:
            data = f.read()
        # The record is rewritten in place; the longer file keeps its tail.
        record = session_record("127.0.0.1", new_port, "C:\\cap.txt", True)
        self.assertEqual(data, record + tail)

    def test_missing_session_reports_then_save_as_writes_a_loadable_file(self):
        missing = os.path.join(self.dir, "absent.sip")
        p = self.start(windows_path(missing))
        box = p.dialog("erreur")
        self.assertIn("Probleme avec le fichier d'initialisation!! ", box["texts"])
        p.press("erreur", IDOK)
        self.assertEqual(state()["title"], "Dazirar OrU")
        p.command(IDM_PROPERTIES)
        props = p.dialog("Proprietes")
        props = wait_for(lambda: self.filled(p, "Proprietes"), "the Properties fields")
        self.assertEqual(props["controls"][IDC_ADDRESS]["text"], "0.0.0.0")
        self.assertEqual(props["controls"][IDC_PORT]["text"], "9000")
        act("settext", "Proprietes", IDC_ADDRESS, "1.2.3")
        p.press("Proprietes", IDOK)
        box = p.dialog("Erreur")
        self.assertIn("Erreur de format de l'adresse IP", box["texts"])
        p.press("Erreur", IDOK)

        p.command(IDM_QUIT)
        p.press("Fin de session", IDYES)
        p.dialog("Enregistrement de la session")
        saved = os.path.join(self.dir, "saved")
        window = wait_for(lambda: xdotool("search", "--name", "^Enregistrement de la session$").split(),
                          "the Save As window")[0]
        xdotool("windowactivate", "--sync", window)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "20", windows_path(saved))
        xdotool("key", "Return")
        self.assertEqual(p.wait_exit(), 0)
        with open(saved + ".sip", "rb") as f:
            data = f.read()
        self.assertEqual(data[:6], b"1.2.3\0")
        self.assertEqual(data[6:8], bytes([9000 & 0xFF, 9000 >> 8]))
        self.program.stop()

        self.program = None
        p = self.start(windows_path(saved + ".sip"))
        self.assertEqual(state()["title"], "Dazirar OrU :  saved")


class WholeRunTest(E2E):
    """The program's main paths in one run, for a build whose other paths the Win32
    tests prove (the 32-bit one)."""

    def test_listen_flood_with_capture_typed_keys_then_close_saves_the_session(self):
        p, peer, capture = self.capturing_and_connected("whole", wrap=True)
        port = peer.getpeername()[1]
        session = os.path.join(self.dir, "whole.sip")
        # The file is open only while it is read or written: what is there after the
        # close is what the close wrote.
        os.remove(session)
        data = random.Random(13).randbytes(4 * 1024 * 1024)
        peer.sendall(data)
        self.typed_keys_reach(p, peer)
        wait_for(lambda: os.path.getsize(capture) >= len(data), "the flood in the capture")
        p.command(IDM_QUIT)
        self.assertEqual(p.wait_exit(), 0)
        self.assertEqual(peer.recv(16), b"")
        peer.close()
        with open(capture, "rb") as f:
            self.assertTrue(f.read() == data, "the capture differs from what was sent")
        with open(session, "rb") as f:
            self.assertEqual(f.read(), session_record("127.0.0.1", port, windows_path(capture), True))


def start_wine_display(prefix, wine_arch="win64", unmanaged=False):
    """A virtual display of its own and Wine's environment on it, with the prefix made
    ready: (the display's process, the environment). Unmanaged, the windows have the
    frame and caption that Wine draws itself, as on Windows, where otherwise a window
    manager would draw them (this display has none)."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        display = ":" + f.readline().strip()
    env = dict(os.environ, DISPLAY=display, WINEPREFIX=prefix, WINEARCH=wine_arch,
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        # A new Wine prefix takes a while to set up; do it once here, before any
        # test starts its clock. One made for another Wine is made anew.
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix")], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300,
                       check=True)
        if unmanaged:
            with tempfile.TemporaryFile() as out:  # never a pipe: Wine's own processes keep it
                subprocess.run([WINE, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v",
                                "Managed", "/d", "N", "/f"], env=env, stdout=out, stderr=out,
                               timeout=120, check=True)
            # The caption's buttons are glyphs of the Marlett font, which this Wine finds
            # only in the prefix's own Fonts folder (elsewhere they show as "0 1 r").
            shutil.copy(MARLETT, os.path.join(prefix, "drive_c", "windows", "Fonts"))
    except BaseException:
        stop_wine_display(xvfb, env)
        raise
    return xvfb, env


def stop_wine_display(xvfb, env):
    """Ends Wine's processes on the display, then the display."""
    subprocess.run(["wineserver", "-k"], env=env)
    xvfb.kill()
    xvfb.wait()


def main():
    global ARGS, ENV
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--inspector", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--wine-arch", default="win64", choices=("win64", "win32"))
    ARGS, rest = parser.parse_known_args()
    ARGS.exe = os.path.abspath(ARGS.exe)
    ARGS.inspector = os.path.abspath(ARGS.inspector)
    ARGS.work = os.path.abspath(ARGS.work)
    os.makedirs(ARGS.work, exist_ok=True)
    for f in (ARGS.exe, ARGS.inspector):
        if not os.path.exists(f):
            sys.exit("missing " + f + " (build the Windows tree first)")

    xvfb, ENV = start_wine_display(os.path.join(ARGS.work, "wineprefix"), ARGS.wine_arch)
    try:
        result = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2).result
    finally:
        stop_wine_display(xvfb, ENV)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
