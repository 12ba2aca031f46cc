#!/usr/bin/env python3
"""Sums the JUnit-style reports of every suite into one line
"N passed, N failed" (and ", N skipped" when some were)."""
import sys
import xml.etree.ElementTree as ET
from pathlib import Path


def count(path):
    passed = failed = skipped = 0
    root = ET.parse(path).getroot()
    for case in root.iter("testcase"):
        status = case.get("status")
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif case.find("skipped") is not None or status in ("notrun", "skipped"):
            skipped += 1
        else:
            passed += 1
    return passed, failed, skipped


def main(folder):
    total = [0, 0, 0]
    reports = sorted(Path(folder).glob("*.xml"))
    # ctest's own report of the Win32 suite counts one test for the whole
    # binary; the GoogleTest report inside it counts each case.
    for report in reports:
        try:
            p, f, s = count(report)
        except ET.ParseError:
            p, f, s = 0, 1, 0
            print(f"{report.name}: unreadable report")
        print(f"{report.stem}: {p} passed, {f} failed, {s} skipped")
        total = [total[0] + p, total[1] + f, total[2] + s]
    line = f"{total[0]} passed, {total[1]} failed"
    if total[2]:
        line += f", {total[2]} skipped"
    print(line)
    return 1 if total[1] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
