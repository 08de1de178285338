#!/usr/bin/python3
"""Prints what a screen reader is told about Varnitt's form: the role and name of every
entry field in the AT-SPI tree, as Orca reads them.

  tests/netns/in-empty-netns.sh dbus-run-session -- tools/atspi-names.py build/bin/varnitt

It needs its own session bus (dbus-run-session starts the accessibility bus from it), starts
Xvfb and the program, and ends both."""
import os
import shutil
import subprocess
import sys
import tempfile
import time


def walk(node, depth=0):
    try:
        role, name = node.getRoleName(), node.name
    except Exception:
        return
    yield depth, role, name
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def main():
    program = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="varnitt-atspi-")
    exe = os.path.join(work, "varnitt")
    shutil.copy2(program, exe)
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-dpi", "96",
                             "-nolisten", "tcp"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    app = None
    try:
        display = ":" + xvfb.stdout.readline().decode().strip()
        env = dict(os.environ, DISPLAY=display, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        env.pop("QT_QPA_PLATFORM", None)
        app = subprocess.Popen([exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.environ["DISPLAY"] = display
        import pyatspi
        deadline = time.time() + 30
        fields = []
        while time.time() < deadline and not fields:
            time.sleep(1)
            for application in pyatspi.Registry.getDesktop(0):
                if application is not None and application.name == "varnitt":
                    fields = [(d, r, n) for d, r, n in walk(application) if r in ("text", "spin button")]
        for depth, role, name in fields:
            print("%-12s %r" % (role, name))
        return 0 if fields else 1
    finally:
        if app:
            app.terminate()
            app.wait()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
