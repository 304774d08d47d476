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


def check_same(t, got, expected, what):
    """Compares bytes without printing kilobytes when they differ."""
    if got != expected:
        at = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b),
                  min(len(got), len(expected)))
        raise AssertionError("%s: %d bytes, expected %d, first difference at %d: %r / %r"
                             % (what, len(got), len(expected), at, got[at:at + 60],
                                expected[at:at + 60]))


@case("the log file gets the bytes standard output gets, after a line about the start")
def _(t):
    shutil.rmtree(cache(t, "logs"), ignore_errors=True)
    p = t.run(PAGE)
    data = read(cache(t, "logs", "brindlex.log"))
    m = START_LINE.match(data)
    t.check(m, "start line: %r" % data[:300])
    t.eq(int(m.group(1)), 64 if t.prefix == "w64" else 32, "bitness in the start line")
    stdout = log_bytes(p)
    check_same(t, data[m.end():], stdout, "the log file after its start line")
    # The C runtime's text mode: "\n" becomes "\r\n", also inside a result echo.
    t.check(b"{\r\r\n    return " in stdout, "no result echo: %r" % stdout[-300:])


@case("a read-only log folder changes nothing on standard output")
def _(t):
    folder = cache(t, "logs")
    usual = t.run(PAGE)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    # As root, only a read-only file system stops a write.
    mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", folder],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    t.check(mount.returncode == 0, "mount: %s" % mount.stdout.decode(errors="replace"))
    try:
        p = t.run(PAGE)  # exit code 0
        check_same(t, log_bytes(p), log_bytes(usual), "standard output")
        t.eq(p.values(), usual.values(), "what the page saw")
        t.eq(os.listdir(folder), [], "files in the read-only folder")
    finally:
        if subprocess.run(["umount", folder]).returncode != 0:
            subprocess.run(["umount", "-l", folder])  # Wine may hold it a moment longer


def minidump_exception(data):
    """(exception code, thread id) from a minidump's exception stream."""
    streams, directory = struct.unpack_from("<II", data, 8)
    for i in range(streams):
        kind, _, rva = struct.unpack_from("<III", data, directory + 12 * i)
        if kind == 6:
            thread, _, code = struct.unpack_from("<III", data, rva)
            return code, thread
    return None, None


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
    t.eq(minidump_exception(data), (0xC0000005, thread), "exception code and thread in the dump")
    last = log_bytes(p).rstrip(b"\r\n").rsplit(b"\r\n", 1)[-1]
    t.check(re.match(rb"\[error \d\d:\d\d:\d\d\]crash_report\.cpp:\d+ .*unhandled exception "
                     rb"0xC0000005 at 0x00000010 on thread %d, crash report: [A-Z]:\\.*"
                     rb"\\Brindlex\\crashes\\%s$" % (thread, dumps[0].encode()), last),
            "last line: %r" % last)
    t.eq(read(cache(t, "logs", "brindlex.log")).rstrip(b"\r\n").rsplit(b"\r\n", 1)[-1], last,
         "the log file's last line")
