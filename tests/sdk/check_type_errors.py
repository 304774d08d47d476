#!/usr/bin/env python3
"""Type-checks a file against the page authors' declarations and compares the
checker's errors with the marks in the file: a line ending in "// error TS<code>"
must give exactly that error, every other line none.

usage: check_type_errors.py <tsc> <brindlex.d.ts> <file.ts>
"""
import re
import subprocess
import sys


def main():
    tsc, declarations, checked = sys.argv[1:4]
    expected = {}
    with open(checked, encoding="utf-8") as source:
        for number, line in enumerate(source, start=1):
            mark = re.search(r"//\s*error\s+(TS\d+)\s*$", line)
            if mark:
                expected[number] = {mark.group(1)}
    run = subprocess.run(
        [tsc, "--strict", "--noEmit", "--pretty", "false", "--target", "ES5",
         "--lib", "ES5,DOM", declarations, checked],
        capture_output=True, text=True)
    output = run.stdout + run.stderr
    given = {}
    elsewhere = []
    for line in output.splitlines():
        error = re.match(r"(.+)\((\d+),\d+\): error (TS\d+): ", line)
        if error and error.group(1).endswith(checked.rsplit("/", 1)[-1]):
            given.setdefault(int(error.group(2)), set()).add(error.group(3))
        elif error:
            elsewhere.append(line)  # an error in the declarations themselves
    problems = list(elsewhere)
    for number in sorted(set(expected) | set(given)):
        if expected.get(number) != given.get(number):
            problems.append("line %d: expected %s, the checker gave %s" % (
                number, sorted(expected.get(number, [])) or "no error",
                sorted(given.get(number, [])) or "no error"))
    if not expected:
        problems.append("no marked lines in " + checked)
    if problems:
        print(output)
        print("\n".join(problems))
        return 1
    print("%d wrong calls refused as marked, the rest accepted" % len(expected))
    return 0


if __name__ == "__main__":
    sys.exit(main())
