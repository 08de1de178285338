#!/usr/bin/env python3
"""Starts and stops the Linux simulator for a Windows test program under Wine, which
cannot start a Linux program itself.

Usage: devsim-broker.py DIR DEVSIM (inside tests/netns/lan.sh)

Each simulator a test wants is a folder in DIR. The test writes "args" (one argument
a line) into it; the broker takes the request by renaming it to "args.taken", so it
starts each request once, and starts DEVSIM with them on the LAN's device side, its
standard output going to "out". "stop" in the folder asks for SIGTERM, "kill" for
SIGKILL; when the simulator has ended, "exit" holds its exit code. A simulator whose
folder is removed is killed. Arguments that are Windows paths ("C:\\users\\...",
"Z:/tmp/...") reach the simulator as the Linux paths of the same files.
"broker.pid" in DIR holds the broker's process id while it runs.
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


def take(folder, command):
    """Starts the folder's request, if it has one; None if not."""
    request = os.path.join(folder, "args")
    try:
        os.rename(request, request + ".taken")
    except FileNotFoundError:
        return None  # no request, or the test withdrew it
    with open(request + ".taken", encoding="utf-8") as f:
        arguments = [linux_path(argument) for argument in f.read().split("\n")[:-1]]
    with open(os.path.join(folder, "out"), "wb") as out:
        try:
            return subprocess.Popen(command + arguments, stdin=subprocess.DEVNULL, stdout=out)
        except OSError as error:
            publish(folder, "exit", "cannot start: %s" % error)
            return None


def watch(folder, process, sent):
    """Passes on the folder's signal requests; True once the simulator has ended."""
    if not os.path.isdir(folder):
        process.kill()
        process.wait()
        return True
    for request, signum in (("stop", signal.SIGTERM), ("kill", signal.SIGKILL)):
        if request not in sent and os.path.exists(os.path.join(folder, request)):
            sent.add(request)
            process.send_signal(signum)
    code = process.poll()
    if code is None:
        return False
    publish(folder, "exit", str(code))
    return True


def main():
    root, devsim = sys.argv[1:3]
    command = [os.environ["VARNITT_ON_LAN_SIDE"], devsim]
    running = {}  # folder -> [process, signals already sent]

    def stop_all(*_):
        for process, _ in running.values():
            process.kill()
        try:
            os.remove(os.path.join(root, "broker.pid"))
        except OSError:
            pass
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop_all)
    signal.signal(signal.SIGINT, stop_all)
    publish(root, "broker.pid", "%d\n" % os.getpid())
    while True:
        try:
            names = os.listdir(root)
        except OSError:
            stop_all()  # the run that made the folder is over
        # A folder a test is removing, or one with a broken request, fails alone.
        for name in names:
            folder = os.path.join(root, name)
            if folder in running or not os.path.isdir(folder):
                continue
            try:
                process = take(folder, command)
            except (OSError, ValueError) as error:
                print("devsim-broker: %s: %s" % (name, error), file=sys.stderr, flush=True)
                continue
            if process:
                running[folder] = [process, set()]
        for folder, (process, sent) in list(running.items()):
            try:
                ended = watch(folder, process, sent)
            except OSError as error:
                print("devsim-broker: %s: %s" % (os.path.basename(folder), error), file=sys.stderr, flush=True)
                process.kill()
                process.wait()
                ended = True
            if ended:
                del running[folder]
        time.sleep(0.005)


if __name__ == "__main__":
    main()
