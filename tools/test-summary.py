#!/usr/bin/env python3
"""Prints one line of counts per suite of a test run: the unit tests and the
end-to-end checks of each build folder, as 'NAME: N passed, N failed, N skipped'.

Usage: test-summary.py NAME:BUILD_FOLDER...

A build folder holds ctest-results.xml (ctest --output-junit). Where a unit
test program ran as one test (the Windows build under Wine), its own results,
gtest-results/PROGRAM.xml, are counted instead, case by case. An
end-to-end script counts its checks from its closing line, and a script
that ended without one counts as one failure.
"""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

CLOSING = re.compile(r"^(\d+) passed, (\d+) failed(?:, (\d+) skipped)?$", re.M)


def ctest_cases(path):
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        if case.find("skipped") is not None or case.get("status") == "notrun":
            state = "skipped"
        elif case.find("failure") is not None or case.get("status") == "fail":
            state = "failed"
        else:
            state = "passed"
        yield case.get("name", ""), state, case.findtext("system-out") or ""


def gtest_counts(path):
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        if case.find("failure") is not None:
            counts["failed"] += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            counts["skipped"] += 1
        elif case.get("status") == "run":
            counts["passed"] += 1
    return counts


def main():
    for argument in sys.argv[1:]:
        name, folder = argument.split(":", 1)
        results = os.path.join(folder, "ctest-results.xml")
        if not os.path.exists(results):
            print(f"{name}: did not run")
            continue
        cases = ctest_cases(results)
        unit = {"passed": 0, "failed": 0, "skipped": 0}
        e2e = {"passed": 0, "failed": 0, "skipped": 0}
        for test, state, output in cases:
            if test.startswith("e2e_"):
                closing = CLOSING.findall(output)
                if closing:
                    passed, failed, skipped = closing[-1]
                    e2e["passed"] += int(passed)
                    e2e["failed"] += int(failed)
                    e2e["skipped"] += int(skipped or 0)
                if state == "failed" and (not closing or closing[-1][1] == "0"):
                    e2e["failed"] += 1
                continue
            own = os.path.join(folder, "gtest-results", test + ".xml")
            if test.endswith("_tests") and os.path.exists(own):
                # A whole unit test program run as one test: its cases count.
                counts = gtest_counts(own)
                for key in counts:
                    unit[key] += counts[key]
                if state == "failed" and counts["failed"] == 0:
                    unit["failed"] += 1  # it ended badly after its cases
            else:
                unit[state] += 1
        for suite, counts in ((name + "-unit", unit), (name + "-e2e", e2e)):
            print(f"{suite}: {counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")


if __name__ == "__main__":
    main()
