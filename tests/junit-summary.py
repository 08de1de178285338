#!/usr/bin/env python3
"""Prints "PASSED FAILED SKIPPED" over CTest's JUnit reports (ctest --output-junit). A
report that cannot be read, and a test with a result of no known kind, count as failed.
Usage: junit-summary.py REPORT..."""
import sys
import xml.etree.ElementTree as ElementTree

passed = failed = skipped = 0
for path in sys.argv[1:]:
    try:
        cases = list(ElementTree.parse(path).getroot().iter("testcase"))
    except (OSError, ElementTree.ParseError) as error:
        print("junit-summary.py: %s: %s: counted as one failure" % (path, error), file=sys.stderr)
        failed += 1
        continue
    for case in cases:
        status = case.get("status")
        if case.find("failure") is not None or status == "fail":
            failed += 1
        elif case.find("skipped") is not None or status in ("notrun", "disabled"):
            skipped += 1
        elif status == "run":
            passed += 1
        else:
            failed += 1
print(passed, failed, skipped)
