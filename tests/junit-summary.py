#!/usr/bin/env python3
"""Prints "PASSED FAILED SKIPPED" over CTest's JUnit reports (ctest --output-junit). A
test is skipped only when it skipped by its own rule (SKIP_RETURN_CODE,
SKIP_REGULAR_EXPRESSION or DISABLED); one that did not run for any other reason (its
fixture failed, its program or a required file is missing) is a failure, and so is a
result of no known kind, a report that cannot be read and a report with no test in it.
Usage: junit-summary.py REPORT..."""
import re
import sys
import xml.etree.ElementTree as ElementTree

# The <skipped message> CTest 3.25 to 3.31 write for a test's own skip rule; every other
# "notrun" is CTest saying the test could not run.
OWN_SKIP = re.compile(r"SKIP_RETURN_CODE=[0-9]+|SKIP_REGULAR_EXPRESSION_MATCHED")


def counted_as_failed(path, why):
    print("junit-summary.py: %s: %s: counted as failed" % (path, why), file=sys.stderr)


passed = failed = skipped = 0
for path in sys.argv[1:]:
    try:
        cases = list(ElementTree.parse(path).getroot().iter("testcase"))
    except (OSError, ElementTree.ParseError) as error:
        counted_as_failed(path, error)
        failed += 1
        continue
    if not cases:
        counted_as_failed(path, "no test in the report")
        failed += 1
    for case in cases:
        status = case.get("status")
        skip = case.find("skipped")
        if case.find("failure") is not None or status == "fail":
            failed += 1
        elif status == "run" and skip is None:
            passed += 1
        elif status == "disabled" and skip is None:
            skipped += 1
        elif status == "notrun" and skip is not None and OWN_SKIP.fullmatch(skip.get("message", "")):
            skipped += 1
        else:
            if status == "notrun" and skip is not None:
                why = "did not run: %s" % skip.get("message")
            else:
                why = "a result of no known kind (status %s)" % status
            counted_as_failed(path, "%s %s" % (case.get("name"), why))
            failed += 1
print(passed, failed, skipped)
