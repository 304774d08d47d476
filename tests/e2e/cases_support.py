"""What support finds on a user's machine: the log file beside standard output, and a
crash report when the program fails."""
import os
import re
import shutil
import struct
import subprocess
from contextlib import contextmanager

from e2e import case

LIMIT = 1024 * 1024  # the log file's bound
KEPT_DUMPS = 5
ACCESS_VIOLATION = 0xC0000005
FIRST_LINE = re.compile(
    rb"==== Brindlex 1\.0\.0\.64 started \d{4}-\d\d-\d\d \d\d:\d\d:\d\d, process \d+, "
    rb"(xp|win7|win8|win10|win11) (32|64)-bit, code page (\d+), command line: ([^\r\n]*)\r\n")
PAGE = "support/lines.html"
# Lines the stand-in engine writes to the same standard output; not the program's log.
ENGINE_LINES = (b"[standin] ", b"[console] ")


def logs(t, *parts):
    return t.appdata("Brindlex", "logs", *parts)


def crashes(t, *parts):
    return t.appdata("Brindlex", "crashes", *parts)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def log_bytes(program):
    """What the program's log wrote to standard output, byte for byte."""
    pieces = program.out.raw_bytes().splitlines(keepends=True)
    return b"".join(p for p in pieces if not p.startswith(ENGINE_LINES))


def same(t, got, expected, what):
    """Byte strings compared without printing megabytes when they differ."""
    if got != expected:
        at = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b),
                  min(len(got), len(expected)))
        raise AssertionError("%s: %d bytes, expected %d; first difference at %d: %r vs %r"
                             % (what, len(got), len(expected), at, got[at:at + 80],
                                expected[at:at + 80]))


def split_first_line(t, data, what):
    m = FIRST_LINE.match(data)
    t.check(m, "%s does not start with a start line: %r" % (what, data[:300]))
    return m, data[m.end():]


def check_first_line(t, m):
    t.eq(int(m.group(2)), 64 if t.prefix == "w64" else 32, "bitness in the start line")
    t.eq(int(m.group(3)), 936, "code page in the start line")
    t.check(os.path.basename(t.exe).encode() in m.group(4), "command line: %r" % m.group(4))


@case("the log file gets the bytes standard output gets, after a line about the start")
def _(t):
    shutil.rmtree(logs(t), ignore_errors=True)
    p = t.run(PAGE)
    stdout = log_bytes(p)
    m, rest = split_first_line(t, read(logs(t, "brindlex.log")), "brindlex.log")
    check_first_line(t, m)
    same(t, rest, stdout, "log file after its start line")
    # The C runtime's text mode: "\n" became "\r\n", also inside a result echo.
    t.check(b"{\r\r\n    return " in stdout, "no result echo in %r" % stdout[-400:])
    t.check(b"\n" not in stdout.replace(b"\r\n", b""), "a bare line feed in %r" % stdout)
    # A second start appends, with a start line of its own.
    again = t.run(PAGE)
    data = read(logs(t, "brindlex.log"))
    same(t, data[:len(m.group(0)) + len(rest)], m.group(0) + rest, "the first start's part")
    m2, rest2 = split_first_line(t, data[len(m.group(0)) + len(rest):], "the second start")
    same(t, rest2, log_bytes(again), "the second start's lines")
    t.check(m2.group(0) != m.group(0), "both starts have the same start line")


@case("a log file past 1 MiB is rotated at start, and one passing it while running too")
def _(t):
    shutil.rmtree(logs(t), ignore_errors=True)
    big = b"old line\r\n" * (LIMIT // 10 + 1)  # just past the bound
    write(logs(t, "brindlex.log"), big)
    for generation, text in ((1, b"one"), (2, b"two"), (3, b"three")):
        write(logs(t, "brindlex.%d.log" % generation), text)
    p = t.run(PAGE)
    same(t, read(logs(t, "brindlex.1.log")), big, "brindlex.1.log")
    same(t, read(logs(t, "brindlex.2.log")), b"one", "brindlex.2.log")
    same(t, read(logs(t, "brindlex.3.log")), b"two", "brindlex.3.log")
    t.check(not os.path.exists(logs(t, "brindlex.4.log")), "a fourth old file")
    _, rest = split_first_line(t, read(logs(t, "brindlex.log")), "brindlex.log")
    same(t, rest, log_bytes(p), "the new brindlex.log after its start line")

    # Just below the bound: one of this run's lines passes it, and the next starts a
    # new file.
    below = b"old line\r\n" * ((LIMIT - 2000) // 10)
    write(logs(t, "brindlex.log"), below)
    p = t.run(PAGE)
    old, new = read(logs(t, "brindlex.1.log")), read(logs(t, "brindlex.log"))
    same(t, read(logs(t, "brindlex.2.log")), big, "brindlex.2.log after the second rotation")
    t.check(len(old) > LIMIT and len(old) - LIMIT < 4096, "rotated at %d bytes" % len(old))
    t.check(new, "nothing written after the rotation")
    same(t, old[:len(below)], below, "the old lines")
    _, rest = split_first_line(t, old[len(below):] + new, "this start")
    same(t, rest, log_bytes(p), "this start's lines across both files")
    t.check(old.endswith(b"\r\n") and new.startswith(b"["), "rotated inside a line")


@contextmanager
def mounted(t, path, options):
    """A tmpfs over path for the duration; None when this machine cannot mount."""
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        print("  skipped (cannot mount here: %s)" % result.stdout.decode(errors="replace").strip())
        yield None
        return
    try:
        yield path
    finally:
        # Wine may still hold the folder for a moment: detach it then.
        if subprocess.run(["umount", path]).returncode != 0:
            subprocess.run(["umount", "-l", path])
        shutil.rmtree(path, ignore_errors=True)


@case("a read-only or full log folder changes nothing on standard output")
def _(t):
    shutil.rmtree(logs(t), ignore_errors=True)
    usual = t.run(PAGE)
    expected = log_bytes(usual)
    values = usual.values()
    with mounted(t, logs(t), "ro,size=64k") as folder:
        if folder:
            p = t.run(PAGE)  # exit code 0
            same(t, log_bytes(p), expected, "standard output with a read-only log folder")
            t.eq(p.values(), values, "what the page saw")
            t.eq(os.listdir(folder), [], "files in the read-only folder")
    with mounted(t, logs(t), "size=12k") as folder:
        if folder:
            # One page left: the start line and a few lines fit, then the disk is full.
            write(os.path.join(folder, "filler"), b"f" * 8192)
            p = t.run(PAGE)
            same(t, log_bytes(p), expected, "standard output with a full log folder")
            t.eq(p.values(), values, "what the page saw")
            _, rest = split_first_line(t, read(os.path.join(folder, "brindlex.log")),
                                       "the full folder's log file")
            t.check(0 < len(rest) < 4096 < len(expected), "%d bytes of %d in the full folder's "
                    "log file" % (len(rest), len(expected)))
            same(t, rest, expected[:len(rest)], "what the full folder's log file holds")


def minidump(data):
    """(exception code, exception thread id, [thread ids]) read from a minidump."""
    signature, _, streams, directory = struct.unpack_from("<4sIII", data, 0)
    if signature != b"MDMP":
        raise AssertionError("not a minidump: %r" % data[:16])
    code = thread = None
    threads = []
    for i in range(streams):
        kind, _, rva = struct.unpack_from("<III", data, directory + 12 * i)
        if kind == 6:  # the exception stream
            thread, _, code = struct.unpack_from("<III", data, rva)
        elif kind == 3:  # the thread list: 48 bytes a thread, its id first
            count = struct.unpack_from("<I", data, rva)[0]
            threads = [struct.unpack_from("<I", data, rva + 4 + 48 * n)[0] for n in range(count)]
    return code, thread, threads


@case("a crash in the running program: a dump, a last log line naming it, its code as exit code")
def _(t):
    shutil.rmtree(crashes(t), ignore_errors=True)
    shutil.rmtree(logs(t), ignore_errors=True)
    old = ["brindlex-2024010%d-120000-1.dmp" % day for day in range(1, 7)]
    for name in old:
        write(crashes(t, name), b"MDMP old")
    p = t.start("instance/stay.html")
    p.wait_console("run", 60)
    code, out = t.probe("crash", os.path.basename(t.exe), timeout=90)
    t.eq(code, 0, "probe crash: " + out)
    thread = int(re.search(r"^thread (\d+)$", out, re.M).group(1))
    exit_line = re.search(r"^exit (\S+)$", out, re.M).group(1)
    t.eq(exit_line, "0x%08X" % ACCESS_VIOLATION, "the program's exit code")
    p.wait_exit(10, expect=None)

    dumps = sorted(os.listdir(crashes(t)))
    t.eq(len(dumps), KEPT_DUMPS, "dumps kept: %r" % dumps)
    t.eq(dumps[:KEPT_DUMPS - 1], old[2:], "the older dumps kept")
    newest = dumps[-1]
    t.check(re.match(r"brindlex-20\d{6}-\d{6}-\d+\.dmp$", newest), "dump name %r" % newest)
    data = read(crashes(t, newest))
    print("  dump %s: %d bytes" % (newest, len(data)))
    t.check(len(data) < 8 * 1024 * 1024, "dump of %d bytes" % len(data))
    dump_code, dump_thread, threads = minidump(data)
    t.eq(dump_code, ACCESS_VIOLATION, "exception code in the dump")
    t.eq(dump_thread, thread, "faulting thread in the dump")
    t.check(thread in threads and len(threads) >= 3, "threads in the dump: %r" % threads)

    # Standard output and the log file end with the same line, naming the dump.
    last = log_bytes(p).rstrip(b"\r\n").split(b"\r\n")[-1]
    line = last.decode(t.codec)
    pattern = (r"^\[error \d\d:\d\d:\d\d\]crash_report\.cpp:\d+ .*unhandled exception "
               r"0xC0000005 at 0x00000010 on thread %d, crash report: "
               r"[A-Z]:\\.*\\Brindlex\\crashes\\%s$" % (thread, re.escape(newest)))
    t.check(re.match(pattern, line), "last line: %r" % line)
    t.eq(read(logs(t, "brindlex.log")).rstrip(b"\r\n").split(b"\r\n")[-1], last,
         "the log file's last line")
