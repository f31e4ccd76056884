#!/usr/bin/env python3
"""Port detection in the real nimbrel under Xvfb: COM1 holds a silent station and COM2 one that
answers. "Auto", chosen through the Options menu, must find COM2, hand it to the main window and
close by itself; Escape then closes the main window, which stores "weather_com" as 2."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_nimbrel import Failure, run_scenario  # noqa: E402

DIALOG = "^Automatic COM Port Detection$"


def start_stations(run):
    for port, extra in (("1", ["--silent"]), ("2", [])):
        sim = run.start([run.args.sim, "--port", port, "--quiet"] + extra,
                        stdout=subprocess.PIPE, text=True)
        line = sim.stdout.readline()
        if not line.startswith("station-sim: COM%s ->" % port):
            raise Failure("station-sim for COM%s did not start: %r" % (port, line))


def dialog_ids(run):
    return run.x("xdotool", "search", "--onlyvisible", "--name", DIALOG).stdout.split()


def detect_com2(run):
    run.start_display()
    start_stations(run)
    run.start_program()

    # Options, then the fourth item below it: none, COM1, COM2, Auto (the separator is
    # skipped by the keyboard).
    run.x("xdotool", "windowfocus", "--sync", run.wid)
    run.x("xdotool", "mousemove", "--window", run.wid, "25", "8", "click", "1")
    time.sleep(0.5)
    run.x("xdotool", "key", "Down", "Down", "Down", "Down", "Return")

    run.wait_for("the detection dialog", lambda: bool(dialog_ids(run)) or "none", 10)
    time.sleep(0.5)
    target = os.path.join(run.args.artefacts, "e2e_detection_scan.png")
    run.x("import", "-window", "root", target)
    print("screenshot:", target)
    run.wait_for("the dialog closing by itself", lambda: not dialog_ids(run) or "open", 20)

    run.close_and_check_stored(2)
    print("e2e: detection found COM2 and the main window stored it")


if __name__ == "__main__":
    sys.exit(run_scenario(detect_com2, "e2e_detection_failure.png"))
