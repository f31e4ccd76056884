#!/usr/bin/env python3
"""The re-jet alert of the real nimbrel, against station-sim replaying a log as COM1.

The engine in use has a 130 in it, right at 20 °C, 1000 mb and 50 %, and its carburettor takes
steps of 2. The log warms from 26 °C, where the jet called for is within a step, to 30 °C, where
it is 2.5 sizes smaller, and stays there: the calculated jet size box must turn amber, and the
program's log must get one "re-jet N" row with N the jet called for rounded to the step."""

import csv
import glob
import math
import os
import subprocess
import sys

import e2e_nimbrel as e2e

SETTINGS = """[main]
show_jet=1
[engines]
count=1
in_use=1
engine1_name=Kart
engine1_jet=130
engine1_step=2
engine1_baseline_jet=130
engine1_baseline_temperature=20.0
engine1_baseline_pressure=1000.0
engine1_baseline_humidity=50.0
"""
CORR_BOX = (750, 1860, 855, 285)  # txtCorr: left, top, width, height in twips below the menu
AMBER, LIGHT_GREY = "FFC000", "C0C0C0"


def replay_log(path):
    """A reading every 2 s: 26 °C for 12 s, then a degree more at each to 30 °C. At speed 4 the
    jet called for is a step off 4 s after the first poll, which leaves time for a first look."""
    with open(path, "w", newline="") as f:
        out = csv.writer(f, lineterminator="\r\n")
        out.writerow(["time_local", "utc_offset", "time_utc", "temperature_C", "pressure_mb",
                      "humidity_pct"] + [""] * 10)
        for i in range(11):
            stamp = "2026-06-14T06:00:%02dZ" % (2 * i)
            out.writerow([stamp[:10] + " 06:00:%02d" % (2 * i), "+00:00", stamp,
                          "%.1f" % max(26, 20 + i), "1000.0", "50.0"] + [""] * 10)


def log_rows(run):
    found = glob.glob(os.path.join(run.env["HOME"], ".local/share/KORVANE_1/logs/*.csv"))
    if len(found) != 1:
        return []
    with open(found[0], newline="", encoding="utf-8") as f:
        return [r for r in csv.reader(f) if len(r) == 16][1:]


def alert_fires(run):
    conf = os.path.join(run.path("config"), "KORVANE_1")
    os.makedirs(conf, exist_ok=True)
    with open(os.path.join(conf, "KORVANE_1.conf"), "w") as f:
        f.write(SETTINGS)
    replay_log(os.path.join(run.tmp, "warming.csv"))
    run.start_display()
    line = run.start([run.args.sim, "--port", "1", "--quiet", "--replay",
                      os.path.join(run.tmp, "warming.csv"), "--speed", "4"],
                     stdout=subprocess.PIPE, text=True).stdout.readline()
    if not line.startswith("station-sim: COM1 ->"):
        raise e2e.Failure("station-sim did not start: %r" % line)
    run.start_program()
    top = run.menu_height()
    left, y, width, _ = (v // e2e.TWIP for v in CORR_BOX)

    def corr_box_is(colour):
        # A row of the box's inside, above its digits.
        seen = set(run.pixels(left + 4, top + y + 3, width - 8, 1).values())
        return seen == {colour} or sorted(seen)

    run.wait_for("the calculated jet size box light grey at 26 °C",
                 lambda: corr_box_is(LIGHT_GREY), 0)
    run.wait_for("the calculated jet size box amber", lambda: corr_box_is(AMBER), 20)
    run.screenshot("e2e_rejet.png")

    events = lambda: [i for i, r in enumerate(log_rows(run)) if r[13].startswith("re-jet")]
    run.wait_for("a re-jet row in the log", lambda: bool(events()) or log_rows(run)[-3:], 5)
    # Two more readings: the alert must not be logged again.
    run.wait_for("two readings after it", lambda: sum(
        1 for r in log_rows(run)[events()[0]:] if r[3]) >= 2 or log_rows(run)[-3:], 10)
    rows = log_rows(run)
    at = events()
    reading = next(r for r in reversed(rows[:at[0]]) if r[3])
    temperature, pressure, humidity = (float(v) for v in reading[3:6])
    called_for = 130 + (humidity - 50) * -0.04 + (pressure - 1000) * 0.05 + (
        temperature - 20) * -0.25
    want = "re-jet %d" % (math.floor(called_for / 2 + 0.5) * 2)
    if [rows[i][13] for i in at] != [want]:
        raise e2e.Failure("re-jet rows %s after %s, not one %r" % (
            [rows[i][13] for i in at], reading[3:6], want))
    run.wait_for("the alert still on", lambda: corr_box_is(AMBER), 0)
    print("e2e: the calculated jet size turned amber and the log says %r" % want)


if __name__ == "__main__":
    sys.exit(e2e.run_scenario(alert_fires, "e2e_rejet_failure.png"))
