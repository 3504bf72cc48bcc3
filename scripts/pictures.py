#!/usr/bin/env python3
"""Makes the README's pictures from the real program under Wine, on a virtual display of
its own, driven as the end-to-end tests drive it:

- screenshot.png: the text view, a device's coloured log with *Sequences ANSI* checked;
- octets.png: the octet view, a device's requests each answered by a reply rule (the
  README's example rules), the replies in blue, every chunk with its interval.

    pictures.py --exe dazirar-oru.exe --inspector oru-viewer.exe --work DIR --out DIR

Each picture is the program's whole window, taken once what it must show is on the
screen; a picture that cannot be made so stops the script with the reason.
"""
import argparse
from collections import Counter
import os
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e_test as driver  # noqa: E402  the end-to-end tests' driver of the program

SENT_BLUE = b"\x00\x00\xc0"  # what the program sent, in the octet view

# A device's boot and its shell, coloured as such devices colour their logs (the
# sequences; driver.GREEN and the like are the colours the program draws them in).
ESC_GREEN, ESC_YELLOW, ESC_RED, ESC_CYAN, ESC_RESET = b"\x1b[0;32m", b"\x1b[0;33m", b"\x1b[0;31m", b"\x1b[1;36m", b"\x1b[0m"
DEVICE_LOG = [
    (ESC_GREEN, b"I (27) boot: loader 2.1, chip revision 3"),
    (ESC_GREEN, b"I (31) boot: flash 4 MB at 80 MHz"),
    (ESC_GREEN, b"I (118) app: firmware 1.4.2, built Dec  9 2026"),
    (ESC_GREEN, b"I (140) eth: link up, 100 Mbit/s full duplex"),
    (ESC_GREEN, b"I (152) net: address 192.168.10.20, gateway 192.168.10.1"),
    (ESC_GREEN, b"I (160) modbus: serving on port 502, units 1 to 4"),
    (ESC_YELLOW, b"W (1203) sensor: channel 2 read 12 ms late"),
    (ESC_GREEN, b"I (1500) modbus: unit 1 answered in 9 ms"),
    (ESC_RED, b"E (2210) modbus: unit 3 gave no answer within 500 ms"),
    (ESC_YELLOW, b"W (2212) modbus: unit 3, trying again (1 of 3)"),
    (ESC_GREEN, b"I (2735) modbus: unit 3 answered in 23 ms"),
    (ESC_GREEN, b"I (5000) stats: 412 requests, 1 timeout, 0 errors"),
]
SHELL = (ESC_CYAN + b"shell>" + ESC_RESET + b" status\r\n"
         b"uptime 00:01:05   heap 182 KB free   tasks 11\r\n"
         b"eth0 up   rx 48 213 frames   tx 47 990 frames\r\n" +
         ESC_CYAN + b"shell>" + ESC_RESET + b" ")


def coloured(colours):
    """Whether a cell's pixels show a colour other than the plain text's."""
    return bool(colours - {driver.BLACK, b"\xff\xff\xff"})


def device_log():
    return b"".join(colour + line + ESC_RESET + b"\r\n" for colour, line in DEVICE_LOG) + SHELL


def caret_cell(frame):
    """The caret's rectangle within the window's frame (left, top, right, bottom)."""
    where = driver.wait_for(driver.caret, "the caret")
    left, top, right, bottom = where[1]
    return left - frame[0], top - frame[1], right - frame[0], bottom - frame[1]


def shows_caret(pixels, width, cell):
    """Whether a picture of `width` pixels a row shows the caret's cell all dark: taken
    in the on half of its blink."""
    left, top, right, bottom = cell
    return all(driver.dark(pixels, (row * width + col) * 3)
               for row in range(top, bottom) for col in range(left, right))


def window_picture(path, colours, with_caret=False):
    """The program's whole window, frame and caption included, as a PNG file, which
    must show each of `colours` (RGB bytes) in a few characters' worth of pixels, and
    the caret if asked."""
    driver.client_pixels()  # what the program drew last has reached the screen
    frame = driver.wait_for(lambda: driver.state().get("frame"), "the window's frame")
    x, y, width, height = frame
    cell = caret_cell(frame) if with_caret else None

    def taken():
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                        "+repage", path], env=driver.ENV, check=True)
        pixels = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                                capture_output=True).stdout
        if len(pixels) != width * height * 3:
            raise AssertionError("%s is not the window's %d by %d pixels" % (path, width, height))
        return (cell is None or shows_caret(pixels, width, cell)) and pixels

    pixels = driver.wait_for(taken, "a picture taken while the caret shows")
    counts = Counter(pixels[i:i + 3] for i in range(0, len(pixels), 3))
    for colour in colours:
        if counts[colour] < 100:
            raise AssertionError("%s shows %d pixels of %s" % (path, counts[colour], colour.hex()))


def started_on(work, name, port):
    """The program started on a session of its own (address 127.0.0.1, `port`)."""
    session = os.path.join(work, name)
    with open(session, "wb") as f:
        f.write(driver.session_record("127.0.0.1", port, "", False))
    return driver.Program(driver.windows_path(session))


def listening_on(work, name):
    """The program started on a session of its own and listening: (program, port)."""
    port = driver.free_port()
    program = started_on(work, name, port)
    program.command(driver.IDM_LISTEN)
    program.status(driver.listening(port))
    return program, port


def text_view_picture(work, path):
    program, port = listening_on(work, "atelier.sip")
    try:
        driver.act("syscommand", driver.IDM_ANSI_SEQUENCES)
        device = socket.create_connection(("127.0.0.1", port), timeout=driver.DEADLINE)
        program.status(driver.connected(port))
        log = device_log()
        device.sendall(log)
        # The last line's colours are on the screen once the shell's prompt is.
        driver.wait_for(lambda: coloured(driver.cell_colours(len(DEVICE_LOG) + 3, 0)),
                        "the device's last prompt in colour")
        driver.xdotool("mousemove", *driver.cell_on_screen(len(DEVICE_LOG) + 3, 8))
        program.type_keys()  # the window has the keyboard: its caret shows
        window_picture(path, (driver.GREEN, driver.GOLD, driver.RED), with_caret=True)
        device.close()
    finally:
        program.stop()


def octet_view_picture(work, path):
    program, port = listening_on(work, "banc.sip")
    try:
        driver.act("syscommand", driver.IDM_RULES)
        program.dialog(driver.RULES_CAPTION)
        driver.type_rules(driver.RULES)
        driver.wait_for(lambda: driver.rules_line() == "5 regles", "the rules typed")
        driver.act("press", driver.RULES_CAPTION, driver.IDOK)
        driver.act("click", driver.RULES_CAPTION, driver.IDC_RULES_ACTIVE)
        driver.wait_for(lambda: driver.state()["dialogs"][driver.RULES_CAPTION]["controls"]
                        [driver.IDC_RULES_ACTIVE]["checked"], "Actives checked")
        driver.act("press", driver.RULES_CAPTION, driver.IDCANCEL)
        program.no_dialog(driver.RULES_CAPTION)

        device = socket.create_connection(("127.0.0.1", port), timeout=driver.DEADLINE)
        device.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        driver.receive_until(device, b"Bienvenue\r\n", "the greeting")
        for transaction in (b"\x00\x01", b"\x00\x02"):
            time.sleep(0.25)  # a device that polls four times a second
            device.sendall(driver.modbus_poll(transaction))
            driver.receive_until(device, driver.modbus_reply(transaction), "the poll's reply")
        time.sleep(0.25)
        device.sendall(b"AT\r")
        driver.receive_until(device, b"OK\r\n", "the modem's answer")
        driver.xdotool("mousemove", *driver.cell_on_screen(12, 40))
        program.type_keys("F2")
        driver.wait_for(lambda: SENT_BLUE in driver.cell_colours(1, 0), "the greeting sent, in blue")
        window_picture(path, (SENT_BLUE,))
        device.close()
    finally:
        program.stop()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--inspector", "--work", "--out"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    for name in ("exe", "inspector", "work", "out"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    for f in (args.exe, args.inspector):
        if not os.path.exists(f):
            sys.exit("missing " + f + " (build the Windows tree first)")
    os.makedirs(args.work, exist_ok=True)
    os.makedirs(args.out, exist_ok=True)
    driver.ARGS = args
    xvfb, driver.ENV = driver.start_wine_display(os.path.join(args.work, "wineprefix"),
                                                 unmanaged=True)
    try:
        with tempfile.TemporaryDirectory(dir=args.work) as work:
            text_view_picture(work, os.path.join(args.out, "screenshot.png"))
            octet_view_picture(work, os.path.join(args.out, "octets.png"))
    finally:
        driver.stop_wine_display(xvfb, driver.ENV)
    for name in ("screenshot.png", "octets.png"):
        print("written: " + os.path.join(args.out, name))


if __name__ == "__main__":
    main()
