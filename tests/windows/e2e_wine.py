#!/usr/bin/env python3
"""The real nimbrel.exe under Wine on Xvfb, against station-sim stations that Wine maps as COM
ports, checked from outside as a user would see it: the windows' controls through e2e_client.exe
(a Win32 program in the same prefix), colours from screenshots, the window icon from the X
server, the settings and the installation from the registry and the prefix's files.

  e2e_wine.py --cross DIR --sim STATION_SIM --setup NAME --artefacts DIR

All scenarios share one prefix, one X server and one set of stations:
  COM1  a station that never answers
  COM2  a station that answers every poll
  COM3  a station that answers two polls and falls silent (it logs every poll)
  COM4  an adapter that is pulled out after three answers and plugged in again with another
        station behind it
  COM5  a FIFO, no serial device at all
  COM21 an adapter that is pulled out after four answers, after which another station comes
        in as COM22 (it logs every poll)
One scenario runs the program at 144 dpi, the others at 96.
A failed scenario leaves a screenshot in the artefacts folder and the others still run.
Skipped (77) without Wine, Xvfb, xdotool, xprop, ImageMagick or the cross build, except under
CI."""

import argparse
import collections
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_session import Session, skip  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e_nimbrel as e2e  # noqa: E402
from e2e_nimbrel import Failure  # noqa: E402

NAME = "windows_e2e_under_wine"
MAIN, DIALOG = "Travenor Nimbrel", "Automatic COM Port Detection"
NOTEPAD = "Untitled - Notepad"
SETTINGS = r"HKCU\Software\VB and VBA Program Settings\KORVANE_1\main"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Travenor Nimbrel"
INSTALLED = r"C:\Program Files\Travenor Nimbrel"
SERIALCOMM = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"
SHORTCUT = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Travenor Nimbrel.lnk"

# Control ids: 100 plus the control's place in its form.
BOXES = (100, 101, 102)  # txtHumidity, txtPressure, txtTemperature
JET_SIZE, CORRECTED = 103, 104
STATUS, FIRST_PORT_LABEL = 102, 103  # the dialog's lblstatus and lblCOM(1)

# The stations' readings and the texts the boxes show for them (humidity, pressure,
# temperature).
FIRST = ["--humidity", "52.5", "--temperature", "23.4", "--pressure", "1013.2"]
FIRST_TEXTS = ["52.5", "1013.2", "23.4"]
SECOND = ["--humidity", "61.0", "--temperature", "30.1", "--pressure", "990.5"]
SECOND_TEXTS = ["61.0", "990.5", "30.1"]

# What the reading boxes look like, as (background, text colour).
LIVE, IDLE, LAYOUT = ("000000", "00FF00"), ("808080", "000000"), ("808080", "00FF00")
GREEN_ICON, RED_ICON = 0xFF00FF00, 0xFFFF0000
# Heights below the menu bar in pixels at 96 dpi, whatever frame Wine draws: 2415 twips with the
# jet rows, 1410 without.
HEIGHT_WITH_JET, HEIGHT_WITHOUT_JET = 161, 94
# At 144 dpi: the client width and height (4245 and 1410 twips) and the humidity box in the
# client area (450, 120, 1605 and 600 twips).
WIDTH_144, HEIGHT_144, HUMIDITY_144 = 425, 141, [45, 12, 161, 60]
MISSES_TO_LOST = 6
# The History window, its graph's control id, and the colours of its strips, top to bottom.
HISTORY, GRAPH = "History", 104
ENGINES, BASELINE, NAME_BOX = "Engines", "Set Baseline", 100
ENGINE = {"count": "1", "in_use": "1", "engine1_name": "KX125", "engine1_jet": "130",
          "engine1_step": "2", "engine1_baseline_jet": "130", "engine1_baseline_temperature": "28",
          "engine1_baseline_pressure": "990", "engine1_baseline_humidity": "40"}
SERIES = ["C80000", "0000C8", "008200", "820082", "C86400"]


class MovingAdapter:
    """A station on COM<old> whose adapter is pulled out after `answers` answered polls and
    plugged into another socket, where Windows gives it the number COM<new>. Wine maps COM<old>
    to a link of ours to the first station's pseudo-terminal: the link goes with the adapter,
    never a pseudo-terminal's number, which another program may be given next. The second
    station runs from the start, on a pseudo-terminal that Wine does not know yet."""

    def __init__(self, session, old, new, first, second, answers):
        self.s, self.old, self.new = session, old, new
        pty, self.log = session.start_sim(old, ["--hangup-after", str(answers)] + first)
        self.link = session.path("adapter-COM%d" % old)
        os.symlink(pty, self.link)
        session.ports[old] = self.link
        # A number in the simulators' own map only.
        self.new_pty, self.new_log = session.start_sim(new + 10, second, polls=True)
        print("COM%d -> %s -> station-sim %s --hangup-after %d, then COM%d -> station-sim %s"
              % (old, self.link, " ".join(first), answers, new, " ".join(second)))

    def hung_up(self):
        return "hung up" in open(self.log).read()

    def polls_at_new(self):
        return sum(1 for line in open(self.new_log) if re.match(r"\d\d:\d\d:\d\d", line))

    def pull(self):
        """What Windows does when the adapter goes: its device and its SERIALCOMM value go."""
        os.remove(self.link)
        listed = self.s.wine_output("wine", "reg", "query", SERIALCOMM).stdout
        value = re.search(r"^\s+(\S+)\s+REG_SZ\s+COM%d\s*$" % self.old, listed, re.M)
        if not value or self.s.reg_write("delete", SERIALCOMM, "/v",
                                           value.group(1), "/f").returncode != 0:
            raise Failure("cannot take COM%d out of SERIALCOMM:\n%s" % (self.old, listed))

    def plug(self):
        """What Windows does when the adapter comes in at another socket: a device for the new
        number (Wine opens \\\\.\\COMn through the prefix's dosdevices link of that name, looked up
        at each open), then the port's value in SERIALCOMM."""
        os.symlink(self.new_pty, os.path.join(self.s.prefix, "dosdevices", "com%d" % self.new))
        if self.s.reg_write("add", SERIALCOMM, "/v", r"\Device\USBSER000",
                              "/t", "REG_SZ", "/d", "COM%d" % self.new, "/f").returncode != 0:
            raise Failure("cannot list COM%d in SERIALCOMM" % self.new)


class Window:
    """A top-level window and its children as e2e_client.exe printed them."""

    def __init__(self, lines):
        top = lines[0]
        self.outer, self.client, self.enabled = top["rect"], top["client"], top["enabled"]
        self.iconic, self.foreground = top["iconic"], top["foreground"]
        self.children = {c["id"]: c for c in lines[1:]}

    def height(self):
        return self.client[3] - self.client[1]

    def text(self, control_id):
        return self.children[control_id]["text"]

    def rect(self, control_id):
        return self.children[control_id]["rect"]

    def rows_fit(self, jet):
        """The client area holds the readings whole and the jet rows whole, or not a pixel."""
        if jet:
            return self.rect(CORRECTED)[3] <= self.client[3]
        label = next(c["rect"] for c in self.children.values() if c["text"] == "Original Jet Size")
        return self.rect(BOXES[2])[3] <= self.client[3] <= min(label[1], self.rect(JET_SIZE)[1])


def wait_for(what, check, seconds):
    e2e.wait_for(what, check, seconds, every=0.1)


class Driver:
    def __init__(self, session, args):
        self.s = session
        self.args = args
        self.client = os.path.join(args.cross, "tests", "windows", "e2e_client.exe")
        self.program = None
        self.log = open(session.path("program.log"), "a")
        self.digits_at_96 = 0  # the digits' height in the first scenario, when it got that far

    # --- the program ---

    def x(self, *argv):
        return subprocess.run(argv, env=self.s.env, capture_output=True, text=True, timeout=20)

    def start(self, *argv):
        """Starts a Wine program and waits for the main window to be shown. Now and then, on
        a start right after the previous copy has ended, Wine ends the new one at once with
        status 1 and no word on any output; that start is made once more, and said so."""
        for attempt in (1, 2):
            self.program = self.s.start(["wine"] + list(argv), stdout=self.log, stderr=self.log)
            if self.window(MAIN, 20):
                return
            status = self.program.poll()
            if attempt == 1 and status == 1:
                print("  the program ended at once with status 1; started once more")
                continue
            raise Failure("no window \"%s\" appeared (status %s)" % (MAIN, status))

    def stop(self):
        """Ends a program that a failed scenario left running."""
        if self.program and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        self.program = None
        self.window_gone(MAIN, 10)

    def window(self, caption, wait_s=0):
        out = self.s.wine_output("wine", self.client, "find", caption,
                                 str(int(wait_s * 1000)), timeout=wait_s + 30)
        lines = [json.loads(line) for line in out.stdout.splitlines() if line.startswith("{")]
        return Window(lines) if out.returncode == 0 and lines else None

    def window_gone(self, caption, wait_s):
        return self.s.wine_output("wine", self.client, "gone", caption,
                                  str(int(wait_s * 1000)), timeout=wait_s + 30).returncode == 0

    def x_window(self):
        found = self.x("xdotool", "search", "--name", "^%s$" % MAIN).stdout.split()
        if len(found) != 1:
            raise Failure("not one X window named \"%s\": %s" % (MAIN, found))
        return found[0]

    def keys(self, *keys):
        """Keys as typed on the keyboard, into the main window."""
        xid = self.x_window()
        if self.x("xdotool", "getwindowfocus").stdout.strip() != xid:
            self.x("xdotool", "windowfocus", "--sync", xid)
        for key in keys:
            self.x("xdotool", "key", key)
            time.sleep(0.15)  # Wine enters the menu loop on the key's release

    def close_with_escape(self):
        self.keys("Escape")
        try:
            status = self.program.wait(10)
        except subprocess.TimeoutExpired:
            raise Failure("Escape did not close the main window")
        self.program = None
        if status != 0:
            raise Failure("nimbrel.exe ended with status %d" % status)

    # --- what it shows ---

    def pixels(self, left, top, right, bottom):
        """The colours of a rectangle of the screen, as {(x, y): "RRGGBB"}."""
        width, height = right - left, bottom - top
        out = self.x("import", "-window", "root", "-crop",
                     "%dx%d+%d+%d" % (width, height, left, top), "-depth", "8", "txt:-").stdout
        found = {(left + int(m.group(1)), top + int(m.group(2))): m.group(3).upper()
                 for m in re.finditer(r"^(\d+),(\d+):.*?#([0-9A-Fa-f]{6})\b", out, re.M)}
        if len(found) != width * height:
            raise Failure("cannot read the screen at %d,%d: %r" % (left, top, out[:200]))
        return found

    @staticmethod
    def look(pixels, left, top, right, bottom):
        """(background, text colour) of a rectangle: its commonest colour and the next one."""
        counts = collections.Counter(pixels[(x, y)] for x in range(left, right)
                                     for y in range(top, bottom))
        common = [colour for colour, _ in counts.most_common(2)] + [None]
        return tuple(common[:2])

    def boxes(self, w):
        """The look of the three reading boxes: inside the frame, above where the next box
        overlaps."""
        inner = [(r[0] + 3, r[1] + 3, r[2] - 3, r[1] + 24) for r in map(w.rect, BOXES)]
        pixels = self.pixels(min(r[0] for r in inner), min(r[1] for r in inner),
                             max(r[2] for r in inner), max(r[3] for r in inner))
        return [self.look(pixels, *r) for r in inner]

    def shows(self, look, texts=None):
        """A check for wait_for: the reading boxes look like `look` and, when given, hold
        `texts`."""
        def check():
            w = self.window(MAIN)
            if not w:
                return "no window"
            seen = [w.text(i) for i in BOXES]
            looks = self.boxes(w)
            if looks == [look] * 3 and (texts is None or seen == texts):
                return True
            return "texts %s, looks %s" % (seen, looks)
        return check

    def digit_height(self, w):
        """The height in pixels of the green digits in the humidity box, above the pressure box
        that overlaps its bottom."""
        r, below = w.rect(BOXES[0]), w.rect(BOXES[1])
        pixels = self.pixels(r[0] + 3, r[1] + 3, r[2] - 3, below[1])
        rows = sorted({y for (_, y), c in pixels.items()
                       if int(c[2:4], 16) >= 128 and int(c[0:2], 16) < 128
                       and int(c[4:6], 16) < 128})
        return rows[-1] - rows[0] + 1 if rows else 0

    def set_dpi(self, dpi):
        """The display scale of the programs started from now on, as Windows' LogPixels."""
        if self.s.reg_write("add", r"HKCU\Control Panel\Desktop", "/v",
                              "LogPixels", "/t", "REG_DWORD", "/d", str(dpi),
                              "/f").returncode != 0:
            raise Failure("cannot set LogPixels to %d" % dpi)

    def icons(self):
        """The window icon as the X server has it: {(width, height): first pixel}."""
        out = self.x("xprop", "-id", self.x_window(), "-notype", "-f", "_NET_WM_ICON", "32c",
                     "_NET_WM_ICON").stdout
        values = [int(v) for v in re.findall(r"\d+", out.partition("=")[2])]
        icons = {}
        while len(values) >= 3:
            width, height = values[0], values[1]
            icons[(width, height)] = values[2]
            values = values[2 + width * height:]
        return icons

    def icon_is(self, colour):
        seen = self.icons()
        if seen.get((16, 16)) == colour and set(seen.values()) == {colour}:
            return True
        return {size: "%#x" % pixel for size, pixel in seen.items()}

    def screenshot(self, name, rect=None):
        target = os.path.join(self.args.artefacts, name)
        crop = ["-crop", "%dx%d+%d+%d" % (rect[2] - rect[0], rect[3] - rect[1], rect[0],
                                          rect[1]), "+repage"] if rect else []
        self.x("import", "-window", "root", *crop, target)
        print("  screenshot:", target)

    # --- the settings ---

    def get_setting(self, name, key=SETTINGS):
        out = self.s.wine_output("wine", "reg", "query", key, "/v", name)
        m = re.search(r"^\s+%s\s+REG_\w+\s+(.*?)\s*$" % re.escape(name), out.stdout, re.M)
        return m.group(1) if out.returncode == 0 and m else None

    def settings(self):
        """Every value the program keeps for the user, as {name: text}."""
        out = self.s.wine_output("wine", "reg", "query", SETTINGS)
        return dict(re.findall(r"^\s+(\S+)\s+REG_SZ\s+(.*?)\s*$", out.stdout, re.M))

    def set_setting(self, name, value, key=SETTINGS):
        if self.s.reg_write("add", key, "/v", name, "/t", "REG_SZ", "/d",
                              value, "/f").returncode != 0:
            raise Failure("cannot store %s=%s" % (name, value))

    def start_on_port(self, port):
        self.set_setting("weather_com", str(port))
        self.start(os.path.join(self.args.cross, "app", "nimbrel.exe"))


# --- the scenarios ---

def stored_port_live(d, _stations):
    """Start-up on the stored port with live readings; Show Jet Fields from the keyboard; Escape
    stores the port and ends the program with status 0."""
    d.start_on_port(2)
    wait_for("live readings of COM2, green on black", d.shows(LIVE, FIRST_TEXTS), 10)
    wait_for("the connected window icon", lambda: d.icon_is(GREEN_ICON), 3)
    w = d.window(MAIN)
    if w.height() != HEIGHT_WITHOUT_JET or not w.rows_fit(False):
        raise Failure("window %s with client %s: the jet rows (%s) should lie below it"
                      % (w.outer, w.client, w.rect(JET_SIZE)))
    d.digits_at_96 = d.digit_height(w)
    print("  digits %d px high at 96 dpi" % d.digits_at_96)
    d.screenshot("e2e_wine_live.png", w.outer)

    # Options, up from its first item to the last one (Correction Standard) and past Set Baseline
    # (which Windows menus highlight even while it is disabled), Engines, the four items of the
    # log and the separators to Show Jet Fields.
    d.keys("alt", "Down", *["Up"] * 8, "Return")

    def jet_shown():
        w = d.window(MAIN)
        if (w.height() == HEIGHT_WITH_JET and w.rows_fit(True)
                and d.get_setting("show_jet") == "1"):
            return True
        return "window %s, client %s, show_jet %s" % (w.outer, w.client,
                                                      d.get_setting("show_jet"))
    wait_for("the jet rows shown and show_jet=1", jet_shown, 5)
    w = d.window(MAIN)
    d.screenshot("e2e_wine_jet_fields.png", w.outer)
    if w.text(JET_SIZE) != "150" or not re.fullmatch(r"\d+", w.text(CORRECTED) or ""):
        raise Failure("jet sizes %r, %r" % (w.text(JET_SIZE), w.text(CORRECTED)))
    d.keys("alt", "Down", *["Up"] * 8, "Return")
    wait_for("the jet rows hidden again and show_jet=0",
             lambda: (d.window(MAIN).height() == HEIGHT_WITHOUT_JET
                      and d.get_setting("show_jet") == "0") or d.window(MAIN).outer, 5)

    # Whatever the registry holds by now, Escape writes the program's own port.
    d.set_setting("weather_com", "7")
    d.close_with_escape()
    if d.get_setting("weather_com") != "2":
        raise Failure("Escape stored weather_com=%s, not 2" % d.get_setting("weather_com"))


def at_144_dpi(d, _stations):
    """At 144 dpi (a display scale of 150 %) the window and its controls are 1.5 times as large
    as at 96 dpi, and so are the digits of the readings."""
    d.set_dpi(144)
    try:
        d.start_on_port(2)
        wait_for("live readings of COM2", d.shows(LIVE, FIRST_TEXTS), 10)
        w = d.window(MAIN)
        humidity = [a - b for a, b in zip(w.rect(BOXES[0]), w.client[:2] * 2)]
        if ((w.client[2] - w.client[0], w.height(), humidity) != (WIDTH_144, HEIGHT_144,
                                                                   HUMIDITY_144)
                or not w.rows_fit(False)):
            raise Failure("window %s, client %s, humidity box %s" % (w.outer, w.client, humidity))
        height = d.digit_height(w)
        print("  digits %d px high at 144 dpi" % height)
        d.screenshot("e2e_wine_144dpi.png", w.outer)
        # 13.5 points are 27 pixels here: digits of about 20.
        if height < 18 or (d.digits_at_96 and abs(height - 1.5 * d.digits_at_96) > 2):
            raise Failure("the digits are %d px high at 144 dpi, %d px at 96"
                          % (height, d.digits_at_96))
        d.close_with_escape()
    finally:
        d.set_dpi(96)


def text_from_outside(d, _stations):
    """Text that another program puts into the reading boxes with WM_SETTEXT (automation tools,
    on-screen keyboards do so) counts as typed: the calculated jet size follows it."""
    d.start_on_port(0)  # no port: the display tick leaves the boxes as they are
    # The readings "-" count as 0: 150 corrected by 2 - 50 + 5.
    wait_for("the calculated jet size at start", lambda: d.window(MAIN).text(CORRECTED) == "107"
             or d.window(MAIN).text(CORRECTED), 3)
    texts = ["65.0", "985.3", "27.4"]
    for box, text in zip(BOXES, texts):
        if d.s.wine_output("wine", d.client, "settext", MAIN, str(box), text).returncode != 0:
            raise Failure("the box %d did not take the text %s" % (box, text))
    w = d.window(MAIN)
    # 150 corrected for 65 %, 985.3 mbar and 27.4 degrees: 146.815.
    if [w.text(i) for i in BOXES] != texts or w.text(CORRECTED) != "147":
        raise Failure("readings %s give %r" % ([w.text(i) for i in BOXES], w.text(CORRECTED)))
    d.close_with_escape()


def idle_then_lost(d, stations):
    """A station that answers two polls and falls silent: the boxes turn grey with black text
    at once, the icon turns red at the sixth poll in a row without an answer and not before."""
    polls_log = stations["answers_two"]

    def polls():
        return sum(1 for line in open(polls_log) if re.match(r"\d\d:\d\d:\d\d", line))

    d.start_on_port(3)
    # The idle boxes repeat the humidity and temperature still held and show no pressure.
    wait_for("idle boxes, black on grey", d.shows(IDLE, ["52.5", "0.0", "23.4"]), 12)
    first_silent = time.monotonic()
    if d.icon_is(GREEN_ICON) is not True:
        raise Failure("the icon is not the connected one at the first miss: %s"
                      % d.icon_is(GREEN_ICON))
    d.screenshot("e2e_wine_idle.png", d.window(MAIN).outer)

    answered = 2
    wait_for("the fifth unanswered poll", lambda: polls() >= answered + MISSES_TO_LOST - 1
             or "%d polls" % polls(), 14)
    time.sleep(0.5)  # the tick of that poll has set the icon by now; the next is 1.5 s away
    if polls() != answered + MISSES_TO_LOST - 1 or d.icon_is(GREEN_ICON) is not True:
        raise Failure("after %d polls, %d of them unanswered, the icon is %s: turned early"
                      % (polls(), polls() - answered, d.icon_is(GREEN_ICON)))
    wait_for("the sixth unanswered poll", lambda: polls() >= answered + MISSES_TO_LOST
             or "%d polls" % polls(), 5)
    wait_for("the disconnected window icon", lambda: d.icon_is(RED_ICON), 1.5)
    print("  the icon turned red %.1f s after the first miss was shown"
          % (time.monotonic() - first_silent))
    d.screenshot("e2e_wine_lost.png", d.window(MAIN).outer)
    d.close_with_escape()


def auto_finds_station(d, _stations):
    """Auto, opened from the keyboard with no port selected, passes the silent COM1, finds the
    station on COM2, closes by itself and leaves COM2 to the main window."""
    d.start_on_port(0)
    # Options, up from its first item past Correction Standard, the engines' two items and the
    # items of the log to Show Jet Fields, then past the separators to Auto.
    d.keys("alt", "Down", *["Up"] * 9, "Return")
    if not d.window(DIALOG, 10):
        raise Failure("the detection dialog did not open")
    if d.window(MAIN).enabled:
        raise Failure("the main window takes input while the detection dialog is open")
    d.screenshot("e2e_wine_detection_scan.png")

    def found():
        w = d.window(DIALOG)
        if not w:
            return "no dialog"
        labels = [c["text"] for i, c in sorted(w.children.items())
                  if i >= FIRST_PORT_LABEL and c["visible"]]
        if (w.text(STATUS) == "COMMUNICATION DONE IN COM 2" and labels[:2] ==
                ["COM1   (no reply)", "COM2   Connected"]):
            return True
        return "status %r, ports %s" % (w.text(STATUS), labels)
    wait_for("COM2 found", found, 15)
    w = d.window(DIALOG)
    status = w.rect(STATUS)
    colours = set(d.pixels(*status).values())
    if "00FF00" not in colours:
        raise Failure("the status line is not green: %s" % sorted(colours))
    d.screenshot("e2e_wine_detection_found.png", w.outer)
    if not d.window_gone(DIALOG, 8):
        raise Failure("the detection dialog did not close by itself")
    if not d.window(MAIN).enabled:
        raise Failure("the main window takes no input after the dialog has closed")
    wait_for("live readings of COM2 after the detection", d.shows(LIVE, FIRST_TEXTS), 8)
    d.close_with_escape()
    if d.get_setting("weather_com") != "2":
        raise Failure("weather_com=%s after the detection, not 2" % d.get_setting("weather_com"))


def replug(d, _stations):
    """The adapter of COM4 goes away and comes back with another station behind it: the
    program shows that station's readings with nobody doing anything."""
    d.start_on_port(4)
    wait_for("live readings of the first station", d.shows(LIVE, FIRST_TEXTS), 10)
    wait_for("live readings of the station plugged in", d.shows(LIVE, SECOND_TEXTS), 20)
    wait_for("the connected window icon", lambda: d.icon_is(GREEN_ICON), 3)
    d.screenshot("e2e_wine_replugged.png", d.window(MAIN).outer)
    d.close_with_escape()


def moved_to_another_number(d, stations):
    """The adapter of COM21 is pulled out and, once the icon has turned red, a station comes in
    as COM22. Wine's ports have no USB adapter behind them, only names, so nothing shows that
    COM22 is the station's own adapter: the program leaves it alone (not one poll reaches it),
    keeps the red icon and stores COM21 at Escape. The station's own adapter at another number
    is followed by the window tests, which give their ports an adapter identity."""
    adapter = stations["moving"]
    d.start_on_port(21)
    wait_for("live readings of the station on COM21", d.shows(LIVE, FIRST_TEXTS), 10)
    wait_for("the station on COM21 hung up", lambda: adapter.hung_up() or "not yet", 12)
    pulled = time.monotonic()
    adapter.pull()
    wait_for("the disconnected window icon", lambda: d.icon_is(RED_ICON), 20)
    print("  pulled out: the icon turned red after %.1f s" % (time.monotonic() - pulled))
    adapter.plug()
    time.sleep(8)  # four display ticks
    if adapter.polls_at_new():
        raise Failure("COM22, somebody else's port, got %d polls" % adapter.polls_at_new())
    if d.icon_is(RED_ICON) is not True:
        raise Failure("the window icon is not the disconnected one with COM22 in")
    d.screenshot("e2e_wine_moved.png", d.window(MAIN).outer)
    d.close_with_escape()
    if d.get_setting("weather_com") != "21":
        raise Failure("weather_com=%s after COM22 came in, not 21" % d.get_setting("weather_com"))


def second_copy(d, _stations):
    """A second nimbrel.exe brings the first copy's window to the front, from behind another
    program's window and back from the taskbar, and ends with status 0 at once, leaving the
    first its port and storing nothing. After the first copy is killed, a new one starts as
    usual and takes the port."""
    program = os.path.join(d.args.cross, "app", "nimbrel.exe")
    d.start_on_port(2)
    wait_for("live readings of COM2", d.shows(LIVE, FIRST_TEXTS), 10)
    stored = d.settings()

    def in_front(caption):
        w = d.window(caption)
        return bool(w and w.foreground and not w.iconic)

    def behind_notepad():
        wait_for("Notepad in front", lambda: in_front(NOTEPAD) or "no", 15)

    def minimised():
        d.s.wine_output("wine", d.client, "minimize", MAIN)
        wait_for("the main window minimised", lambda: d.window(MAIN).iconic or "no", 5)

    # The second copy's own log, with Wine's errors: what it printed says why, should it fail.
    second_env = dict(d.s.env, WINEDEBUG="err+all,fixme-all")
    other = d.s.start(["wine", "notepad"], stdout=d.log, stderr=d.log)
    try:
        for where, prepare in (("behind Notepad", behind_notepad), ("minimised", minimised)):
            prepare()
            started = time.monotonic()
            with open(d.s.path("second.log"), "w+") as log:
                second = d.s.start(["wine", program], env=second_env, stdout=log, stderr=log)
                try:
                    status = second.wait(15)
                    trouble = "ended with status %d" % status if status != 0 else None
                except subprocess.TimeoutExpired:
                    second.kill()
                    second.wait()
                    trouble = "still runs after 15 s"
                if trouble:
                    log.seek(0)
                    raise Failure("%s: the second copy %s; it printed:\n%s"
                                  % (where, trouble, log.read()[-3000:]))
            print("  %s: the second copy ended after %.1f s" % (where, time.monotonic() - started))
            if d.program.poll() is not None:
                raise Failure("the first copy ended with status %d" % d.program.returncode)
            wait_for("%s: the first copy's window in front" % where,
                     lambda: in_front(MAIN) or "no", 5)
            d.x_window()  # one window only
    finally:
        other.kill()
        other.wait()
    wait_for("live readings of COM2 after the second starts", d.shows(LIVE, FIRST_TEXTS), 6)
    if d.settings() != stored:
        raise Failure("the settings were %s and are %s" % (stored, d.settings()))

    d.stop()  # killed: no clean-up of its own
    d.start(program)
    wait_for("live readings of COM2 after a kill", d.shows(LIVE, FIRST_TEXTS), 10)
    d.close_with_escape()


def fifo_port(d, _stations):
    """The stored port leads to a FIFO, on which a read would wait for ever: the window shows
    as on any other port, with the disconnected icon, and Escape ends the program."""
    started = time.monotonic()
    d.start_on_port(5)
    print("  the window showed %.1f s after the start" % (time.monotonic() - started))
    wait_for("the disconnected window icon", lambda: d.icon_is(RED_ICON), 3)
    d.close_with_escape()


def history_and_log(d, _stations):
    """History from the menu on a live station: each strip's line in its colour at the graph's
    right end, moving on with the readings. The day's log grows while another program holds
    it open for reading. With an engine in use, its jet for the reference air is the jet size,
    and the Engines and Set Baseline dialogs open from the menu and close with Escape."""
    for name, value in ENGINE.items():
        d.set_setting(name, value, SETTINGS.replace("\\main", "\\engines"))
    d.start_on_port(2)
    wait_for("live readings of COM2", d.shows(LIVE, FIRST_TEXTS), 10)
    if d.window(MAIN).text(JET_SIZE) != "132.1":  # 130 right at 28 C, 990 mb, 40 %
        raise Failure("the jet size is %r with KX125 in use" % d.window(MAIN).text(JET_SIZE))
    # Options, up past Correction Standard to Engines, and then to Set Baseline: both enabled.
    for ups, caption, shows in ((3, ENGINES, "KX125"), (2, BASELINE, "The air: 23.4")):
        d.keys("alt", "Down", *["Up"] * ups, "Return")
        w = d.window(caption, 10)
        if not w or not any(c["text"].startswith(shows) for c in w.children.values()):
            raise Failure("no dialog \"%s\" showing %r: %s" % (
                caption, shows, w and [c["text"] for c in w.children.values()]))
        d.screenshot("e2e_wine_%s.png" % caption.lower().replace(" ", "_"), w.outer)
        d.x("xdotool", "key", "Escape")
        if not d.window_gone(caption, 5):
            raise Failure("Escape did not close %s" % caption)
    d.keys("alt", "Down", *["Up"] * 7, "Return")
    w = d.window(HISTORY, 10)
    if not w:
        raise Failure("no window \"%s\" appeared" % HISTORY)
    left, top, right, bottom = w.rect(GRAPH)
    recent = lambda: d.pixels(right - 70, top, right - 4, bottom)

    def lines_shown():
        missing = [c for c in SERIES if c not in recent().values()]
        return not missing or "missing %s" % missing
    wait_for("each strip's line in its colour", lines_shown, 5)
    first = recent()
    wait_for("the graph moving on", lambda: recent() != first or "unchanged", 20)
    d.screenshot("e2e_wine_history.png", w.outer)

    logs = glob.glob(os.path.join(d.s.prefix, "drive_c", "users", "*", "AppData", "Local",
                                  "KORVANE_1", "logs", "*.csv"))
    if not logs:
        raise Failure("no log in the user's LOCALAPPDATA")
    log = max(logs, key=os.path.getmtime)
    held = d.s.wine_output("wine", d.client, "hold", "Z:" + log.replace("/", "\\"), "7000")
    sizes = json.loads(held.stdout.strip() or "{}")
    if held.returncode != 0 or sizes.get("after", 0) <= sizes.get("before", 0):
        raise Failure("the log did not grow while held open: %s %s" % (held.returncode, sizes))
    history = d.x("xdotool", "search", "--name", "^%s$" % HISTORY).stdout.split()
    d.x("xdotool", "windowfocus", "--sync", history[0])
    d.x("xdotool", "key", "Escape")
    if not d.window_gone(HISTORY, 5):
        raise Failure("Escape did not close History")
    d.close_with_escape()


def installer(d, _stations):
    """A silent install puts the program, its shortcut and its uninstaller in place and lists
    it; the program starts from the shortcut; a silent uninstall takes all of it away and
    leaves the user's settings."""
    drive_c = os.path.join(d.s.prefix, "drive_c")

    def unix(path):
        return os.path.join(drive_c, *path[3:].split("\\"))

    files = [unix(INSTALLED + r"\nimbrel.exe"), unix(INSTALLED + r"\uninstall.exe"),
             unix(SHORTCUT)]
    settings_before = d.settings()
    setup = os.path.join(d.args.cross, d.args.setup)
    if d.s.wine_output("wine", setup, "/S", timeout=120).returncode != 0:
        raise Failure("the silent install failed")
    missing = [f for f in files if not os.path.isfile(f)]
    if missing:
        raise Failure("not installed: %s" % missing)
    if (INSTALLED + r"\nimbrel.exe").encode() not in open(unix(SHORTCUT), "rb").read():
        raise Failure("the shortcut does not lead to %s\\nimbrel.exe" % INSTALLED)
    listed = {name: d.get_setting(name, UNINSTALL) for name in (
        "DisplayName", "DisplayVersion", "Publisher", "DisplayIcon", "EstimatedSize",
        "UninstallString", "QuietUninstallString")}
    expected = {"DisplayName": "Travenor Nimbrel", "DisplayIcon": INSTALLED + r"\nimbrel.exe,0",
                "UninstallString": '"%s\\uninstall.exe"' % INSTALLED,
                "QuietUninstallString": '"%s\\uninstall.exe" /S' % INSTALLED}
    version = re.search(r"nimbrel-setup-(.+)\.exe$", d.args.setup).group(1)
    if ({k: listed[k] for k in expected} != expected or listed["DisplayVersion"] != version
            or not listed["Publisher"] or int(listed["EstimatedSize"] or "0", 0) <= 0):
        raise Failure("the Uninstall entry holds %s" % listed)

    # As from the Start menu: the shortcut opened by the shell.
    d.start("start", "/wait", SHORTCUT)
    d.screenshot("e2e_wine_installed.png", d.window(MAIN).outer)
    d.close_with_escape()

    if d.s.wine_output("wine", unix(INSTALLED + r"\uninstall.exe"), "/S").returncode != 0:
        raise Failure("the silent uninstall failed")
    # The uninstaller runs on as a copy of itself, which removes the original.
    wait_for("the program, its shortcut and its folder removed",
             lambda: not any(map(os.path.exists, files + [unix(INSTALLED)]))
             or [f for f in files if os.path.exists(f)], 20)
    if d.get_setting("DisplayName", UNINSTALL) is not None:
        raise Failure("the Uninstall entry is still there")
    settings_after = d.settings()
    if settings_after != settings_before or "weather_com" not in settings_after:
        raise Failure("the user's settings were %s and are %s" % (settings_before,
                                                                    settings_after))


SCENARIOS = [stored_port_live, at_144_dpi, text_from_outside, idle_then_lost, auto_finds_station,
             replug, fifo_port, moved_to_another_number, second_copy, history_and_log, installer]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cross", required=True, help="the cross build (scripts/build-windows)")
    ap.add_argument("--sim", required=True, help="station-sim")
    ap.add_argument("--setup", required=True, help="the installer's file name in the build")
    ap.add_argument("--artefacts", required=True, help="where the screenshots go")
    args = ap.parse_args()
    started = time.monotonic()
    for path in ("app/nimbrel.exe", "tests/windows/e2e_client.exe", args.setup):
        if not os.path.isfile(os.path.join(args.cross, path)):
            skip(NAME, "no %s in %s (scripts/build-windows makes it)" % (path, args.cross))
    os.makedirs(args.artefacts, exist_ok=True)

    failed = []
    with Session(NAME, args.sim, tools=("xdotool", "xprop", "import")) as s:
        s.env["LC_ALL"] = "C.UTF-8"  # a point as the decimal separator
        s.boot()
        stations = {}
        s.start_station(1, "--silent")
        s.start_station(2, *FIRST)
        stations["answers_two"] = s.start_station(3, "--answer", "2", *FIRST, polls=True)
        s.start_replug(4, FIRST, SECOND)
        os.mkfifo(s.path("fifo"))
        s.map_port(5, s.path("fifo"))
        stations["moving"] = MovingAdapter(s, 21, 22, FIRST, SECOND, answers=4)
        s.ready()
        print("prefix and stations ready in %.0f s" % (time.monotonic() - started))

        d = Driver(s, args)
        for scenario in SCENARIOS:
            begun = time.monotonic()
            try:
                scenario(d, stations)
                print("%s: ok in %.1f s" % (scenario.__name__, time.monotonic() - begun))
            except (Failure, subprocess.TimeoutExpired) as e:
                print("%s: FAILED after %.1f s: %s"
                      % (scenario.__name__, time.monotonic() - begun, e))
                failed.append(scenario.__name__)
                d.screenshot("e2e_wine_%s_failure.png" % scenario.__name__)
                d.stop()
        d.log.close()
        shutil.copy(s.path("program.log"), os.path.join(args.artefacts, "e2e_wine_program.log"))

    print("%s: %d scenarios, %d failed %sin %.0f s"
          % (NAME, len(SCENARIOS), len(failed), "(%s) " % " ".join(failed) if failed else "",
             time.monotonic() - started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
