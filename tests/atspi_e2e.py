#!/usr/bin/python3
# The running program read through the accessibility bus, as a screen reader
# reads it: on a virtual X display with a private session bus, the tester
# polls the virtual validator; START POLL is pressed through its accessible
# action, and the host command box, the validator state box and the first
# host trace row must come back with their captions, blanks included.
#
# Usage (inside dbus-run-session): atspi_e2e.py PROGRAM SIMULATOR
# Exit 77 when the accessibility bus or the display cannot be had.
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


def skip(why):
    print("SKIP: " + why)
    sys.exit(SKIP)


try:
    import pyatspi
except ImportError:
    skip("no pyatspi")

program, simulator = sys.argv[1], sys.argv[2]
children = []


def stop_all():
    for p in reversed(children):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def start_display():
    read_end, write_end = os.pipe()
    try:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"], pass_fds=[write_end],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except OSError:
        skip("no Xvfb")
    children.append(xvfb)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    if not number:
        skip("Xvfb did not start")
    return ":" + number


def accessibility_bus_up():
    # Starts the bus if it is not running; it must answer before the program
    # starts, or the program would never join it.
    r = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                        "org.a11y.Bus.GetAddress"], capture_output=True, text=True, timeout=20)
    return r.returncode == 0 and "unix:" in r.stdout


def wait_for(what, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = what()
        if found:
            return found
        time.sleep(0.2)
    return None


def descendants(node):
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is None:
            continue
        yield child
        yield from descendants(child)


def find_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == "pollbench":
            return app
    return None


def labels(app):
    return [n.name for n in descendants(app) if n.getRole() == pyatspi.ROLE_LABEL]


def main():
    if not shutil.which("dbus-send") or not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        skip("no session bus")
    try:
        if not accessibility_bus_up():
            skip("the accessibility bus does not start")
    except (OSError, subprocess.TimeoutExpired):
        skip("the accessibility bus does not start")
    display = start_display()

    work = tempfile.mkdtemp(prefix="pollbench-atspi-")
    try:
        shutil.copy(program, work)
        # The file a first run leaves: port 1, poll rate 100, channels 1 to 7.
        order = ["1st", "2nd", "3rd", "4th", "5th", "6th", "7th", "8th", "9th", "10th", "11th", "12th", "13th"]
        lines = ["Sys.Color   = 1", "Com.Setting = 1", "Poll.Rate   = 100"]
        lines += ["%s.Value   = %d" % (order[i], i + 1) for i in range(7)]
        lines += ["%s.Check   = %d" % (order[i], 1 if i < 7 else 0) for i in range(13)]
        with open(os.path.join(work, "SETUP.INI"), "w", newline="") as f:
            f.write("".join(l + "\r\n" for l in lines))

        link = os.path.join(work, "COM1")
        sim = subprocess.Popen([simulator, "--link", link, "--no-stdin"], stdout=subprocess.PIPE, text=True)
        children.append(sim)
        if not sim.stdout.readline().startswith("ready "):
            print("FAIL: the simulator did not start")
            return 1

        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        tester = subprocess.Popen([os.path.join(work, os.path.basename(program))], cwd=work, env=env)
        children.append(tester)

        app = wait_for(find_app)
        if app is None:
            print("FAIL: the program never appeared on the accessibility bus")
            return 1
        start = wait_for(lambda: next((n for n in descendants(app) if n.name == "START POLL"
                                       and n.getRole() != pyatspi.ROLE_LABEL), None))
        if start is None:
            print("FAIL: no START POLL switch; labels seen: %r" % labels(app)[:20])
            return 1
        action = start.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        pick = next((i for i, n in enumerate(names) if n in ("Toggle", "Press")), 0)
        action.doAction(pick)

        def polled():
            seen = labels(app)
            wanted = [" RUNNING", " IDLING"]
            if all(w in seen for w in wanted) and any(s.startswith(" 02 08 ") for s in seen):
                return wanted + [next(s for s in seen if s.startswith(" 02 08 "))]
            return None

        found = wait_for(polled)
        if found is None:
            print("FAIL: captions not read; labels seen: %r" % labels(app))
            return 1
        print("read through the accessibility bus: %r" % found)
        return 0
    finally:
        stop_all()
        shutil.rmtree(work, ignore_errors=True)


try:
    sys.exit(main())
finally:
    stop_all()
