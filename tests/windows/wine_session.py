"""A private Wine prefix on an X server of its own, with simulated stations as COM ports: what
the tests of the Windows build under Wine share.

A session makes the prefix in a temporary folder (wineboot), copies the Wine fonts into it
(Wine 8 takes fonts only from C:\\windows\\Fonts), starts station-sim on pseudo-terminals and
gives them COM numbers in Wine's port map, and starts an X server. Everything it started is
ended and removed again on the way out, also after a failure or an interrupt.

Without Wine, Xvfb, the Wine fonts or the files a test needs, `skip` says so in one line and
exits 77 (skipped), except under CI (CI set), where that is a failure."""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77

# The windows: without a window manager, Wine's own frames, or windows never get the focus and
# every close waits; the caption and menu bar as high as on Windows 10 (23 and 20 pixels), not
# Wine's classic 19 and 19, so that window heights come out as they do there. Windows has
# "Microsoft Sans Serif" and Wine's fonts do not: without a replacement Wine would draw the
# readings in whatever sans-serif the host's fontconfig offers (DejaVu Sans, too wide for the
# boxes); Wine's own Tahoma is the nearest face, and the same on every machine.
DESKTOP_SETTINGS = [
    ("HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver", "Managed", "N"),
    ("HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver", "Decorated", "N"),
    ("HKEY_CURRENT_USER\\Control Panel\\Desktop\\WindowMetrics", "CaptionHeight", "22"),
    ("HKEY_CURRENT_USER\\Control Panel\\Desktop\\WindowMetrics", "MenuHeight", "19"),
    ("HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements", "Microsoft Sans Serif",
     "Tahoma"),
]
PORTS_KEY = "HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports"


def skip(test, why):
    if os.environ.get("CI"):
        print("%s: cannot run, and CI must: %s" % (test, why))
        sys.exit(1)
    print("%s: skipped: %s" % (test, why))
    sys.exit(SKIPPED)


def _die_with_parent():
    # A child that outlives the test (killed by a time-out) would hold its display or its port.
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def _stop_on_signals():
    # SIGTERM and SIGHUP end the test as Ctrl-C does, through the clean-up.
    def stop(signum, _frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGHUP, stop)


def _reg_text(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


class Session:
    """Use as `with Session(test, sim, tools) as s:`; the checks for what is missing come first,
    so that a skip leaves nothing behind."""

    def __init__(self, test, sim, tools=()):
        self.test = test
        sys.stdout.reconfigure(line_buffering=True)  # in order with what Wine programs print
        for tool in ("wine", "wineboot", "wineserver", "Xvfb") + tuple(tools):
            if not shutil.which(tool):
                skip(test, "%s is not installed (scripts/install-deps installs it)" % tool)
        if not os.access(sim, os.X_OK):
            skip(test, "no station simulator at %s" % sim)
        listed = subprocess.run(["dpkg", "-L", "fonts-wine"], capture_output=True, text=True)
        # fonts-wine's Tahoma Bold is bold only in its bitmaps of small sizes; its outlines are
        # those of the regular face, wider apart. Left out, Wine emboldens Tahoma's outlines, as
        # Windows emboldens Microsoft Sans Serif, which has no bold face of its own: the
        # readings come out bold at every size. Small bold text (title bars, the detection
        # dialog's status line) then shows Tahoma's regular bitmaps, which Wine does not
        # embolden.
        self.fonts = [f for f in listed.stdout.split() if f.endswith((".ttf", ".fon"))
                      and os.path.basename(f) != "tahomabd.ttf"]
        if not self.fonts:
            skip(test, "the fonts-wine package is not installed")
        self.sim = sim
        self.procs = []
        self.ports = {}  # COM number -> the device Wine opens for it
        self.stop_event = threading.Event()
        self.work = tempfile.mkdtemp(prefix="nimbrel-wine.")
        self.prefix = os.path.join(self.work, "prefix")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
                   XDG_CONFIG_HOME=os.path.join(self.work, "config"))  # the simulators' port map
        self.env = env  # no DISPLAY until ready(): no windows, not even wineboot's progress box

    def __enter__(self):
        _stop_on_signals()
        return self

    def __exit__(self, *_):
        self.close()

    def path(self, name):
        return os.path.join(self.work, name)

    def wine(self, *argv, timeout=60, **kw):
        """Runs a Wine command to its end; returns the CompletedProcess."""
        return subprocess.run(list(argv), env=self.env, timeout=timeout, **kw)

    def wine_output(self, *argv, timeout=60):
        """Runs a Wine command to its end; returns the CompletedProcess with what it printed
        as text. The output goes through files, never pipes: the first Wine program on a
        fresh server starts the prefix's services, which keep the pipes they inherit open, and
        reading a pipe to its end would wait for them."""
        with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
            done = subprocess.run(list(argv), env=self.env, timeout=timeout, stdout=out,
                                  stderr=err)
            out.seek(0)
            err.seek(0)
            done.stdout, done.stderr = out.read(), err.read()
        return done

    def reg_write(self, *args):
        """Runs `wine reg` with a command that changes the registry (add, delete, import), up to
        three times: a loaded run once saw `reg add` fail right after a scenario's program had
        ended. Prints why each failed try failed; returns the last CompletedProcess."""
        for _ in range(3):
            done = self.wine_output("wine", "reg", *args)
            if done.returncode == 0:
                break
            print("  wine reg %s ended with status %d%s" % (
                args[0], done.returncode, ": " + done.stderr.strip() if done.stderr.strip() else ""))
            time.sleep(1)
        return done

    def start(self, argv, env=None, **kw):
        p = subprocess.Popen(argv, env=env or self.env, preexec_fn=_die_with_parent, **kw)
        self.procs.append(p)
        return p

    def fail(self, what, log=None):
        text = open(log, errors="replace").read() if log and os.path.exists(log) else ""
        raise RuntimeError(what + (":\n" + text if text else ""))

    # --- the prefix and the display ---

    def boot(self):
        print("Wine prefix in %s (%s)" % (self.prefix, subprocess.run(
            ["wine", "--version"], capture_output=True, text=True).stdout.strip()))
        with open(self.path("wineboot.log"), "w") as log:
            self.wine("wineboot", "-i", timeout=180, stdout=log, stderr=log)
        self.wine("wineserver", "-w")
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            self.fail("wineboot could not make the prefix", self.path("wineboot.log"))
        for font in self.fonts:
            shutil.copy(font, os.path.join(self.prefix, "drive_c", "windows", "Fonts"))
        self.start_display()

    def start_display(self):
        read_end, write_end = os.pipe()
        with open(self.path("xvfb.log"), "w") as log:
            self.start(["Xvfb", "-displayfd", str(write_end), "-noreset", "-screen", "0",
                        "1024x768x24", "-nolisten", "tcp"], pass_fds=(write_end,), stdout=log,
                       stderr=log)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            self.fail("Xvfb did not start", self.path("xvfb.log"))
        self.display = ":" + number

    # --- the stations ---

    def start_sim(self, port, args, polls=False):
        """Starts a simulator as COM<port> of its own port map; returns its pseudo-terminal and
        its log, which says when it hangs up and, with `polls`, has a line for every poll."""
        log = self.path("sim-COM%d.log" % port)
        with open(log, "w") as out:
            p = self.start([self.sim, "--port", str(port)] + ([] if polls else ["--quiet"])
                           + list(args),
                           stdout=out, stderr=subprocess.STDOUT)
        start = "station-sim: COM%d -> " % port
        for _ in range(100):
            for line in open(log):
                if line.startswith(start):
                    return line[len(start):].split()[0], log
            if p.poll() is not None:
                break
            time.sleep(0.1)
        self.fail("station-sim on COM%d did not start" % port, log)

    def start_station(self, port, *args, polls=False):
        """A simulator on COM<port>, mapped in Wine to its pseudo-terminal; returns its log."""
        pty, log = self.start_sim(port, args, polls)
        self.ports[port] = pty
        print("COM%d -> %s: station-sim %s" % (port, pty, " ".join(args)))
        return log

    def map_port(self, port, path):
        """COM<port> in Wine's port map leads to `path`, whatever it is (a file, a FIFO)."""
        self.ports[port] = path
        print("COM%d -> %s" % (port, path))

    def start_replug(self, port, first, second, hangup_after=3, gap=0):
        """COM<port> as an adapter that is pulled out and plugged in again. Wine maps the port
        to a link, which must exist when Wine reads its port map and which Wine follows at every
        open. The link points at a first simulator with `first` as its options, which hangs up
        after `hangup_after` answered polls; then at a second one with `second`, started
        beforehand. With a `gap`, the link is missing for that many seconds in between, as an
        adapter that stays out a while."""
        link = self.path("replug-COM%d" % port)
        first_pty, first_log = self.start_sim(port, ["--hangup-after", str(hangup_after)] + first)
        os.symlink(first_pty, link)
        # A number in the simulators' own map only, not in Wine's.
        second_pty, _ = self.start_sim(port + 10, second)

        def replug():
            while not self.stop_event.wait(0.05):
                if "hung up" in open(first_log).read():
                    if gap:
                        os.unlink(link)
                        if self.stop_event.wait(gap):
                            return
                    os.symlink(second_pty, link + ".new")
                    os.replace(link + ".new", link)  # in one step: no moment without a link
                    return
        threading.Thread(target=replug, daemon=True).start()
        self.ports[port] = link
        print("COM%d -> %s -> station-sim %s --hangup-after %d, then%s station-sim %s"
              % (port, link, " ".join(first), hangup_after,
                 " %g s of nothing, then" % gap if gap else "", " ".join(second)))

    def ready(self):
        """Writes the desktop settings and the port map and starts a fresh Wine server, which
        lists the ports under SERIALCOMM; from here on Wine programs open windows."""
        reg = self.path("session.reg")
        values = DESKTOP_SETTINGS + [(PORTS_KEY, "COM%d" % n, dev) for n, dev in self.ports.items()]
        with open(reg, "w") as f:
            f.write("REGEDIT4\n")
            for key in dict.fromkeys(k for k, _, _ in values):
                f.write("\n[%s]\n" % key)
                f.writelines("%s=%s\n" % (_reg_text(name), _reg_text(value))
                             for k, name, value in values if k == key)
        if self.reg_write("import", reg).returncode != 0:
            self.fail("cannot write the settings and the port map into the prefix")
        # Wine reads its port map when it starts.
        self.wine("wineserver", "-k", timeout=10)
        self.wine("wineserver", "-w", timeout=10)
        # The server opens the ports; the first pseudo-terminal it opens becomes its
        # controlling terminal, and when that one hangs up the server lists all its objects on
        # standard error. Start it here, kept until the clean-up, with a log of its own.
        with open(self.path("wineserver.log"), "w") as log:
            self.wine("wineserver", "-p", timeout=10, stderr=log)
        self.env["DISPLAY"] = self.display

    def close(self):
        signal.signal(signal.SIGINT, signal.SIG_IGN)  # a second Ctrl-C must not cut this short
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        self.stop_event.set()
        # Wine first: its server may have taken a pseudo-terminal as its controlling terminal
        # and would be sent a hang-up when a simulator closes it.
        for argv in (["wineserver", "-k"], ["wineserver", "-w"]):
            try:
                self.wine(*argv, timeout=10, stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                pass
        # Each simulator removes its link on SIGTERM; one that does not end in time is killed.
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
        for p in self.procs:
            try:
                p.wait(2)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        shutil.rmtree(self.work, ignore_errors=True)
        signal.signal(signal.SIGINT, signal.default_int_handler)
