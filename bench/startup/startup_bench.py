#!/usr/bin/env python3
"""Start-up of nimbrel next to a bare Qt Widgets window, on a private Xvfb.

The bare window (bare_window.cpp) holds what nimbrel's main window holds: a menu, five boxes,
five labels and a 2-second timer. Measures, for each program: the time from process start to
the map of its first top-level window (median and range over --runs starts, the two programs
started in turn after one warm-up start of each), and its resident memory after ten ticks of
the 2-second timer (both programs run side by side for that). nimbrel talks to station-sim as
COM1 in a throwaway home, so its ticks do real polls.

  bench/startup/startup_bench.py --nimbrel build/app/nimbrel \\
      --sim build/tools/station_sim/station-sim --bare build/bench/startup/bare_window
"""

import argparse
import ctypes
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

_libc = ctypes.CDLL(None)


def die_with_parent():
    _libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Bench:
    def __init__(self, args):
        self.args = args
        self.procs = []
        self.tmp = tempfile.mkdtemp(prefix="nimbrel-bench-")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
                    "QT_QPA_PLATFORM": "xcb"}
        for var, name in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"),
                          ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
            self.env[var] = os.path.join(self.tmp, name)
            os.makedirs(self.env[var], mode=0o700)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.tmp, "no-bus")

    def start(self, argv, **kw):
        p = subprocess.Popen(argv, env=self.env, preexec_fn=die_with_parent, **kw)
        self.procs.append(p)
        return p

    def cleanup(self):
        for p in reversed(self.procs):
            stop(p)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start_display(self):
        r, w = os.pipe()
        self.start(["Xvfb", "-displayfd", str(w), "-noreset", "-nolisten", "tcp", "-screen", "0",
                    "640x480x24"], pass_fds=(w,), stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            self.env["DISPLAY"] = ":" + f.readline().strip()
        # Map events of top-level windows, one line each as they come.
        self.xev = self.start(["stdbuf", "-oL", "xev", "-root", "-event", "substructure"],
                              stdout=subprocess.PIPE, text=True)
        time.sleep(0.5)

    def start_station(self):
        sim = self.start([self.args.sim, "--port", "1", "--drift", "--quiet"],
                         stdout=subprocess.PIPE, text=True)
        if not sim.stdout.readline().startswith("station-sim: COM1"):
            raise SystemExit("station-sim did not start")

    def time_to_window(self, program):
        """Seconds from process start to the map of its first normal top-level window."""
        t0 = time.monotonic()
        p = self.start([program], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        mapped = False
        while True:
            line = self.xev.stdout.readline()
            if not line:
                raise SystemExit("xev ended")
            if line.startswith("MapNotify"):
                mapped = True
            elif mapped and "override NO" in line:
                t1 = time.monotonic()
                break
            elif mapped and "override YES" in line:
                mapped = False
        return p, t1 - t0

    def startup_times(self, programs):
        """Start-up times of each program of `programs` (name: path), started in turn, so that
        a slower or faster spell of the machine falls on both alike."""
        times = {name: [] for name in programs}
        for i in range(self.args.runs + 1):
            for name, program in programs.items():
                p, seconds = self.time_to_window(program)
                stop(p)
                if i:  # the first round only warms the caches
                    times[name].append(seconds)
        return times


def stop(p):
    if p.poll() is None:
        p.terminate()
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def report(times, rss):
    """Prints the table of `times` (seconds per start) and `rss` (KiB) of "nimbrel" and "bare",
    and the ratios."""
    def ms(values):
        return statistics.median(values) * 1000

    print("%-8s %14s %18s %14s" % ("program", "start median", "start min..max", "RSS, 10 ticks"))
    for name, t in times.items():
        print("%-8s %11.1f ms %8.1f..%6.1f ms %10d KiB" % (name, ms(t), min(t) * 1000,
                                                           max(t) * 1000, rss[name]))
    print("ratio nimbrel/bare: start %.2f, memory %.2f" % (
        ms(times["nimbrel"]) / ms(times["bare"]), rss["nimbrel"] / rss["bare"]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--nimbrel", required=True)
    ap.add_argument("--sim", required=True)
    ap.add_argument("--bare", required=True)
    ap.add_argument("--runs", type=int, default=7)
    bench = Bench(ap.parse_args())
    try:
        bench.start_display()
        bench.start_station()
        programs = {"nimbrel": bench.args.nimbrel, "bare": bench.args.bare}
        results = {name: {"times": t} for name, t in bench.startup_times(programs).items()}
        running = {name: bench.time_to_window(program)[0] for name, program in programs.items()}
        time.sleep(10 * 2.0 + 1.0)  # ten ticks of either timer
        for name, p in running.items():
            results[name]["rss"] = rss_kib(p.pid)
            stop(p)

        report({name: r["times"] for name, r in results.items()},
               {name: r["rss"] for name, r in results.items()})
    finally:
        bench.cleanup()


if __name__ == "__main__":
    sys.exit(main())
