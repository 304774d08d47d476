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


@case("a crash where no dump can be written: the crash line says so and why, and the "
      "process still ends with the exception's code")
def _(t):
    child = os.path.join(os.path.dirname(t.probe_exe), "crash_test_child.exe")
    folder = os.path.join(t.tmp, "no-dump")
    os.makedirs(os.path.join(folder, "logs"))
    with open(os.path.join(folder, "crashes"), "wb") as f:  # a file holds the folder's name
        f.write(b"not a folder")
    _, out = t.probe("status", '"%s" access-violation "%s"' % (t.winpath(child), t.winpath(folder)),
                     timeout=90)
    t.eq(re.search(r"^exit (\S+)$", out, re.M).group(1), "0xC0000005", "exit code")
    t.eq(read(os.path.join(folder, "crashes")), b"not a folder", "what holds the folder's name")
    lines = read(os.path.join(folder, "logs", "brindlex.log")).split(b"\r\n")
    crash = [line for line in lines if b"unhandled exception" in line]
    t.eq(len(crash), 1, "crash lines: %r" % crash)
    t.check(re.match(rb"\[error [\d:]{8}\]crash_report\.cpp:\d+ .*unhandled exception 0xC0000005 "
                     rb"at \S+ on thread \d+, no crash report \(error \d+\): [A-Z]:\\.*\.dmp$",
                     crash[0]), "crash line: %r" % crash[0])


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
    """(exception code, its thread id, {every thread id: its entry's offset}) read from a
    minidump."""
    streams, directory = struct.unpack_from("<II", data, 8)
    code = thread = None
    threads = {}
    for i in range(streams):
        kind, _, rva = struct.unpack_from("<III", data, directory + 12 * i)
        if kind == 6:  # the exception stream
            thread, _, code = struct.unpack_from("<III", data, rva)
        elif kind == 3:  # the thread list: 48 bytes a thread, its id first
            count = struct.unpack_from("<I", data, rva)[0]
            threads = {struct.unpack_from("<I", data, rva + 4 + 48 * n)[0]: rva + 4 + 48 * n
                       for n in range(count)}
    return code, thread, threads


SYMBOLIZE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                         "symbolize.sh")


def symbolize(t, path, symbols):
    """The symbolizer's output and its frames as (module+offset, function or "")."""
    run = subprocess.run([SYMBOLIZE, path, symbols], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, universal_newlines=True)
    t.eq(run.returncode, 0, "symbolize %s: %s" % (path, run.stdout))
    frames = re.findall(r"^  #\d+ +(\S+)(?: +(.+?) at .*)?$", run.stdout, re.M)
    return run.stdout, [(where.lower(), function) for where, function in frames]


def crash_block(t, log, what):
    """The crash line and its stack lines, which end the log."""
    lines = log.rstrip(b"\r\n").split(b"\r\n")
    start = max(n for n, line in enumerate(lines) if b"unhandled exception" in line)
    stack = lines[start + 1:]
    for n, line in enumerate(stack[:-1]):
        t.check(re.search(rb"\]crash_report\.cpp:\d+ .* stack frame %d: \S+$" % n, line),
                "%s: stack line %d: %r" % (what, n, line))
    t.check(re.search(rb" stack ends after %d frames: \S" % (len(stack) - 1), stack[-1]),
            "%s: last line %r" % (what, stack[-1]))
    return lines[start], stack


def check_stacks(t, what, log_path, dump_path, symbols):
    """Log and dump, read by the symbolizer, show one stack; returns it."""
    _, from_log = symbolize(t, log_path, symbols)
    text, from_dump = symbolize(t, dump_path, symbols)
    print("  %s, symbolized from the dump:\n%s" % (what, "\n".join(text.splitlines()[:12])))
    t.eq([where for where, _ in from_dump], [where for where, _ in from_log],
         what + ": frames from the dump and from the log")
    return text, from_dump


# The function in which each way of failing raises its exception, and its caller.
FAILING_CALLS = {"access-violation": ("WriteToBadAddress", "FailOnSecondThread"),
                 "stack-overflow": ("__chkstk_ms", "Recurse"),  # the stack probe
                 "terminate": ("RaiseFatal", "OnTerminate"),
                 "pure-virtual": ("RaiseFatal", "__cxa_pure_virtual"),
                 "abort": ("RaiseFatal", "OnAbortSignal")}


FAILURES = (("access-violation", 0xC0000005), ("stack-overflow", 0xC00000FD),
            ("terminate", 0xE0425801), ("pure-virtual", 0xE0425802), ("abort", 0xE0425803))


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
        log_path = os.path.join(folder, "logs", "brindlex.log")
        line, _ = crash_block(t, read(log_path), mode)
        t.check(re.match(rb"\[error [\d:]{8}\]crash_report\.cpp:\d+ .*unhandled exception 0x%08X at "
                         rb"\S+\+0x[0-9A-F]+ on thread %d, crash report: [A-Z]:\\.*\\%s$"
                         % (expected, thread, dumps[-1].encode()), line), "crash line: %r" % line)
        dump_path = os.path.join(folder, "crashes", dumps[-1])
        text, frames = check_stacks(t, mode, log_path, dump_path, child)
        if mode != "access-violation" and t.program_bits == 64:
            # The 64-bit build (checked where no 32-bit program runs) has no frame chain
            # through these failures: 64-bit Wine's own code keeps none, and a frame as
            # large as Recurse's gets its frame pointer only after the stack probe.
            continue
        named = [function for _, function in frames if function]
        t.check(len(named) >= 2 and all(name in function for name, function in
                                        zip(FAILING_CALLS[mode], named)),
                "%s: failing function and its caller: %s" % (mode, text))
        if mode == "stack-overflow":
            t.check(len(frames) == 64 and "the limit of 64 frames" in text, text)
        if mode != "access-violation":
            continue
        # A garbage frame in the log and a dump whose stack memory is cut short are read
        # as far as they go.
        garbled = os.path.join(folder, "garbled.log")
        write(garbled, re.sub(rb"stack frame 1: \S+", b"stack frame 1: crash_test_child.exe+0xZZ",
                              read(log_path)))
        text, cut_frames = symbolize(t, garbled, child)
        t.eq(cut_frames, frames[:1], "frames before the garbage one")
        t.check("holds no readable frame 1 ('crash_test_child.exe+0xZZ'); the stack stops there"
                in text, "garbage frame: " + text)
        cut = bytearray(data)
        struct.pack_into("<I", cut, threads[thread] + 32, 64)  # the stack memory's size
        write(garbled + ".dmp", bytes(cut))
        text, cut_frames = symbolize(t, garbled + ".dmp", child)
        t.eq(cut_frames, frames[:len(cut_frames)], "frames of the cut dump")
        t.check(re.search(r"stack ends after %d frames: frame pointer 0x[0-9A-F]{8} outside the "
                          r"stack memory in the dump" % len(cut_frames), text), "cut dump: " + text)


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
    line, stack = crash_block(t, log_bytes(p), "standard output")
    t.check(re.match(rb"\[error \d\d:\d\d:\d\d\]crash_report\.cpp:\d+ .*unhandled exception "
                     rb"0xC0000005 at 0x00000010 on thread %d, crash report: [A-Z]:\\.*"
                     rb"\\Brindlex\\crashes\\%s$" % (thread, dumps[0].encode()), line),
            "crash line: %r" % line)
    # The faulting thread had set no error; the dump's own clean-up must not show.
    t.check(b"last err" not in line, "a leftover error state in the crash line: %r" % line)
    t.eq(crash_block(t, read(cache(t, "logs", "brindlex.log")), "log file"), (line, stack),
         "the log file's crash line and stack")
    # The thread was started at the bad address: no function of the program to name.
    _, frames = check_stacks(t, "running program", cache(t, "logs", "brindlex.log"),
                             cache(t, "crashes", dumps[0]), t.exe)
    t.eq(frames[0], ("0x00000010", ""), "the first frame")
