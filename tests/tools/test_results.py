#!/usr/bin/env python3
"""Reads the run's results (ctest's JUnit file and each unit binary's GoogleTest XML in
one folder) and prints every skipped test: "[test] skipped: N", then one line each.
Exits 1 when a test skipped that this machine can run: only skips that depend on the
kind of Wine prefix or its code page by design are expected.
Every failed unit test and end-to-end case is named again with the first lines of its
message, so that the end of a long run's output tells what failed.

usage: test_results.py RESULTS_FOLDER"""
import glob
import os
import re
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

# Where an end-to-end case's output ends: the next case's verdict or the summary.
CASE_END = re.compile(r"^(PASS |FAIL |SKIPPED |\d+ of \d+ cases passed)")


def test_cases(folder):
    """(run, testcase element) for every test in the folder's result files; run is the
    file's name: "ctest..." for ctest's JUnit files, else the unit run's name."""
    for path in sorted(glob.glob(os.path.join(folder, "*.xml"))):
        run = os.path.splitext(os.path.basename(path))[0]
        for case in ElementTree.parse(path).iter("testcase"):
            yield run, case


def skips(cases):
    """(name, reason, unit) for each skipped test or case."""
    found = []
    for run, case in cases:
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


def failures(cases, lines_each=12):
    """(name, first lines of the message) for each failed unit test, and for each failed
    end-to-end case of a failed ctest test (its "FAIL" block in the test's output)."""
    found = []
    for run, case in cases:
        if run.startswith("ctest"):
            if case.get("status") != "fail":
                continue
            out = (case.findtext("system-out") or "").splitlines()
            blocks = [i for i, line in enumerate(out) if line.startswith("FAIL ")]
            for i in blocks:
                end = i + 1
                while end < len(out) and not CASE_END.match(out[end]):
                    end += 1
                found.append(("%s: %s" % (case.get("name"), out[i][5:]),
                              out[i + 1:min(end, i + 1 + lines_each)]))
            if not blocks:
                found.append((case.get("name"), out[-lines_each:]))
            continue
        for failure in case.iter("failure"):
            name = "%s: %s.%s" % (run, case.get("classname"), case.get("name"))
            text = failure.get("message", "") or failure.text or ""
            found.append((name, text.splitlines()[:lines_each]))
    return found


def main(folder):
    cases = list(test_cases(folder))
    failed = failures(cases)
    if failed:
        print("[test] failed: %d" % len(failed))
    for name, lines in failed:
        print("[test]   %s" % name)
        for line in lines:
            print("[test]     %s" % line)
    found = skips(cases)
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
