#!/usr/bin/env python3
"""The real nimbrel's log of a run, read with Python's csv module, against station-sim as COM1.

The program runs under a locale with a decimal comma, which the screen shows and the log never
does. A file-size limit put on the running program stands for a disk that fills up: the
program goes on, History says that logging is held up, and once the limit is lifted every row
held back is written, in order. Then kill -9: the file parses, with every reading shown."""

import csv
import glob
import os
import signal
import subprocess
import sys

import e2e_nimbrel as e2e

HEADER = ["time_local", "utc_offset", "time_utc", "temperature_C", "pressure_mb", "humidity_pct",
          "density_kg_m3", "density_altitude_m", "dew_point_C", "vapour_pressure_mb",
          "jet_original", "jet_calculated", "port", "event", "correction_factor",
          "correction_standard"]
HELD_UP = (220, 8, 200, 16)  # where History says that logging is held up: x, y, width, height


def rows(run):
    found = glob.glob(os.path.join(run.env["HOME"], ".local/share/KORVANE_1/logs/*.csv"))
    if len(found) != 1:
        return []
    with open(found[0], newline="", encoding="utf-8") as f:
        return list(csv.reader(f))


def readings(run):
    return [r for r in rows(run)[1:] if len(r) == 16 and not r[13]]


def log_survives(run):
    run.env["LANG"] = "de_DE.UTF-8"
    run.start_display()
    run.start([run.args.sim, "--port", "1", "--quiet"], stdout=subprocess.PIPE,
              text=True).stdout.readline()
    run.start_program()
    history = e2e.open_history(run)
    run.wait_for("three readings logged", lambda: len(readings(run)) >= 3 or len(rows(run)), 15)

    def held_up_shown(shown):
        red = "FF0000" in run.pixels(*HELD_UP, history).values()
        return red == shown or "held up shown: %s" % red
    pid = str(run.program.pid)
    size = os.path.getsize(glob.glob(os.path.join(run.env["HOME"],
                                                  ".local/share/KORVANE_1/logs/*.csv"))[0])
    subprocess.run(["prlimit", "--pid", pid, "--fsize=%d:unlimited" % (size + 100)], check=True)
    run.wait_for("History saying that logging is held up", lambda: held_up_shown(True), 10)
    run.screenshot("e2e_log_held_up.png")
    held = len(readings(run))
    run.wait_for("the program going on", lambda: run.program.poll() is None and len(
        run.x("xdotool", "search", "--name", "^History$").stdout.split()) == 1, 1)
    subprocess.run(["prlimit", "--pid", pid, "--fsize=unlimited"], check=True)
    run.wait_for("the held rows written", lambda: len(readings(run)) >= held + 3
                 or len(readings(run)), 10)
    run.wait_for("History no longer saying so", lambda: held_up_shown(False), 5)
    os.kill(run.program.pid, signal.SIGKILL)
    run.program.wait()

    log = rows(run)
    if log[0] != HEADER or any(len(r) != 16 for r in log):
        raise e2e.Failure("not a log of 16 columns: %s" % log[:3])
    seen = readings(run)
    times = [r[2] for r in log[1:]]
    if times != sorted(times):
        raise e2e.Failure("UTC goes back: %s" % times)
    # A row every two seconds: none lost while the disk was full.
    seconds = [int(t[11:13]) * 3600 + int(t[14:16]) * 60 + int(t[17:19]) for t in
               (r[2] for r in seen)]
    gaps = [b - a for a, b in zip(seconds, seconds[1:]) if b - a > 4]
    if gaps or any(r[3:6] != ["20.0", "1013.3", "50.0"] or r[12] != "COM1"
                   or r[15] != "SAE J1349" or not r[14].startswith("0.") for r in seen):
        raise e2e.Failure("readings %s, gaps %s" % (seen[:3], gaps))
    if [r[13] for r in log[1:3]] != ["start", "port COM1"]:
        raise e2e.Failure("the run's first events: %s" % log[1:3])
    print("e2e: %d readings logged, %d of them from when the disk was full, parsed after kill -9"
          % (len(seen), len(seen) - held))


if __name__ == "__main__":
    sys.exit(e2e.run_scenario(log_survives, "e2e_log_failure.png"))
