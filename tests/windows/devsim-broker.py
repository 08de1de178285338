#!/usr/bin/env python3
"""Starts and stops the Linux simulator for a Windows test program under Wine, which
cannot start a Linux program itself.

Usage: devsim-broker.py DIR DEVSIM (inside tests/netns/lan.sh)

Each simulator a test wants is a folder in DIR. The test writes "args" (one argument
a line) into it; the broker starts DEVSIM with them on the LAN's device side, its
standard output going to "out". "stop" in the folder asks for SIGTERM, "kill" for
SIGKILL; when the simulator has ended, "exit" holds its exit code. Arguments that are
Windows paths ("C:\\users\\...", "Z:/tmp/...") reach the simulator as the Linux paths
of the same files.
"""
import os
import re
import signal
import subprocess
import sys
import time


def publish(folder, name, text):
    try:
        with open(os.path.join(folder, name + ".part"), "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(os.path.join(folder, name + ".part"), os.path.join(folder, name))
    except OSError:
        pass  # the test already removed its folder


def linux_path(argument):
    """The file a Windows path of this Wine prefix names, through its drive links."""
    if not re.match(r"^[A-Za-z]:[\\/]", argument):
        return argument
    drive = os.path.join(os.environ["WINEPREFIX"], "dosdevices", argument[0].lower() + ":")
    return os.path.realpath(drive) + "/" + argument[3:].replace("\\", "/")


def main():
    root, devsim = sys.argv[1:3]
    on_lan_side = os.environ["VARNITT_ON_LAN_SIDE"]
    running = {}  # folder -> [process, signals already sent]

    def stop_all(*_):
        for process, _ in running.values():
            process.kill()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop_all)
    signal.signal(signal.SIGINT, stop_all)
    while True:
        for name in os.listdir(root):
            folder = os.path.join(root, name)
            if folder in running or not os.path.exists(os.path.join(folder, "args")):
                continue
            if os.path.exists(os.path.join(folder, "exit")):
                continue
            with open(os.path.join(folder, "args"), encoding="utf-8") as f:
                arguments = [linux_path(argument) for argument in f.read().split("\n")[:-1]]
            with open(os.path.join(folder, "out"), "wb") as out:
                try:
                    process = subprocess.Popen([on_lan_side, devsim] + arguments, stdin=subprocess.DEVNULL,
                                               stdout=out)
                except OSError as error:
                    publish(folder, "exit", "cannot start: %s" % error)
                    continue
            running[folder] = [process, set()]
        for folder, (process, sent) in list(running.items()):
            for request, signum in (("stop", signal.SIGTERM), ("kill", signal.SIGKILL)):
                if request not in sent and os.path.exists(os.path.join(folder, request)):
                    sent.add(request)
                    process.send_signal(signum)
            code = process.poll()
            if code is not None:
                publish(folder, "exit", str(code))
                del running[folder]
        time.sleep(0.005)


if __name__ == "__main__":
    main()
