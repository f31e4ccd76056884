#!/usr/bin/env python3
"""A second start of the real nimbrel hands over to the first: under Xvfb against station-sim
as COM1, with nimbrel's window minimised and another window on top, a second nimbrel must end
within a few seconds with status 0, without a window of its own and without storing settings,
while the first keeps running, keeps its port and comes back: shown again and raised over the
other window. After the first is killed with SIGKILL (its lock and socket left as they were), a
new copy starts as usual and in turn takes the call of a later one.

Xvfb runs no window manager, so minimising is played here as ICCCM 4.1.4 says a window manager
does it: WM_STATE set to IconicState and the window unmapped. Whether the window also gets the
focus is up to the window manager, so that is not checked."""

import ctypes
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_nimbrel import Failure, run_scenario  # noqa: E402
from e2e_session_end import lock_file  # noqa: E402

MAIN = "^Travenor Nimbrel$"
ICONIC_STATE = 3


def minimise(display, window):
    """What a window manager does to iconify `window` (ICCCM 4.1.4)."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                                  ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
    x.XUnmapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    d = x.XOpenDisplay(display.encode())
    if not d:
        raise Failure("cannot open display %s" % display)
    wm_state = x.XInternAtom(d, b"WM_STATE", 0)
    state = (ctypes.c_long * 2)(ICONIC_STATE, 0)  # format 32 is an array of longs to Xlib
    x.XChangeProperty(d, int(window), wm_state, wm_state, 32, 0, state, 2)
    x.XUnmapWindow(d, int(window))
    x.XSync(d, 0)
    x.XCloseDisplay(d)


def lock_holder(lock):
    """The process id in the port's lock file, or None without one."""
    try:
        return int(open(lock).read().split()[0])
    except (OSError, IndexError, ValueError):
        return None


def shown(run, window):
    out = run.x("xwininfo", "-id", window).stdout
    return "Map State: IsViewable" in out or re.findall(r"Map State: \w+", out)


def stacked_above(run, upper, lower):
    """True when X window `upper` lies above `lower`; top-level windows are the root's
    children, which xwininfo lists from the top down."""
    out = run.x("xwininfo", "-root", "-children").stdout
    order = [int(w, 16) for w in re.findall(r"^\s+(0x[0-9a-f]+)", out, re.M)]
    upper, lower = int(upper), int(lower)
    if upper not in order or lower not in order:
        return "not both in %s" % order
    return order.index(upper) < order.index(lower) or "below"


def second_start_hands_over(run, other, conf):
    """Minimises the running copy under `other`, starts a second copy and checks that it ends
    at once with status 0, and that the running copy came back on top."""
    run.x("xdotool", "windowraise", other)
    minimise(run.env["DISPLAY"], run.wid)
    run.wait_for("nimbrel minimised", lambda: shown(run, run.wid) == ["Map State: IsUnMapped"], 5)
    run.wait_for("the other window over nimbrel", lambda: stacked_above(run, other, run.wid), 5)

    started = time.monotonic()
    second = subprocess.Popen([run.args.nimbrel], env=dict(run.env, QT_QPA_PLATFORM="xcb"))
    run.procs.append(second)
    try:
        status = second.wait(5)
    except subprocess.TimeoutExpired:
        raise Failure("the second copy still runs after 5 s")
    took = time.monotonic() - started
    if status != 0:
        raise Failure("the second copy ended with status %d" % status)
    windows = run.x("xdotool", "search", "--name", MAIN).stdout.split()
    if windows != [run.wid]:
        raise Failure("windows named Travenor Nimbrel: %s, not only %s" % (windows, run.wid))
    if run.program.poll() is not None:
        raise Failure("the first copy ended with status %d" % run.program.returncode)
    if os.path.exists(conf):
        raise Failure("settings were stored: %r" % open(conf).read())
    run.wait_for("nimbrel shown again", lambda: shown(run, run.wid), 5)
    run.wait_for("nimbrel raised over the other window",
                 lambda: stacked_above(run, run.wid, other), 5)
    print("e2e: the second copy ended after %.2f s; the first came back on top" % took)


def start_station(run):
    """station-sim as COM1; returns it and its port's lock file."""
    sim = run.start([run.args.sim, "--port", "1", "--quiet"], stdout=subprocess.PIPE, text=True)
    found = re.match(r"station-sim: COM1 -> (/dev/\S+)", sim.stdout.readline())
    if not found:
        raise Failure("station-sim did not start")
    return sim, lock_file(found.group(1))


def second_copy(run):
    run.start_display()
    conf = os.path.join(run.env["XDG_CONFIG_HOME"], "KORVANE_1", "KORVANE_1.conf")
    run.start(["xev", "-geometry", "640x480+0+0"], stdout=subprocess.DEVNULL)
    run.wait_for("the other window (xev)",
                 lambda: bool(run.x("xdotool", "search", "--name", "^Event Tester$").stdout), 5)
    other = run.x("xdotool", "search", "--name", "^Event Tester$").stdout.split()[0]

    for start in ("first start", "start after SIGKILL"):
        # A fresh station each time: a killed copy leaves its pseudo-terminal in exclusive mode.
        sim, lock = start_station(run)
        run.start_program()
        if lock:
            run.wait_for("%s: the port held" % start,
                         lambda: lock_holder(lock) == run.program.pid or lock_holder(lock), 5)
        second_start_hands_over(run, other, conf)
        if lock and lock_holder(lock) != run.program.pid:
            raise Failure("%s: the port is held by %s" % (start, lock_holder(lock)))
        run.program.kill()
        run.program.wait()
        sim.terminate()
        sim.wait(5)
        run.wait_for("the killed copy's window gone",
                     lambda: not run.x("xdotool", "search", "--name", MAIN).stdout or "shown", 5)
    print("e2e: each second copy handed over, also after the first copy was killed")


if __name__ == "__main__":
    sys.exit(run_scenario(second_copy, "e2e_second_copy_failure.png"))
