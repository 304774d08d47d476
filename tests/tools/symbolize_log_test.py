#!/usr/bin/env python3
"""The symbolizer's reading of logs, without Wine: every crash a log holds is found,
however the stack lines before it ended."""
import importlib.util
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
found = importlib.util.spec_from_file_location(
    "symbolize", os.path.join(HERE, "..", "..", "scripts", "symbolize.py"))
symbolize = importlib.util.module_from_spec(found)
found.loader.exec_module(symbolize)

HEAD = "[error 10:00:00]crash_report.cpp:1 void ReportCrash() "


def crash(thread, frames, end=True):
    lines = [HEAD + "unhandled exception 0xC0000005 at brindlex.exe+0x10 on thread %d, crash "
             "report: x.dmp" % thread]
    lines += [HEAD + "stack frame %d: brindlex.exe+0x%X" % (n, 0x100 + n) for n in range(frames)]
    if end:
        lines.append(HEAD + "stack ends after %d frames: no frame pointer beyond" % frames)
    return lines


class ReadLog(unittest.TestCase):
    def test_every_crash_is_found(self):
        rows = [
            ("stack ended by its line", crash(7, 3) + crash(8, 2), [3, 2]),
            ("stack cut by the next crash", crash(7, 3, end=False) + crash(8, 2), [3, 2]),
            ("crash without stack lines", crash(7, 0, end=False) + crash(8, 1), [1, 1]),
            ("log ends inside the stack", ["start"] + crash(7, 2) + crash(8, 4, end=False), [2, 4]),
        ]
        for name, lines, frames in rows:
            with self.subTest(name):
                found = symbolize.read_log("\r\n".join(lines).encode("latin-1"))
                self.assertEqual([c.thread for c in found], [7, 8])
                self.assertEqual([len(c.frames) for c in found], frames)


if __name__ == "__main__":
    sys.exit(unittest.main())
