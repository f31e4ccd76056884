#!/usr/bin/env python3
"""The session ending closes the real nimbrel as Escape does: under Xvfb against station-sim as
COM1, each of SIGTERM, SIGHUP and SIGINT must end the program with status 0, store the port as
"weather_com" and give the port back (its lock file goes)."""

import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_nimbrel import Failure, run_scenario  # noqa: E402

LOCK_DIRS = ("/run/lock", "/var/lock")


def lock_file(device):
    name = "LCK.." + device[len("/dev/"):].replace("/", "_")
    for folder in LOCK_DIRS:
        if os.path.isdir(folder):
            return os.path.join(folder, name)
    return None


def each_signal_closes_and_stores(run):
    run.start_display()
    sim = run.start([run.args.sim, "--port", "1", "--quiet"], stdout=subprocess.PIPE, text=True)
    line = sim.stdout.readline()
    found = re.match(r"station-sim: COM1 -> (/dev/\S+)", line)
    if not found:
        raise Failure("station-sim did not start: %r" % line)
    lock = lock_file(found.group(1))
    conf = os.path.join(run.env["XDG_CONFIG_HOME"], "KORVANE_1", "KORVANE_1.conf")
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        if os.path.exists(conf):
            os.remove(conf)
        run.start_program()
        deadline = time.monotonic() + 5
        while lock and not os.path.exists(lock) and time.monotonic() < deadline:
            time.sleep(0.05)
        if lock and not os.path.exists(lock):
            raise Failure("no lock file %s while the port is open" % lock)
        run.program.send_signal(sig)
        try:
            status = run.program.wait(5)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not end the program" % sig.name)
        if status != 0:
            raise Failure("%s: nimbrel ended with status %d" % (sig.name, status))
        text = open(conf).read() if os.path.exists(conf) else ""
        if not re.search(r"^weather_com=1$", text, re.M):
            raise Failure("%s: weather_com=1 not stored: %r" % (sig.name, text))
        if lock and os.path.exists(lock):
            raise Failure("%s: the lock file %s stayed behind" % (sig.name, lock))
    print("e2e: SIGTERM, SIGHUP and SIGINT each closed the window, stored the port, freed it")


if __name__ == "__main__":
    sys.exit(run_scenario(each_signal_closes_and_stores, "e2e_session_end_failure.png"))
