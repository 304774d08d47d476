#!/usr/bin/env python3
"""Turns a crash report into a stack of functions, source files and lines.

Usage: scripts/symbolize.sh FILE [SYMBOLS]

FILE is either a log (brindlex.log or an older brindlex.<n>.log from the log folder:
every crash in it is shown, from its "unhandled exception" line and the "stack frame"
lines after it) or a minidump (brindlex-<time>-<pid>.dmp from the crash folder: the
faulting thread's stack is walked again from the exception's context, along the saved
frame pointers, through the stack memory the dump holds).

SYMBOLS is the program's symbol file: the brindlex.dbg kept with the release, or an
unstripped build of the program. Without it, brindlex.dbg beside FILE or in the current
folder is used when there is one. Frames in the module named like the symbol file
(brindlex.dbg: brindlex.exe) get function, file and line from i686-w64-mingw32-addr2line
(x86_64-w64-mingw32-addr2line for a 64-bit build's symbols),
or, in the static libraries that carry no line tables, the nearest function symbol;
every other frame keeps its module+offset.

Exit status: 0 when a stack was shown (also one that had to stop early), 1 when FILE
holds no crash, 2 when FILE or SYMBOLS cannot be read.
"""
import os
import re
import shutil
import bisect
import struct
import subprocess
import sys

# The binutils of the symbols' kind: i686 for the program, x86_64 for a 64-bit build.
# addr2line's own -C takes the PE symbols' leading underscore off the DWARF names too,
# which leaves them undemangled: c++filt does that.
TOOLS = {32: "i686-w64-mingw32-", 64: "x86_64-w64-mingw32-"}
ADDR2LINE, CXXFILT, NM = "addr2line", "c++filt", "nm"
FRAMES_MAX = 64

CRASH_LINE = re.compile(r"unhandled exception (0x[0-9A-Fa-f]{8}) at (\S+) on thread (\d+)")
FRAME_LINE = re.compile(r"(?:^|\s)stack frame (\d+): (.*?)\s*$")
END_LINE = re.compile(r"(?:^|\s)stack ends after (\d+) frames: (.*?)\s*$")
MODULE_OFFSET = re.compile(r"^(.+)\+0x([0-9A-Fa-f]{1,8})$")
BARE_ADDRESS = re.compile(r"^0x([0-9A-Fa-f]{8})$")


class Unreadable(Exception):
    pass


class Crash:
    def __init__(self, origin, code, thread):
        self.origin = origin
        self.code = code
        self.thread = thread
        self.frames = []  # (module or None, offset or absolute address)
        self.end = None   # why the stack ends, in words


# ---- logs ------------------------------------------------------------------------------

def describe(text):
    """(module, offset) from "module+0x1A2B", (None, address) from "0x0000001A"."""
    m = MODULE_OFFSET.match(text)
    if m:
        return m.group(1), int(m.group(2), 16)
    m = BARE_ADDRESS.match(text)
    if m:
        return None, int(m.group(1), 16)
    return None


def read_log(data):
    lines = data.decode("latin-1").splitlines()
    crashes = []
    number = 0
    while number < len(lines):
        m = CRASH_LINE.search(lines[number])
        number += 1
        if not m:
            continue
        crash = Crash("log line %d" % number, int(m.group(1), 16), int(m.group(3)))
        crashes.append(crash)
        if number == len(lines) or not FRAME_LINE.search(lines[number]):
            # A program from before the stack lines: the place of the fault is all.
            crash.frames = [describe(m.group(2)) or (None, 0)]
            crash.end = "the log has no stack lines for this crash, only the place it failed"
            continue
        while crash.end is None:
            if number == len(lines):
                crash.end = "the log ends after frame %d" % (len(crash.frames) - 1)
                break
            line = lines[number]
            end = END_LINE.search(line)
            frame = FRAME_LINE.search(line)
            if end:
                crash.end = end.group(2)
            elif not frame:
                crash.end = "log line %d holds no frame; the stack stops at frame %d" % (
                    number + 1, len(crash.frames) - 1)
                break  # the line may begin the next crash
            elif int(frame.group(1)) != len(crash.frames) or not describe(frame.group(2)):
                crash.end = "log line %d holds no readable frame %d (%r); the stack stops there" % (
                    number + 1, len(crash.frames), frame.group(2)[:60])
            else:
                crash.frames.append(describe(frame.group(2)))
            number += 1
    return crashes


# ---- minidumps -------------------------------------------------------------------------

THREAD_LIST, MODULE_LIST, EXCEPTION = 3, 4, 6
# Where a thread context keeps the frame and instruction pointers, by the context's size
# (x86: 0x2CC bytes, Ebp and Eip; x64: 0x4D0 bytes, Rbp at 0xA0 and Rip at 0xF8).
X86_CONTEXT_SIZE, AMD64_CONTEXT_SIZE = 0xCC, 0x4D0


class Dump:
    def __init__(self, data):
        self.data = data
        self.notes = []  # what was found missing or cut short

    def unpack(self, fmt, offset, what):
        if offset + struct.calcsize(fmt) > len(self.data):
            raise Unreadable("the dump ends (%d bytes) before its %s at %d" % (
                len(self.data), what, offset))
        return struct.unpack_from(fmt, self.data, offset)

    def streams(self):
        count, directory = self.unpack("<II", 8, "header")
        found = {}
        for i in range(min(count, 4096)):
            kind, size, rva = self.unpack("<III", directory + 12 * i, "stream directory")
            found.setdefault(kind, (size, rva))
        return found

    def string(self, rva):
        (length,) = self.unpack("<I", rva, "module name")
        raw = self.data[rva + 4:rva + 4 + min(length, 2048)]
        return raw.decode("utf-16-le", errors="replace")


def read_dump(data):
    dump = Dump(data)
    streams = dump.streams()
    for kind, name in ((EXCEPTION, "exception"), (THREAD_LIST, "thread list"),
                       (MODULE_LIST, "module list")):
        if kind not in streams:
            raise Unreadable("the dump holds no %s" % name)
    rva = streams[EXCEPTION][1]
    thread, _, code = dump.unpack("<III", rva, "exception")
    context_size, context_rva = dump.unpack("<II", rva + 160, "exception context")
    if context_size >= AMD64_CONTEXT_SIZE:
        word = 8
        (ebp,) = dump.unpack("<Q", context_rva + 0xA0, "exception context")
        (eip,) = dump.unpack("<Q", context_rva + 0xF8, "exception context")
    elif context_size >= X86_CONTEXT_SIZE:
        word = 4
        ebp, eip = dump.unpack("<II", context_rva + 0xB4, "exception context")
    else:
        raise Unreadable("the exception's context has %d bytes, too few for any" % context_size)

    modules = []
    rva = streams[MODULE_LIST][1]
    (count,) = dump.unpack("<I", rva, "module list")
    for n in range(min(count, 4096)):
        base, size, _, _, name_rva = dump.unpack("<QIIII", rva + 4 + 108 * n, "module list")
        path = dump.string(name_rva)
        modules.append((base, size, re.split(r"[\\/]", path)[-1]))

    stack_start = stack_size = stack_rva = None
    rva = streams[THREAD_LIST][1]
    (count,) = dump.unpack("<I", rva, "thread list")
    for n in range(min(count, 65536)):
        entry = rva + 4 + 48 * n
        (thread_id,) = dump.unpack("<I", entry, "thread list")
        if thread_id == thread:
            stack_start, stack_size, stack_rva = dump.unpack("<QII", entry + 24, "thread list")
    if stack_start is None:
        raise Unreadable("the thread list lacks the faulting thread %d" % thread)
    held = max(0, min(stack_size, len(data) - stack_rva))
    if held < stack_size:
        dump.notes.append("the dump ends inside the stack memory: %d of its %d bytes are there"
                          % (held, stack_size))
    stack = data[stack_rva:stack_rva + held]

    crash = Crash("dump", code, thread)
    crash.frames, crash.end = walk(eip, ebp, stack_start, stack, modules, word)
    crash.notes = dump.notes
    return [crash]


def locate(address, modules):
    for base, size, name in modules:
        if base <= address < base + size:
            return name, address - base
    return None, address


def walk(eip, ebp, start, stack, modules, word=4):
    """The same walk the program makes, through the stack memory held in the dump, in
    words of 4 or 8 bytes."""
    frames = [locate(eip, modules)]
    low, high = start, start + len(stack)
    frame = ebp
    while True:
        if len(frames) == FRAMES_MAX:
            return frames, "the limit of %d frames" % FRAMES_MAX
        if frame == 0:
            return frames, "the thread's first frame"
        if frame < low or frame > high - 2 * word:
            return frames, ("frame pointer 0x%08X outside the stack memory in the dump "
                            "0x%08X-0x%08X" % (frame, low, high))
        if frame % word:
            return frames, "frame pointer 0x%08X not aligned" % frame
        caller_frame, return_address = struct.unpack_from("<QQ" if word == 8 else "<II",
                                                          stack, frame - low)
        if return_address == 0:
            return frames, "the thread's first frame"
        frames.append(locate(return_address, modules))
        if caller_frame != 0 and caller_frame <= frame:
            return frames, "frame pointer 0x%08X not above the frame before it" % caller_frame
        frame = caller_frame


# ---- names -----------------------------------------------------------------------------

def image_base(path):
    """The preferred load address in a PE file's header (offsets are relative to it), and
    whether the file is 32- or 64-bit."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 64:
        raise Unreadable("%s is no PE file" % path)
    (pe,) = struct.unpack_from("<I", head, 0x3C)
    if head[pe:pe + 4] != b"PE\0\0" or pe + 24 + 32 > len(head):
        raise Unreadable("%s has no PE header" % path)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", head, optional)
    if magic == 0x20B:
        return struct.unpack_from("<Q", head, optional + 24)[0], 64
    return struct.unpack_from("<I", head, optional + 28)[0], 32


def names(symbols, addresses, tools):
    """{address: [(function, "file:line"), ...]} innermost first, the inlined chain after."""
    if not addresses:
        return {}
    if shutil.which(tools + ADDR2LINE) is None:
        print("note: %s not found; frames keep module+offset" % (tools + ADDR2LINE))
        return {}
    out = subprocess.run([tools + ADDR2LINE, "-a", "-f", "-i", "-e", symbols] +
                         ["0x%x" % a for a in addresses],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         universal_newlines=True, errors="replace")
    found = {}
    current = None
    lines = out.stdout.splitlines()
    i = 0
    while i < len(lines):
        if re.match(r"^0x[0-9a-f]+$", lines[i]):
            current = found.setdefault(int(lines[i], 16), [])
            i += 1
        elif current is not None and i + 1 < len(lines):
            if lines[i] != "??":
                current.append((lines[i], lines[i + 1].split(" (discriminator")[0]))
            i += 2
        else:
            i += 1
    found = demangle(found, tools)
    missing = [a for a in addresses if not found.get(a)]
    for address, name in nearest_symbols(symbols, missing, tools).items():
        found[address] = [(name, "?? (no line information)")]
    return found


def nearest_symbols(symbols, addresses, tools):
    """Names from the symbol table for code without line tables (the static runtime
    and libraries): the function symbol at or before each address, plus the distance."""
    if not addresses or shutil.which(tools + NM) is None:
        return {}
    out = subprocess.run([tools + NM, "-C", "-n", "--defined-only", symbols], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, universal_newlines=True, errors="replace")
    starts, functions = [], []
    for line in out.stdout.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in ("T", "t") and not parts[2].startswith("."):
            starts.append(int(parts[0], 16))
            functions.append(parts[2])
    named = {}
    for address in addresses:
        i = bisect.bisect_right(starts, address) - 1
        if i >= 0:
            named[address] = "%s+0x%X" % (functions[i], address - starts[i])
    return named


def demangle(found, tools):
    mangled = sorted({f for chain in found.values() for f, _ in chain if f.startswith("_Z")})
    if not mangled or shutil.which(tools + CXXFILT) is None:
        return found
    out = subprocess.run([tools + CXXFILT, "-n"], input="\n".join(mangled) + "\n",
                         stdout=subprocess.PIPE, universal_newlines=True, errors="replace")
    plain = dict(zip(mangled, out.stdout.splitlines()))
    return {address: [(plain.get(f, f), line) for f, line in chain]
            for address, chain in found.items()}


def show(crashes, symbols, module):
    base, bits = image_base(symbols) if symbols else (0, 32)
    tools = TOOLS[bits]
    wanted = []
    for crash in crashes:
        for n, (name, offset) in enumerate(crash.frames):
            if symbols and name and name.lower() == module.lower():
                # A return address lies after its call: look up the call itself.
                wanted.append(base + offset - (1 if n else 0))
    found = names(symbols, sorted(set(wanted)), tools)
    for number, crash in enumerate(crashes, 1):
        print("crash %d of %d (%s): exception 0x%08X on thread %d" % (
            number, len(crashes), crash.origin, crash.code, crash.thread))
        for note in getattr(crash, "notes", []):
            print("  note: %s" % note)
        for n, (name, offset) in enumerate(crash.frames):
            where = "%s+0x%X" % (name, offset) if name else "0x%08X" % offset
            lookup = base + offset - (1 if n else 0)
            chain = found.get(lookup, []) if name and name.lower() == module.lower() else []
            if not chain:
                print("  #%-2d %s" % (n, where))
                continue
            print("  #%-2d %-28s %s at %s" % (n, where, chain[0][0], chain[0][1]))
            for function, line in chain[1:]:
                print("      %-28s (inlined into) %s at %s" % ("", function, line))
        print("  stack ends after %d frames: %s" % (len(crash.frames), crash.end))


def main(argv):
    if len(argv) not in (2, 3) or argv[1] in ("-h", "--help"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = argv[1]
    symbols = argv[2] if len(argv) == 3 else None
    if symbols is None:
        for candidate in (os.path.join(os.path.dirname(path) or ".", "brindlex.dbg"),
                          "brindlex.dbg"):
            if os.path.isfile(candidate):
                symbols = candidate
                break
    try:
        with open(path, "rb") as f:
            data = f.read()
        if symbols and not os.path.isfile(symbols):
            raise Unreadable("no symbol file %s" % symbols)
        crashes = read_dump(data) if data[:4] == b"MDMP" else read_log(data)
        if not crashes:
            print("%s holds no crash" % path)
            return 1
        if not symbols:
            print("note: no brindlex.dbg given or found; frames keep module+offset")
        module = os.path.splitext(os.path.basename(symbols or "brindlex"))[0] + ".exe"
        show(crashes, symbols, module)
    except (OSError, Unreadable) as error:
        print("symbolize: %s" % error, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
