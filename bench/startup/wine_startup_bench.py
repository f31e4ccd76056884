#!/usr/bin/env python3
"""Start-up of nimbrel.exe next to a bare Win32 window with the same controls, under Wine on a
private Xvfb, with a warm Wine server.

Measures, for each program: the time from process start to the map of its window (median and
range over --runs starts of each, alternated, after one warm-up start of each), and its
resident memory after ten ticks of the main window's 2-second timer (both running side by side
for that). nimbrel.exe talks to station-sim as COM1, so its ticks do real polls.

  bench/startup/wine_startup_bench.py --nimbrel build/windows/app/nimbrel.exe \\
      --bare build/windows/bare_window_win32.exe --sim build/tools/station_sim/station-sim
"""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "windows"))
from wine_session import Session  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from startup_bench import report, rss_kib, stop  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--nimbrel", required=True)
    ap.add_argument("--bare", required=True)
    ap.add_argument("--sim", required=True)
    ap.add_argument("--runs", type=int, default=7)
    args = ap.parse_args()
    programs = {"nimbrel": os.path.abspath(args.nimbrel), "bare": os.path.abspath(args.bare)}

    with Session("wine_startup_bench", args.sim, tools=("xev", "stdbuf")) as s:
        s.boot()
        s.start_station(1, "--drift")
        s.ready()
        # Map events of top-level windows, one line each as they come. Without a window
        # manager Wine maps its windows override-redirect; a program's first map is its window.
        xev = s.start(["stdbuf", "-oL", "xev", "-display", s.display, "-root", "-event",
                       "substructure"], stdout=subprocess.PIPE, text=True)
        time.sleep(0.5)

        def time_to_window(name):
            t0 = time.monotonic()
            p = s.start(["wine", programs[name]], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL)
            while True:
                line = xev.stdout.readline()
                if not line:
                    raise SystemExit("xev ended")
                if line.startswith("MapNotify"):
                    return p, time.monotonic() - t0

        times = {name: [] for name in programs}
        for run in range(args.runs + 1):
            for name in programs:
                p, seconds = time_to_window(name)
                stop(p)
                time.sleep(0.3)  # the port and the server settle between starts
                if run:  # the first start of each only warms the caches
                    times[name].append(seconds)

        running = {name: time_to_window(name)[0] for name in programs}
        time.sleep(10 * 2.0 + 1.0)  # ten ticks of nimbrel's timer
        rss = {name: rss_kib(p.pid) for name, p in running.items()}
        for p in running.values():
            stop(p)

    report(times, rss)
    for name, path in programs.items():
        print("size of %s: %d bytes" % (os.path.basename(path), os.path.getsize(path)))


if __name__ == "__main__":
    sys.exit(main())
