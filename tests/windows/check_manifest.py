#!/usr/bin/python3
"""check_manifest.py WINDRES EXE...: each executable carries the one application manifest
Windows reads at start (resource 1 of type RT_MANIFEST), and it says what it must: Windows 7
to 11, per-monitor DPI awareness as Qt 5.15 sets it, asInvoker, and no activeCodePage (replies
are decoded in the system's ANSI code page)."""
import os
import re
import subprocess
import sys

GUIDS = {
    "Windows 7": "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
    "Windows 8": "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
    "Windows 8.1": "1f676c76-80e1-4239-95bb-83d0f6d0da78",
    "Windows 10 and 11": "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",
}


def check(windres, exe):
    # windres fails on an executable without resources: then there is no manifest either.
    rc = subprocess.run([windres, "-J", "coff", "-i", exe, "-O", "rc"], stdout=subprocess.PIPE).stdout.decode("latin-1")
    blocks = re.findall(r"^(\S+) 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)^END", rc, re.S | re.M)
    failures = []
    if [name for name, _ in blocks] != ["1"]:
        failures.append("manifest resources %s, not exactly resource 1" % [name for name, _ in blocks])
    text = "".join(re.findall(r'"((?:[^"]|"")*)"', blocks[0][1])).replace('""', '"') if blocks else ""
    text = text.replace("\\n", "\n")
    checks = [("asInvoker", r'requestedExecutionLevel level="asInvoker"'),
              ("per-monitor awareness (dpiAware)", r">\s*true/pm\s*</dpiAware>"),
              ("per-monitor awareness (dpiAwareness)", r">\s*PerMonitor\s*</dpiAwareness>")]
    checks += [(os, r'supportedOS Id="\{%s\}"' % guid) for os, guid in GUIDS.items()]
    for what, pattern in checks:
        if not re.search(pattern, text, re.I):
            failures.append("the manifest does not declare " + what)
    if re.search(r"<\s*activeCodePage", text, re.I):
        failures.append("the manifest sets activeCodePage")
    name = os.path.basename(exe)
    for failure in failures:
        print("FAIL: %s: %s" % (name, failure))
    if not failures:
        print("PASS: %s carries its manifest (%d bytes)" % (name, len(text)))
    return len(failures)


def main():
    windres = sys.argv[1]
    return 1 if sum(check(windres, exe) for exe in sys.argv[2:]) else 0


if __name__ == "__main__":
    sys.exit(main())
