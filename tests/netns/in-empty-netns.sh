#!/bin/sh
# Runs a command in a sandbox with no network but a loopback (tests/sandbox.sh empty).
exec "$(dirname "$0")/../sandbox.sh" empty -- "$@"
