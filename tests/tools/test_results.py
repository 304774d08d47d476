#!/usr/bin/env python3
"""Reads the run's results (ctest's JUnit file and each unit binary's GoogleTest XML in
one folder) and prints every skipped test: "[test] skipped: N", then one line each.
Exits 1 when a test skipped that this machine can run: only skips that depend on the
kind of Wine prefix or its code page by design are expected.

usage: test_results.py RESULTS_FOLDER"""
import glob
import os
import sys
import xml.etree.ElementTree as ElementTree

# Reasons a unit test skips by design in some prefixes or code pages.
EXPECTED = (
    "runs under code page",
    "expectations exist for code pages",
    "one registry view only",
    "32-bit Windows has one system folder",
    "64-bit Windows has two system folders",
    "folders here do not keep the security",
    "the system lists no network adapter",
    "a 64-bit process sees no redirection",
)


def skips(folder):
    """(name, reason, unit) for each skipped test or case."""
    found = []
    for path in sorted(glob.glob(os.path.join(folder, "*.xml"))):
        run = os.path.splitext(os.path.basename(path))[0]
        for case in ElementTree.parse(path).iter("testcase"):
            skipped = case.find("skipped")
            if skipped is None and case.get("result") != "skipped":
                continue
            reason = (skipped.get("message", "") if skipped is not None else "").strip()
            if run.startswith("ctest"):
                reason = (case.findtext("system-out") or reason).strip().splitlines()
                found.append((case.get("name"), reason[-1] if reason else "", False))
            else:
                name = "%s: %s.%s" % (run, case.get("classname"), case.get("name"))
                found.append((name, reason.splitlines()[-1] if reason else "", True))
    return found


def main(folder):
    found = skips(folder)
    print("[test] skipped: %d" % len(found))
    unexpected = 0
    for name, reason, unit in found:
        # As root the full-disk cases can mount their volumes; nothing else skips a whole
        # test, and a unit test only for the reasons above.
        ok = any(reason.startswith(e) for e in EXPECTED) if unit else os.geteuid() != 0
        unexpected += not ok
        print("[test]   %s (%s)%s" % (name, reason, "" if ok else ": should have run here"))
    return 1 if unexpected else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
