"""What support finds on a user's machine: the log file beside standard output, and a
crash report when the running program fails."""
import os
import re
import shutil
import struct
import subprocess

from e2e import case

PAGE = "window/echo.html"
START_LINE = re.compile(
    rb"==== Brindlex 1\.0\.0\.64 started \d{4}-\d\d-\d\d \d\d:\d\d:\d\d, process \d+, "
    rb"(?:xp|win7|win8|win10|win11) (\d\d)-bit, code page 936, command line: [^\r\n]*"
    rb"brindlex_e2e\.exe[^\r\n]*\r\n")


def cache(t, *parts):
    return t.appdata("Brindlex", *parts)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def log_bytes(program):
    """The bytes the program's log wrote to standard output, without the stand-in
    engine's own lines."""
    lines = program.out.raw_bytes().splitlines(keepends=True)
    return b"".join(l for l in lines if not l.startswith((b"[standin] ", b"[console] ")))


@case("the log file gets the bytes standard output gets, after a line about the start")
def _(t):
    shutil.rmtree(cache(t, "logs"), ignore_errors=True)
    p = t.run(PAGE)
    data = read(cache(t, "logs", "brindlex.log"))
    m = START_LINE.match(data)
    t.check(m, "start line: %r" % data[:300])
    t.eq(int(m.group(1)), 64 if t.prefix == "w64" else 32, "bitness in the start line")
    stdout = log_bytes(p)
    t.eq(data[m.end():], stdout, "the log file after its start line")
    # The C runtime's text mode: "\n" becomes "\r\n", also inside a result echo.
    t.check(b"{\r\r\n    return " in stdout, "no result echo: %r" % stdout[-300:])


@case("a log folder nothing can be written in changes nothing on standard output")
def _(t):
    folder = cache(t, "logs")
    usual = t.run(PAGE)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    # As root, only an immutable folder stops a write (a read-only file system mounted
    # there would be a mount point, which the program refuses as a link).
    frozen = subprocess.run(["chattr", "+i", folder], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    t.check(frozen.returncode == 0, "chattr: %s" % frozen.stdout.decode(errors="replace"))
    try:
        p = t.run(PAGE)  # exit code 0
        t.eq(log_bytes(p), log_bytes(usual), "standard output")
        t.eq(p.values(), usual.values(), "what the page saw")
        t.eq(os.listdir(folder), [], "files in the read-only folder")
    finally:
        subprocess.run(["chattr", "-i", folder])


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def minidump(data):
    """(exception code, its thread id, [every thread id]) read from a minidump."""
    streams, directory = struct.unpack_from("<II", data, 8)
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


FAILURES = (("access-violation", 0xC0000005), ("stack-overflow", 0xC00000FD),
            ("terminate", 0xE0425801), ("pure-virtual", 0xE0425802))


@case("each way of failing writes a dump and a last line, keeps 5 dumps, ends with its code")
def _(t):
    child = os.path.join(os.path.dirname(t.probe_exe), "crash_test_child.exe")
    old = ["brindlex-2024010%d-120000-1.dmp" % day for day in range(1, 7)]
    for mode, expected in FAILURES:
        folder = os.path.join(t.tmp, mode)
        for name in old:  # with the new dump, the two oldest must go
            write(os.path.join(folder, "crashes", name), b"x")
        _, out = t.probe("status", '"%s" %s "%s"' % (t.winpath(child), mode, t.winpath(folder)),
                         timeout=90)
        t.eq(re.search(r"^exit (\S+)$", out, re.M).group(1), "0x%08X" % expected, mode + " exit")
        thread = int(re.search(r"^thread (\d+)$", out, re.M).group(1))
        dumps = sorted(os.listdir(os.path.join(folder, "crashes")))
        t.eq(dumps[:4], old[2:], mode + ": the older dumps kept")
        t.eq(len(dumps), 5, mode + ": dumps kept")
        data = read(os.path.join(folder, "crashes", dumps[-1]))
        print("  %s: exit 0x%08X, %s of %d bytes" % (mode, expected, dumps[-1], len(data)))
        t.eq(data[:4], b"MDMP", mode + ": dump signature")
        code, faulting, threads = minidump(data)
        t.eq((code, faulting), (expected, thread), mode + ": exception code and thread in the dump")
        t.check(thread in threads, "%s: threads in the dump %r" % (mode, threads))
        t.check(len(data) < 8 << 20, "%s: a dump of %d bytes" % (mode, len(data)))
        log = read(os.path.join(folder, "logs", "brindlex.log"))
        last = log.rstrip(b"\r\n").rsplit(b"\r\n", 1)[-1]
        t.check(re.match(rb"\[error [\d:]{8}\]crash_report\.cpp:\d+ .*unhandled exception 0x%08X at "
                         rb"\S+\+0x[0-9A-F]+ on thread %d, crash report: [A-Z]:\\.*\\%s$"
                         % (expected, thread, dumps[-1].encode()), last), "last line: %r" % last)


@case("a crash of the running program: a dump, a last log line naming it, the code as exit code")
def _(t):
    shutil.rmtree(cache(t, "crashes"), ignore_errors=True)
    p = t.start("instance/stay.html")
    p.wait_console("run", 60)
    # The probe starts a thread at an invalid address inside the program.
    code, out = t.probe("crash", os.path.basename(t.exe), timeout=90)
    t.eq(code, 0, "probe crash: " + out)
    p.wait_exit(10, expect=None)
    thread = int(re.search(r"^thread (\d+)$", out, re.M).group(1))
    t.eq(re.search(r"^exit (\S+)$", out, re.M).group(1), "0xC0000005", "exit code")
    dumps = os.listdir(cache(t, "crashes"))
    t.eq(len(dumps), 1, "dumps: %r" % dumps)
    data = read(cache(t, "crashes", dumps[0]))
    print("  %s: %d bytes" % (dumps[0], len(data)))
    t.eq(data[:4], b"MDMP", "dump signature")
    t.eq(minidump(data)[:2], (0xC0000005, thread), "exception code and thread in the dump")
    last = log_bytes(p).rstrip(b"\r\n").rsplit(b"\r\n", 1)[-1]
    t.check(re.match(rb"\[error \d\d:\d\d:\d\d\]crash_report\.cpp:\d+ .*unhandled exception "
                     rb"0xC0000005 at 0x00000010 on thread %d, crash report: [A-Z]:\\.*"
                     rb"\\Brindlex\\crashes\\%s$" % (thread, dumps[0].encode()), last),
            "last line: %r" % last)
    # The faulting thread had set no error; the dump's own clean-up must not show.
    t.check(b"last err" not in last, "a leftover error state in the crash line: %r" % last)
    t.eq(read(cache(t, "logs", "brindlex.log")).rstrip(b"\r\n").rsplit(b"\r\n", 1)[-1], last,
         "the log file's last line")
