#!/usr/bin/python3
"""Starts the real varnitt executable under Xvfb in an empty network namespace,
waits for its window, closes it like a user would and checks a clean exit and
the device list file written beside the executable."""
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def main():
    if len(sys.argv) != 3:
        print("usage: start_and_close.py VARNITT IN_EMPTY_NETNS", file=sys.stderr)
        return 2
    binary, netns = sys.argv[1:]
    try:
        from Xlib import display
        from xwindow import close_request, wait_for_window
    except ImportError:
        print("python3-xlib is missing; skipping")
        return SKIP
    if shutil.which("Xvfb") is None:
        print("Xvfb is missing; skipping")
        return SKIP

    workdir = tempfile.mkdtemp(prefix="varnitt-smoke-")
    # A copy, so the list file lands in a directory of our own.
    exe = os.path.join(workdir, "varnitt")
    shutil.copy2(binary, exe)

    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-dpi", "96",
                             "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    app = None
    try:
        number = xvfb.stdout.readline().decode().strip()
        if not number:
            print("Xvfb did not start")
            return 1
        env = dict(os.environ, DISPLAY=":" + number)
        env.pop("QT_QPA_PLATFORM", None)
        app = subprocess.Popen([netns, exe], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

        dpy = display.Display(":" + number)
        window = wait_for_window(dpy, "Varnitt", lambda: app.poll() is None, 20)
        if window is None:
            code = app.poll()
            out = app.stdout.read().decode(errors="replace") if code is not None else ""
            if code == SKIP:
                print(out)
                return SKIP
            print("no Varnitt window appeared; exit code", code, out)
            return 1
        geometry = window.get_geometry()
        print("window up: %dx%d" % (geometry.width, geometry.height))

        window.send_event(close_request(dpy, window))
        dpy.flush()
        try:
            code = app.wait(timeout=15)
        except subprocess.TimeoutExpired:
            print("window closed but the program did not exit")
            return 1
        out = app.stdout.read().decode(errors="replace")
        if code != 0:
            print("exit code", code, out)
            return 1
        saved = os.path.join(workdir, "devlist.json")
        with open(saved, "rb") as f:
            content = f.read()
        if content != b"[\n]\n":
            print("unexpected devlist.json:", content)
            return 1
        print("clean exit; devlist.json holds an empty list")
        return 0
    finally:
        if app and app.poll() is None:
            app.kill()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
