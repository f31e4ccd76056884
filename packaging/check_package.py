#!/usr/bin/env python3
"""Builds the Debian package from a finished build folder and checks it the way a user's
machine would meet it: the archive's dependencies, the files it installs, the menu entry and
the AppStream metadata by their validators, station-sim's manual page against its --help,
lintian (no errors), and the unpacked nimbrel started under Xvfb against the unpacked
station-sim: its window must appear with its title and its icon, and belong to the menu entry.

Everything it makes stays in --work (the package, the unpacked tree, a screenshot)."""

import argparse
import configparser
import glob
import os
import re
import shutil
import subprocess
import sys
import types

ICON_SIZES = (16, 32, 48, 256)  # the first is the picture's own size
TOOLS = ("dpkg-deb", "desktop-file-validate", "appstreamcli", "lintian", "man", "identify",
         "Xvfb", "xdotool", "xprop", "import")


class Failure(Exception):
    pass


def run(argv, **kw):
    p = subprocess.run(argv, capture_output=True, text=True, timeout=kw.pop("timeout", 180), **kw)
    return p


def must(argv, what, **kw):
    p = run(argv, **kw)
    if p.returncode != 0:
        raise Failure("%s failed (%d):\n%s%s" % (what, p.returncode, p.stdout, p.stderr))
    return p.stdout


def build_package(args):
    out = os.path.join(args.work, "package")
    shutil.rmtree(out, ignore_errors=True)
    must([args.cpack, "-G", "DEB", "--config", os.path.join(args.build_dir, "CPackConfig.cmake"),
          "-B", out], "cpack")
    debs = glob.glob(os.path.join(out, "*.deb"))
    if len(debs) != 1:
        raise Failure("cpack made %d .deb files in %s" % (len(debs), out))
    print("package: %s, %d bytes" % (debs[0], os.path.getsize(debs[0])))
    return debs[0]


def check_control(deb):
    fields = must(["dpkg-deb", "--field", deb, "Package", "Depends", "Maintainer"], "dpkg-deb")
    print(fields.rstrip())
    # Without dpkg-shlibdeps the package would install on a machine without Qt and then fail
    # to start; its list names the libraries the two programs are linked with.
    depends = re.search(r"^Depends: (.*)$", fields, re.M)
    names = {d.split()[0] for d in depends.group(1).split(", ")} if depends else set()
    for lib in ("libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6"):
        if lib not in names:
            raise Failure("Depends lacks %s: %s" % (lib, sorted(names)))


def unpack(deb, work):
    root = os.path.join(work, "root")
    shutil.rmtree(root, ignore_errors=True)
    must(["dpkg-deb", "-x", deb, root], "dpkg-deb -x")
    return root


def check_desktop_entry(root):
    entries = glob.glob(os.path.join(root, "usr/share/applications/*.desktop"))
    if len(entries) != 1:
        raise Failure("expected one menu entry, found %s" % entries)
    entry = entries[0]
    p = run(["desktop-file-validate", entry])
    print(p.stdout + p.stderr, end="")
    if p.returncode != 0 or re.search(r": (error|warning): ", p.stdout + p.stderr):
        raise Failure("desktop-file-validate found faults in %s" % entry)
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(entry, encoding="utf-8")
    fields = parser["Desktop Entry"]
    program = os.path.join(root, "usr/bin", fields["Exec"].split()[0])
    if not os.access(program, os.X_OK):
        raise Failure("the menu entry starts %r, which the package does not hold" % fields["Exec"])
    desktop_id = os.path.basename(entry)[: -len(".desktop")]
    return desktop_id, fields["Icon"], program


def check_icons(root, icon):
    palette = None  # the colours of the picture itself, at its own size
    for size in ICON_SIZES:
        png = os.path.join(root, "usr/share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, icon))
        if not os.path.exists(png):
            raise Failure("no %d-pixel icon %s" % (size, png))
        seen = must(["identify", "-format", "%w %h %k %[opaque]", png], "identify").split()
        width, height, colours, opaque = seen
        palette = palette or colours
        # Scaled without smoothing, every size has just the picture's colours: a pixel
        # between two of them would be a blur. The picture's transparent pixels stay so.
        if [width, height] != [str(size)] * 2 or colours != palette or opaque.lower() != "false":
            raise Failure("%s: width, height, colours, opaque = %s; the %d-pixel icon has %s "
                          "colours" % (png, seen, ICON_SIZES[0], palette))


def check_metainfo(root):
    p = run(["appstreamcli", "validate-tree", "--no-net", "--explain", root])
    print(p.stdout + p.stderr, end="")
    if p.returncode != 0:
        raise Failure("appstreamcli validate-tree failed")


def check_manual(root):
    sim = os.path.join(root, "usr/bin/station-sim")
    page = os.path.join(root, "usr/share/man/man1/station-sim.1.gz")
    if not os.path.exists(page):
        raise Failure("no manual page %s" % page)
    p = run(["man", "--warnings", "-E", "UTF-8", "-l", page],
            env=dict(os.environ, MANWIDTH="80", LANG="C.UTF-8"))
    if p.returncode != 0 or p.stderr.strip():
        raise Failure("man -l %s: %s" % (page, p.stderr))
    shown = p.stdout.replace("\u2010", "-").replace("\u2212", "-")
    options = set(re.findall(r"^\s+(--[a-z-]+)", must([sim, "--help"], "station-sim --help"),
                             re.M))
    missing = [o for o in sorted(options) if o not in shown]
    if not options or missing:
        raise Failure("the manual page lacks options of --help: %s" % (missing or "all"))


def check_lintian(deb):
    p = run(["lintian", "--info", deb], timeout=240)
    tags = [line for line in p.stdout.splitlines() if re.match(r"^[EWIPX]: ", line)]
    print("lintian:", "\n  ".join([""] + tags) if tags else "no tags")
    if p.returncode != 0 or any(t.startswith("E: ") for t in tags):
        raise Failure("lintian found errors:\n%s%s" % (p.stdout, p.stderr))


def smoke_test(args, program, desktop_id):
    # The project's own harness for the real program under Xvfb; here it starts the programs
    # of the unpacked package, with nothing of the build folder on their way.
    sys.path.insert(0, args.e2e)
    sys.dont_write_bytecode = True  # no cache files in the source tree
    import e2e_nimbrel as e2e

    sim = os.path.join(os.path.dirname(program), "station-sim")
    session = e2e.Run(types.SimpleNamespace(nimbrel=program, sim=sim, artefacts=args.work,
                                            scale=1, wm="none"))
    try:
        session.start_display()
        session.start_station()
        session.start_program()
        session.wait_for("the connected window icon, 16 x 16",
                         lambda: session.icon() == (16, 16, e2e.GREEN_ICON) or session.icon(), 10)
        wm_class = session.x("xprop", "-id", session.wid, "WM_CLASS").stdout
        if '"%s"' % desktop_id not in wm_class:
            raise Failure("the window's class is not the menu entry's name %r: %s"
                          % (desktop_id, wm_class.strip()))
        session.screenshot("package_smoke.png")
        session.close_with_escape()
    except e2e.Failure as e:
        raise Failure(str(e))
    finally:
        session.cleanup()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build-dir", required=True, help="a build folder that has been built")
    ap.add_argument("--cpack", default="cpack")
    ap.add_argument("--e2e", required=True, help="the folder of e2e_nimbrel.py")
    ap.add_argument("--work", required=True, help="where the package and its tree go")
    args = ap.parse_args()
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        print("check_package: missing %s (scripts/install-deps installs them)" % " ".join(missing),
              file=sys.stderr)
        return 1
    os.makedirs(args.work, exist_ok=True)
    try:
        deb = build_package(args)
        check_control(deb)
        root = unpack(deb, args.work)
        desktop_id, icon, program = check_desktop_entry(root)
        check_icons(root, icon)
        check_metainfo(root)
        check_manual(root)
        check_lintian(deb)
        smoke_test(args, program, desktop_id)
    except Failure as e:
        print("package check FAILED:", e, file=sys.stderr)
        return 1
    print("package check: built, valid, installable and starts")
    return 0


if __name__ == "__main__":
    sys.exit(main())
