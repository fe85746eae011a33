#!/usr/bin/env python3
"""Counts what one CTest run of a test tier passed and failed, test case by test case.

A CTest test that runs a group of GoogleTest cases (cmake/gtest_groups.cmake) counts as its
cases, read from the XML file the group wrote in this run; any other CTest test counts as one.
A case that was skipped, a test CTest did not run and a group that wrote no results in this run
count as failed: nothing is passed over in silence. Prints "PASSED FAILED" on standard output and
names each failure on standard error.

    tier_counts.py BUILD_DIR JUNIT_XML SINCE_EPOCH
"""
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET


def ctest_tests(build_dir):
    """name -> (declared cases or None, gtest xml path or None)"""
    out = subprocess.run(["ctest", "--test-dir", build_dir, "--show-only=json-v1"],
                         check=True, capture_output=True, text=True).stdout
    tests = {}
    for test in json.loads(out).get("tests", []):
        cases, xml = None, None
        for prop in test.get("properties", []):
            if prop["name"] == "LABELS":
                for label in prop["value"]:
                    m = re.fullmatch(r"gtest-cases=(\d+)", label)
                    if m:
                        cases = int(m.group(1))
        for arg in test.get("command", []):
            if arg.startswith("--gtest_output=xml:"):
                xml = arg[len("--gtest_output=xml:"):]
        tests[test["name"]] = (cases, xml)
    return tests


def gtest_results(path, since):
    """(passed, failed names) from a group's XML written at or after `since`, or None."""
    if not path or not os.path.exists(path) or os.path.getmtime(path) < since:
        return None
    passed, failed = 0, []
    for case in ET.parse(path).getroot().iter("testcase"):
        name = f"{case.get('classname')}.{case.get('name')}"
        if case.find("failure") is not None or case.find("error") is not None:
            failed.append(name)
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            failed.append(name + " (skipped)")
        elif case.get("status", "run") != "run":
            failed.append(name + " (not run)")
        else:
            passed += 1
    return passed, failed


def main():
    build_dir, junit, since = sys.argv[1], sys.argv[2], float(sys.argv[3])
    declared = ctest_tests(build_dir)
    passed, failed = 0, []
    for case in ET.parse(junit).getroot().iter("testcase"):
        name, status = case.get("name"), case.get("status")
        cases, xml = declared.get(name, (None, None))
        ok = status == "run" and case.find("failure") is None and case.find("skipped") is None
        if cases is None:
            if ok:
                passed += 1
            else:
                failed.append(f"{name} ({status})")
            continue
        results = gtest_results(xml, since)
        if results is None:
            failed.extend([f"{name}: no results written ({status})"] * cases)
            continue
        p, f = results
        passed += p
        failed.extend(f)
        if not ok and not f:
            failed.append(f"{name} ({status}, its cases passed)")
    for name in failed:
        print(f"  failed: {name}", file=sys.stderr)
    print(passed, len(failed))


if __name__ == "__main__":
    main()
