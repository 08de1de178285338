#!/usr/bin/env python3
"""Checks tests/windows/devsim-broker.py against a stand-in simulator that only logs its
start and waits: each request starts once, however its folder is taken apart; a broken
folder fails alone; a simulator whose folder is removed is killed; broker.pid names the
broker. Usage: broker-check.py BROKER"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SIMULATOR = """#!/bin/sh
echo "$$ $*" >>"$(dirname "$0")/starts"
echo ready
exec sleep 600
"""


def wait_for(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("waited %d s for %s" % (seconds, what))
        time.sleep(0.01)


class Run:
    def __init__(self, broker, work):
        self.work = work
        self.root = os.path.join(work, "broker")
        os.mkdir(self.root)
        simulator = os.path.join(work, "devsim")
        with open(simulator, "w") as f:
            f.write(SIMULATOR)
        os.chmod(simulator, 0o755)
        environment = dict(os.environ, VARNITT_ON_LAN_SIDE="/usr/bin/env")
        self.process = subprocess.Popen([sys.executable, broker, self.root, simulator], env=environment)
        self.synced = 0

    def all_starts(self):
        """(pid, arguments) of each start of the stand-in simulator."""
        try:
            with open(os.path.join(self.work, "starts")) as f:
                return [(int(line.split()[0]), line.split()[1:]) for line in f]
        except FileNotFoundError:
            return []

    def starts(self, name):
        return [pid for pid, arguments in self.all_starts() if arguments == [name]]

    def request(self, name, content=b"%s\n"):
        folder = os.path.join(self.root, name)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "args.part"), "wb") as f:
            f.write(content.replace(b"%s", name.encode()))
        os.rename(os.path.join(folder, "args.part"), os.path.join(folder, "args"))
        return folder

    def started(self, name):
        wait_for(lambda: len(self.starts(name)) == 1, "the simulator of " + name)
        return self.starts(name)[0]

    def settle(self):
        """Returns after the broker has gone through every folder at least once more:
        the second request is made only after the first started, so the pass that starts
        it began after the pass that started the first one ended."""
        for _ in range(2):
            self.synced += 1
            name = "sync%d" % self.synced
            self.request(name)
            self.started(name)
            open(os.path.join(self.root, name, "stop"), "w").close()

    def alive(self):
        return self.process.poll() is None


def gone(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def removed_exit_first(run):
    # A simulator that ended by itself, then its folder taken apart "exit" first.
    folder = run.request("old")
    pid = run.started("old")
    # Taken, so a test can tell whether its request can still be withdrawn.
    assert not os.path.exists(os.path.join(folder, "args")), "the request is still there"
    os.kill(pid, signal.SIGTERM)
    wait_for(lambda: os.path.exists(os.path.join(folder, "exit")), "exit")
    os.remove(os.path.join(folder, "exit"))
    run.settle()
    assert len(run.starts("old")) == 1, "started again: %d starts" % len(run.starts("old"))


def broken_folders(run):
    # A request the broker cannot read, and one that is a folder.
    run.request("undecodable", b"\xff\xfe\n")
    os.makedirs(os.path.join(run.root, "directory", "args"))
    run.settle()
    assert run.alive(), "the broker stopped"
    run.request("after")
    run.started("after")


def folder_removed(run):
    folder = run.request("orphan")
    pid = run.started("orphan")
    shutil.rmtree(folder)
    wait_for(lambda: gone(pid), "the end of the simulator whose folder was removed")


def pid_file(run):
    with open(os.path.join(run.root, "broker.pid")) as f:
        assert int(f.read()) == run.process.pid


CASES = [removed_exit_first, broken_folders, folder_removed, pid_file]


def main():
    broker = sys.argv[1]
    failures = 0
    for case in CASES:
        with tempfile.TemporaryDirectory() as work:
            run = Run(broker, work)
            try:
                wait_for(lambda: os.path.exists(os.path.join(run.root, "broker.pid")), "broker.pid")
                case(run)
                print("PASS", case.__name__, flush=True)
            except AssertionError as error:
                print("FAIL %s: %s" % (case.__name__, error), flush=True)
                failures += 1
            finally:
                run.process.send_signal(signal.SIGTERM)
                run.process.wait()
                # The stand-ins the broker left, if it died before it could end them.
                for pid, _ in run.all_starts():
                    if not gone(pid):
                        os.kill(pid, signal.SIGKILL)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
