#!/usr/bin/env python3
"""How long the program takes to notice a pulled adapter and to show the station again once it
is plugged back in under its own number. (A station's adapter is followed to another number
only by its USB identity, which neither a pseudo-terminal nor a Wine port has; the window tests
cover that case, and the Wine end-to-end test that a station under another number is left
alone.)

Each run starts the real program on a station that hangs up after three answered polls (the
pull), waits for the red window icon, waits a little more (a different part of the 2-second tick
in each run), then plugs the station in again and waits for the reading boxes to turn live (the
first fresh reading). Measured from outside: the icon from the X server, the boxes' colours from
screenshots, every 50 ms or so.

  bench/replug/replug_bench.py --nimbrel build/app/nimbrel \\
      --sim build/tools/station_sim/station-sim [--runs 5]
  bench/replug/replug_bench.py --wine --cross build/windows \\
      --sim build/tools/station_sim/station-sim [--runs 5]

On Linux under Xvfb, a port is the station simulator's link in the program's port map; the pull
removes it and the plug makes it again. Under Wine on Xvfb, a port is a dosdevices link to a
link of ours to the station's pseudo-terminal, listed in SERIALCOMM; the pull removes our link
and the SERIALCOMM value, as Windows takes a pulled adapter's device and value away, and the
plug puts them back."""

import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "windows"))
import e2e_nimbrel  # noqa: E402

ANSWERS = 3  # answered polls before the pull
EVERY = 0.05


def wait(what, check, seconds):
    """Polls `check` until it is true; the time it was first seen."""
    deadline = time.monotonic() + seconds
    while not check():
        if time.monotonic() > deadline:
            raise SystemExit("%s: not seen within %d s" % (what, seconds))
        time.sleep(EVERY)
    return time.monotonic()


def wait_for_line(log, text, seconds):
    return wait("%r in %s" % (text, log), lambda: text in open(log).read(), seconds)


class Linux:
    def __init__(self, args):
        self.args = args
        self.run = e2e_nimbrel.Run(args)
        self.run.start_display()
        self.logs = self.run.path("logs")

    def close(self):
        self.run.cleanup()

    def station(self, port, *extra):
        """A simulator on COM<port>: its process, its log and when it was started (its link is
        made a few milliseconds later)."""
        log = os.path.join(self.logs, "COM%d-%f.log" % (port, time.monotonic()))
        started = time.monotonic()
        with open(log, "w") as out:
            p = self.run.start([self.args.sim, "--port", str(port), "--quiet"] + list(extra),
                               stdout=out, stderr=subprocess.STDOUT)
        wait_for_line(log, "station-sim: COM%d ->" % port, 10)
        return p, log, started

    def round(self, delay):
        run = self.run
        conf = os.path.join(run.env["XDG_CONFIG_HOME"], "KORVANE_1", "KORVANE_1.conf")
        os.makedirs(os.path.dirname(conf), exist_ok=True)
        with open(conf, "w") as f:
            f.write("[main]\nweather_com=1\n")
        _, first_log, _ = self.station(1, "--hangup-after", str(ANSWERS))
        run.start_program()
        top = run.menu_height()

        def live():
            return run.box_colours(top) == [e2e_nimbrel.LIVE] * 3
        wait("live readings", live, 10)
        pulled = wait_for_line(first_log, "hung up", 15)
        red = wait("the red icon", lambda: run.icon() == (16, 16, e2e_nimbrel.RED_ICON), 20)
        time.sleep(delay)
        second, _, plugged = self.station(1)
        fresh = wait("the first fresh reading", live, 20)
        run.close_with_escape()
        second.terminate()
        second.wait()
        return red - pulled, fresh - plugged


class Wine:
    def __init__(self, args):
        from wine_session import Session
        import e2e_wine
        self.e2e = e2e_wine
        self.s = Session("replug_bench", args.sim, tools=("xdotool", "xprop", "import"))
        self.s.env["LC_ALL"] = "C.UTF-8"
        self.s.boot()
        self.s.ready()
        self.d = e2e_wine.Driver(self.s, argparse.Namespace(cross=args.cross,
                                                             artefacts=self.s.work))
        self.number = 30

    def close(self):
        self.d.log.close()
        self.s.close()

    def plug(self, port, pty):
        """The device of COM<port>, a link of ours to `pty`, and its SERIALCOMM value."""
        link = self.s.path("adapter-COM%d" % port)
        os.symlink(pty, link + ".new")
        os.replace(link + ".new", link)
        dosdevice = os.path.join(self.s.prefix, "dosdevices", "com%d" % port)
        if not os.path.islink(dosdevice):
            os.symlink(link, dosdevice)
        self.reg("add", "/v", r"\Device\USBSER%03d" % port, "/t", "REG_SZ", "/d",
                 "COM%d" % port)

    def pull(self, port):
        os.remove(self.s.path("adapter-COM%d" % port))
        self.reg("delete", "/v", r"\Device\USBSER%03d" % port)

    def reg(self, *argv):
        done = self.s.wine_output("wine", "reg", argv[0], self.e2e.SERIALCOMM, *argv[1:], "/f")
        if done.returncode != 0:
            raise SystemExit("wine reg %s failed" % " ".join(argv))

    def round(self, delay):
        e2e, d = self.e2e, self.d
        first = second = self.number
        self.number += 1
        pty, first_log = self.s.start_sim(first, ["--hangup-after", str(ANSWERS)])
        self.plug(first, pty)
        d.start_on_port(first)
        window = d.window(e2e.MAIN)  # where the boxes are; the window does not move

        def live():
            return d.boxes(window) == [e2e.LIVE] * 3
        wait("live readings", live, 10)
        pulled = wait_for_line(first_log, "hung up", 15)
        self.pull(first)
        red = wait("the red icon", lambda: d.icon_is(e2e.RED_ICON) is True, 20)
        time.sleep(delay)
        pty, _ = self.s.start_sim(second + 100, [])  # a number in the simulators' map only
        station = self.s.procs[-1]
        self.plug(second, pty)
        plugged = time.monotonic()
        fresh = wait("the first fresh reading", live, 20)
        d.close_with_escape()
        stored = d.get_setting("weather_com")
        if stored != str(second):
            raise SystemExit("weather_com=%s at Escape, not %d" % (stored, second))
        self.pull(second)
        station.terminate()
        station.wait()
        return red - pulled, fresh - plugged


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine", action="store_true", help="nimbrel.exe under Wine")
    ap.add_argument("--nimbrel", help="the Linux program")
    ap.add_argument("--cross", help="the cross build, with --wine")
    ap.add_argument("--sim", required=True)
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    if (args.cross if args.wine else args.nimbrel) is None:
        ap.error("--wine needs --cross; without it, --nimbrel is needed")
    args.artefacts = None
    args.scale = 1  # the display scale of the end-to-end runs
    system = Wine(args) if args.wine else Linux(args)
    times = {}
    try:
        for i in range(args.runs):
            # Plugged in at a different part of the tick each run.
            pull_to_red, plug_to_fresh = system.round(2.0 * i / args.runs)
            print("same number, run %d: pull to red icon %.2f s, plug to fresh reading %.2f s"
                  % (i + 1, pull_to_red, plug_to_fresh), flush=True)
            times.setdefault("same", []).append((pull_to_red, plug_to_fresh))
    finally:
        system.close()
    print("%s, median [min-max] of %d runs:" % ("Wine" if args.wine else "Linux", args.runs))
    for case, runs in times.items():
        columns = list(zip(*runs))
        print("  %-5s number: pull to red icon %s s, plug to first fresh reading %s s"
              % (case, *("%.2f [%.2f-%.2f]" % (statistics.median(c), min(c), max(c))
                         for c in columns)))


if __name__ == "__main__":
    sys.exit(main())
