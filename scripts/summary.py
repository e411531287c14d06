#!/usr/bin/env python3
"""Prints how many tests passed, failed and were skipped on each test leg.

    summary.py BUILD_DIR...

Each BUILD_DIR holds ctest-results.xml (ctest --output-junit) and, for the
suite's runs, gtest-results/<leg>.<scenario>.xml (GTEST_OUTPUT). A leg is the
part of a test name before its first dot; a GoogleTest run counts its single
tests, any other CTest test counts as one."""

import collections
import pathlib
import sys
import xml.etree.ElementTree as ET

counts = collections.defaultdict(lambda: collections.Counter())

for build in map(pathlib.Path, sys.argv[1:]):
    gtest_runs = set()
    for result in sorted((build / "gtest-results").glob("*.xml")):
        leg = result.stem.split(".")[0]
        gtest_runs.add(result.stem)
        for case in ET.parse(result).getroot().iter("testcase"):
            if case.find("failure") is not None:
                counts[leg]["failed"] += 1
            elif case.get("result") == "skipped" or case.find("skipped") is not None:
                counts[leg]["skipped"] += 1
            else:
                counts[leg]["passed"] += 1
    junit = build / "ctest-results.xml"
    if not junit.exists():
        continue
    for case in ET.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        status = case.get("status")
        if name in gtest_runs and status != "fail":
            continue  # counted test by test above
        leg = name.split(".")[0]
        if status == "fail" or case.find("failure") is not None:
            counts[leg]["failed"] += 1
        elif status in ("disabled", "notrun") or case.find("skipped") is not None:
            counts[leg]["skipped"] += 1
        else:
            counts[leg]["passed"] += 1

total = collections.Counter()
for leg in sorted(counts):
    c = counts[leg]
    total.update(c)
    print(f"{leg}: {c['passed']} passed, {c['failed']} failed, {c['skipped']} skipped")
print(f"total: {total['passed']} passed, {total['failed']} failed, {total['skipped']} skipped")
