#!/usr/bin/env python3
"""End-to-end driver: runs the real program under Wine against pages served here.

How to add tests (one file per group of native functions, found by CMake):

  tests/e2e/cases_<group>.py   the cases; each file becomes the ctest tests
                               e2e_<group>_w32 and e2e_<group>_w64
  tests/e2e/pages/<group>/     its pages (ES5 only: no let, no arrow functions)

A page includes <script src="/e2e.js"></script> and reports through the console:
report("name", value) writes "@name <JSON>", finish() reports "done" and calls
close(). A page's text may hold %%NAME%% placeholders, replaced by the JSON form of
values["NAME"] (strings arrive quoted, ready for a script).

  from e2e import case, Route

  @case("setData then getData returns the value")
  def _(t):
      p = t.run("store/roundtrip.html", values={"KEY": "k"})   # start, wait, exit 0
      t.eq(p.value("got"), "v")                                # "@got" reported
      t.check(p.log_has(r"OnGetData\\(.*execute c\\+\\+ function key: k$"))

t.start(...) returns the running program instead (then p.wait_console("name"),
p.wait_exit()). routes={"/x": Route(status=404)} serves extra paths (a Route can
wait for a threading.Event, set headers, or be any callable(handler)). t.tmp
is a fresh folder, t.winpath() gives its Windows form, t.reg_*() touch the prefix's
registry, t.watch() follows the window from outside, t.probe() runs the helper program.
With --remains DIR (or BRINDLEX_E2E_REMAINS) a failed case leaves DIR/<case>/: its
t.tmp, each program's output and a screenshot. Run one case with
`scripts/test.sh --case NAME`, or one group by hand (DISPLAY and a running prefix
needed, see scripts/test.sh):

  WINEPREFIX=$PWD/build/wine/w32 python3 tests/e2e/e2e.py --cases tests/e2e/cases_window.py \\
    --exe build/brindlex_e2e.exe --probe build/tests/e2e/e2e_probe.exe \\
    --wine-exec scripts/wine-exec.sh [--only REGEX]
"""

import argparse
import fcntl
import http.server
import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
from pe_image import PeImage  # noqa: E402  (the cases import it from here too)

PAGES = os.path.join(HERE, "pages")
START_PATH = "/toolv2/brindlex"
WINDOW_TITLE = "Brindlex"
UNDEFINED = object()  # what report() sends for undefined

_CASES = []


def _program_version():
    """The program's file version, as its resource script states it."""
    with open(os.path.join(HERE, "..", "..", "res", "brindlex.rc"), encoding="utf-8") as f:
        numbers = re.search(r"^FILEVERSION\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", f.read(), re.M)
    return ".".join(numbers.groups())


PROGRAM_VERSION = _program_version()
# The exit code of a run in which a case could not run on this machine (and none
# failed): ctest counts the test as skipped, not passed.
SKIP_CODE = 77


class Skipped(Exception):
    """Raised through t.skip(reason): the case cannot run on this machine."""


# A log record's head (level, time, source file and line), and what follows a
# function's signature: a blank, or the caller's last error with its code.
HEAD = r"\[(?:info|warning|error) \d\d:\d\d:\d\d\]\w+\.cpp:\d+ "
AFTER_SIGNATURE = r" (?:last err: .*\(-?\d+\))?"


def handler_line(handler, message, level=r"(?:info|warning|error)"):
    """A record of handler (a WkeFunction member) whose message is exactly message; a
    regular expression for Program.log_has()."""
    return (r"^\[" + level + r" \d\d:\d\d:\d\d\]\w+\.cpp:\d+ .*\bWkeFunction::" + handler
            + r"\(.*\)" + AFTER_SIGNATURE + re.escape(message) + r"$")


def entry_line(handler, message="execute c++ function"):
    """The line a native function writes first."""
    return handler_line(handler, message, "info")


def echo_line(handler, text, level="info"):
    """The result echo of a native function that returned text (as the script sees it)."""
    return handler_line(handler, "{\n    return %s;\n}" % text, level)


# The stand-in engine's line for wkeFinalize.
FINALIZED = "[standin] wkeFinalize"


def check_teardown(t, p):
    """The engine is finalised first, then the drag hook is removed."""
    lines = p.text().splitlines()
    finalized = [i for i, line in enumerate(lines) if line == FINALIZED]
    unhooked = [i for i, line in enumerate(lines) if re.match(HEAD + r".*mouse hook removed$", line)]
    t.eq((len(finalized), len(unhooked)), (1, 1), "finalise and hook removal lines")
    t.check(finalized[0] < unhooked[0], "the hook was removed before the engine was finalised")


def case(name):
    """Registers a test case: a function taking the case context."""
    def register(function):
        _CASES.append((name, function))
        return function
    return register


class Route:
    """An extra path served during one case."""

    def __init__(self, body=b"", status=200, content_type=None, headers=None, release=None):
        self.body = body.encode("utf-8") if isinstance(body, str) else body
        self.status = status
        self.content_type = content_type or "text/html; charset=utf-8"
        self.headers = headers or {}
        # A threading.Event the answer waits for (set by the case; a minute at most).
        self.release = release

    def __call__(self, handler):
        if self.release is not None:
            self.release.wait(60)
        handler.send_response(self.status)
        handler.send_header("Content-Type", self.content_type)
        handler.send_header("Content-Length", str(len(self.body)))
        for key, value in self.headers.items():
            handler.send_header(key, value)
        handler.end_headers()
        handler.wfile.write(self.body)


def _content_type(path):
    if path.endswith(".js"):
        return "application/javascript; charset=utf-8"
    if path.endswith(".html"):
        return "text/html; charset=utf-8"
    return "application/octet-stream"


def render_page(path, values):
    """The page file with its %%NAME%% placeholders filled in."""
    with open(path, "r", encoding="utf-8") as f:
        text = f.read()
    for key, value in (values or {}).items():
        text = text.replace("%%" + key + "%%", json.dumps(value))
    left = re.findall(r"%%([A-Z0-9_]+)%%", text)
    if left:
        raise AssertionError("page %s: no value for %s" % (path, ", ".join(left)))
    return text.encode("utf-8")


class PageServer:
    """Loopback HTTP server: START_PATH is the case's page, other paths come from the
    case's routes, then from the pages folder; every request is recorded."""

    def __init__(self, port):
        self.port = port
        self.page = None
        self.values = {}
        self.routes = {}
        self.requests = []
        self.lock = threading.Lock()
        self.httpd = None
        self.up()

    def up(self):
        """Listens on the port (again)."""
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def do_GET(self):
                server._serve(self)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", self.port), Handler)
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def down(self):
        """Stops listening: connections to the port are refused until up()."""
        self.httpd.shutdown()
        self.httpd.server_close()

    def configure(self, page, values, routes):
        with self.lock:
            self.page, self.values, self.routes = page, values or {}, dict(routes or {})
            self.requests = []

    def _serve(self, handler):
        path = handler.path.split("?", 1)[0]
        with self.lock:
            self.requests.append((time.monotonic(), handler.path))
            route = self.routes.get(handler.path) or self.routes.get(path)
            page, values = self.page, self.values
        try:
            if route is None and path == START_PATH and page:
                route = Route(render_page(os.path.join(PAGES, page), values))
            if route is None:
                local = os.path.normpath(os.path.join(PAGES, path.lstrip("/")))
                if local.startswith(PAGES + os.sep) and os.path.isfile(local):
                    route = Route(render_page(local, values), content_type=_content_type(local))
            (route or Route(b"not found", status=404, content_type="text/plain"))(handler)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def requested(self, path):
        with self.lock:
            return [t for t, p in self.requests if p == path]

    def close(self):
        self.down()


class Output:
    """A child's standard output, read on a thread into (time, bytes) lines."""

    def __init__(self, stream):
        self.lines = []
        self.raw = bytearray()  # every byte as received, line ends included
        self.cond = threading.Condition()
        self.ended = False
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for raw in iter(stream.readline, b""):
            with self.cond:
                self.raw += raw
            # Windows programs end their lines with "\r\n".
            line = raw[:-1] if raw.endswith(b"\n") else raw
            line = line[:-1] if line.endswith(b"\r") else line
            with self.cond:
                self.lines.append((time.monotonic(), line))
                self.cond.notify_all()
        with self.cond:
            self.ended = True
            self.cond.notify_all()

    def wait_until(self, predicate, timeout):
        """Waits until predicate(lines) is true; returns its last value."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                result = predicate(self.lines)
                left = deadline - time.monotonic()
                if result or left <= 0 or self.ended:
                    return predicate(self.lines)
                self.cond.wait(min(left, 0.2))

    def snapshot(self):
        with self.cond:
            return list(self.lines)

    def raw_bytes(self):
        with self.cond:
            return bytes(self.raw)


class Program:
    """One start of the program (or of any Windows program) under Wine."""

    LOG_HEAD = re.compile(rb"^\[(info|warning|error) \d\d:\d\d:\d\d\]")

    def __init__(self, ctx, argv, env):
        self.ctx = ctx
        self.started = time.monotonic()
        self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.out = Output(self.proc.stdout)
        self.err = Output(self.proc.stderr)
        self.code = None

    # Output, decoded. Log text is in the ANSI code page; console text is UTF-8.
    def _decode_log(self, raw):
        return raw.decode(self.ctx.codec, errors="replace")

    @staticmethod
    def _decode_console(raw):
        return raw.decode("utf-8", errors="replace")

    def text(self):
        return "\n".join(self._decode_log(raw) for _, raw in self.out.snapshot())

    def console(self):
        """The page's console lines, without the "[console] " prefix."""
        return [self._decode_console(raw[10:]) for _, raw in self.out.snapshot()
                if raw.startswith(b"[console] ")]

    def values(self):
        """Every report("name", value) of the page, in order: [(name, value)]."""
        found = []
        for line in self.console():
            if not line.startswith("@"):
                continue
            name, _, payload = line[1:].partition(" ")
            if payload == "undefined" or payload == "":
                value = UNDEFINED
            else:
                try:
                    value = json.loads(payload)
                except ValueError:
                    value = payload
            found.append((name, value))
        return found

    def value(self, name, default=None):
        """The last value reported under name (UNDEFINED for undefined)."""
        for key, value in reversed(self.values()):
            if key == name:
                return value
        if default is not None:
            return default
        raise AssertionError("page reported no %r; console:\n%s" % (name, self.console_tail()))

    def has_value(self, name):
        return any(key == name for key, _ in self.values())

    def records(self):
        """Log lines as whole records: a line with a log head plus the lines that
        continue it (a result echo spans three lines)."""
        records = []
        for _, raw in self.out.snapshot():
            if self.LOG_HEAD.match(raw):
                records.append(raw)
            elif records and not raw.startswith(b"["):
                records[-1] += b"\n" + raw
            else:
                records.append(None)  # some other line ends a record
        return [self._decode_log(r).replace("\r", "") for r in records if r is not None]

    def log_has(self, pattern):
        """Whether a log record matches the regular expression (re.M, searched)."""
        rx = re.compile(pattern, re.M)
        return any(rx.search(r) for r in self.records())

    def log_matching(self, pattern):
        rx = re.compile(pattern, re.M)
        return [r for r in self.records() if rx.search(r)]

    def wait_console(self, name, timeout=20.0):
        """Waits until the page reports name; returns its value."""
        def seen(lines):
            return any(raw.startswith(b"[console] @" + name.encode() + b" ") or
                       raw == b"[console] @" + name.encode() for _, raw in lines)
        if not self.out.wait_until(seen, timeout):
            raise AssertionError("page did not report %r within %ss\n%s"
                                 % (name, timeout, self.describe()))
        return self.value(name)

    def wait_log(self, pattern, timeout=20.0):
        rx = re.compile(pattern.encode(self.ctx.codec) if isinstance(pattern, str) else pattern)
        if not self.out.wait_until(lambda lines: any(rx.search(raw) for _, raw in lines),
                                   timeout):
            raise AssertionError("no output line matching %r within %ss\n%s"
                                 % (pattern, timeout, self.describe()))

    def wait_exit(self, timeout=30.0, expect=0):
        """Waits for the end of the process; checks its exit code unless expect is None."""
        try:
            self.code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("program still running after %ss\n%s" % (timeout, self.describe()))
        self.out.thread.join(2)
        self.err.thread.join(2)
        if expect is not None and self.code != expect:
            raise AssertionError("exit code %s, expected %s\n%s" % (self.code, expect, self.describe()))
        return self.code

    def running(self):
        return self.proc.poll() is None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass

    def console_tail(self, count=40):
        return "\n".join(self.console()[-count:])

    def describe(self, count=60):
        lines = [self._decode_log(raw) for _, raw in self.out.snapshot()][-count:]
        errors = [self._decode_log(raw) for _, raw in self.err.snapshot()][-15:]
        code = self.proc.poll()
        state = "still running" if code is None else "ended, exit code %d" % code
        return ("--- program %s\n--- stdout (last %d lines)\n%s\n--- stderr\n%s"
                % (state, count, "\n".join(lines), "\n".join(errors)))


class Watcher:
    """The probe following the program's window from outside: one state line per
    change, e.g. {"visible": 1, "iconic": 0, "zoomed": 0, "fg": 1, "rect": (l, t, r, b)}."""

    STATE = re.compile(r"window visible=(\d) iconic=(\d) zoomed=(\d) fg=(\d) rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+)")

    def __init__(self, ctx, dismiss_box=False, box_titles=()):
        args = ["watch", WINDOW_TITLE] + (["dismiss"] if dismiss_box else []) + list(box_titles)
        self.program = ctx.start_windows_program(ctx.probe_exe, args)

    def states(self):
        """[(time, state or None when there is no window)]."""
        result = []
        for t, raw in self.program.out.snapshot():
            line = raw.decode("utf-8", errors="replace")
            m = self.STATE.match(line)
            if m:
                v = [int(x) for x in m.groups()]
                result.append((t, {"visible": v[0], "iconic": v[1], "zoomed": v[2], "fg": v[3],
                                   "rect": tuple(v[4:8])}))
            elif line == "window none":
                result.append((t, None))
        return result

    def lines(self):
        return [raw.decode("utf-8", errors="replace") for _, raw in self.program.out.snapshot()]

    def boxes(self):
        """The message boxes seen: [(title, text)]."""
        found = []
        for line in self.lines():
            m = re.match(r"box title=(.*?) text=(.*)$", line)
            if m:
                found.append(m.groups())
        return found

    def wait_state(self, predicate, timeout=15.0, what="window state"):
        """Waits for a state for which predicate(state) holds; returns it."""
        def found(_):
            return [s for _, s in self.states() if s and predicate(s)]
        matches = self.program.out.wait_until(found, timeout)
        if not matches:
            raise AssertionError("never saw %s; states seen:\n%s" % (what, self.describe()))
        return matches[-1]

    def current(self):
        states = self.states()
        return states[-1][1] if states else None

    def wait_line(self, prefix, timeout=15.0):
        def found(lines):
            return [raw.decode("utf-8", "replace") for _, raw in lines
                    if raw.decode("utf-8", "replace").startswith(prefix)]
        matches = self.program.out.wait_until(found, timeout)
        if not matches:
            raise AssertionError("watcher never reported %r:\n%s" % (prefix, self.describe()))
        return matches[0]

    def describe(self):
        return "\n".join(self.lines()[-30:])

    def stop(self):
        self.program.kill()


class Context:
    """What a case works with; one per case."""

    def __init__(self, args, server, name):
        self.args = args
        self.server = server
        self.name = name
        self.exe = os.path.abspath(args.exe)
        self.probe_exe = os.path.abspath(args.probe)
        # The setup program built for the loopback program, and the makensis settings
        # it was made from (for cases that make a setup of their own).
        self.setup = args.setup and os.path.abspath(args.setup)
        self.setup_settings = args.setup_settings and os.path.abspath(args.setup_settings)
        self.wine_exec = os.path.abspath(args.wine_exec)
        # The build folder (the probe sits in its tests/e2e): test tools, certificates,
        # the engine library.
        self.build = os.path.abspath(os.path.join(os.path.dirname(self.probe_exe), "..", ".."))
        self.prefix = os.environ.get("BRINDLEX_EXPECT_PREFIX", "")
        # A 32-bit program on 64-bit Windows sees the 32-bit registry view and system
        # folder; the 64-bit check build (on a machine that runs no 32-bit programs) does not.
        self.program_bits = PeImage(self.exe).bits
        self.wow64 = self.prefix == "w64" and self.program_bits == 32
        codepage = os.environ.get("BRINDLEX_EXPECT_CODEPAGE", "936")
        self.codec = "gbk" if codepage == "936" else "cp1252"
        self.tmp = tempfile.mkdtemp(prefix="brindlex-e2e-")
        self.programs = []
        self.watchers = []
        self.remains = None  # where a failed case's remains go

    # Starting programs.
    def env(self, extra=None):
        env = dict(os.environ)
        env.setdefault("WINEDEBUG", "-all")
        # No case may hang on a modal box; a case that wants the real box drops this.
        env["BRINDLEX_NO_MODAL_BOXES"] = "1"
        env.update(extra or {})
        return {k: v for k, v in env.items() if v is not None}

    def start_windows_program(self, exe, args=(), env=None):
        program = Program(self, [self.wine_exec, exe] + list(args), self.env(env))
        self.programs.append(program)
        return program

    def start(self, page, args=(), values=None, routes=None, exe=None, env=None):
        """Serves page (a path under pages/, or None for no start page) and starts the
        program with args; returns the running Program."""
        self.server.configure(page, values, routes)
        return self.start_windows_program(exe or self.exe, args, env)

    def run(self, page, args=(), timeout=30.0, **kwargs):
        """Starts the program on page and waits for it to end with exit code 0."""
        program = self.start(page, args, **kwargs)
        program.wait_exit(timeout)
        return program

    def watch(self, dismiss_box=False, box_titles=()):
        """Follows the program's window; reports (and with dismiss_box presses OK on)
        message boxes titled like the window or with one of box_titles."""
        watcher = Watcher(self, dismiss_box, box_titles)
        self.watchers.append(watcher)
        return watcher

    def probe(self, *args, timeout=30.0):
        """Runs the probe to its end; returns (exit code, stdout text)."""
        program = self.start_windows_program(self.probe_exe, args)
        code = program.wait_exit(timeout, expect=None)
        return code, "\n".join(raw.decode("utf-8", "replace") for _, raw in program.out.snapshot())

    def wine(self, *args, timeout=60.0):
        """Runs a Wine builtin (reg, cmd, ...) to its end; returns (code, output)."""
        result = subprocess.run([self.wine_exec] + list(args), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                env=self.env(), timeout=timeout)
        return result.returncode, result.stdout.decode(self.codec, errors="replace")

    # Paths.
    @staticmethod
    def winpath(path):
        """Windows form of an absolute Linux path (drive Z: maps the root)."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def appdata(self, *parts):
        """Linux path inside the prefix user's application data folder."""
        users = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users")
        user = os.environ.get("USER") or "root"
        if not os.path.isdir(os.path.join(users, user)):
            user = [u for u in os.listdir(users) if u != "Public"][0]
        return os.path.join(users, user, "AppData", "Roaming", *parts)

    # Registry of the prefix, in the 32-bit view the program uses by default.
    def reg_set(self, key, name, value, kind="REG_SZ", view=32):
        code, out = self.wine("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f",
                              "/reg:%d" % view)
        if code != 0:
            raise AssertionError("reg add %s %s failed: %s" % (key, name, out))

    def reg_get(self, key, name, view=32):
        """The value's data as text, or None when the key or value is absent."""
        code, out = self.wine("reg", "query", key, "/v", name, "/reg:%d" % view)
        if code != 0:
            return None
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None

    def reg_delete_key(self, key, view=32):
        self.wine("reg", "delete", key, "/f", "/reg:%d" % view)

    # Assertions.
    @staticmethod
    def skip(reason):
        """Ends the case as skipped: it cannot run on this machine."""
        raise Skipped(reason)

    @staticmethod
    def check(condition, message="check failed"):
        if not condition:
            raise AssertionError(message)

    @staticmethod
    def eq(actual, expected, what="value"):
        if actual != expected:
            raise AssertionError("%s: got %r, expected %r" % (what, actual, expected))

    def keep_remains(self, root):
        """After a failure: a screenshot now, in root/<case name>/; cleanup() adds each
        program's output and moves t.tmp there. Returns that folder."""
        folder = os.path.join(os.path.abspath(root),
                              re.sub(r"[^A-Za-z0-9]+", "-", self.name).strip("-")[:80])
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        try:
            subprocess.run(["import", "-window", "root", "-display", os.environ["DISPLAY"],
                            os.path.join(folder, "screenshot.png")],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        except (OSError, subprocess.SubprocessError) as error:
            print("e2e: no screenshot: %s" % error)
        self.remains = folder
        return folder

    def cleanup(self):
        for watcher in self.watchers:
            watcher.stop()
        leftover = [p for p in self.programs if p.running()]
        for program in leftover:
            program.kill()
        if leftover:
            # A program started through "run" or by the page may still live.
            subprocess.run([self.wine_exec, self.probe_exe, "kill", os.path.basename(self.exe)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           env=self.env(), timeout=30)
        if self.remains:
            for i, program in enumerate(self.programs, 1):
                name = "%d-%s" % (i, os.path.basename(program.proc.args[1]))
                with open(os.path.join(self.remains, name + ".log"), "wb") as f:
                    f.write(program.out.raw_bytes())
                if program.err.raw_bytes():
                    with open(os.path.join(self.remains, name + ".stderr"), "wb") as f:
                        f.write(program.err.raw_bytes())
            shutil.move(self.tmp, os.path.join(self.remains, "tmp"))
        shutil.rmtree(self.tmp, ignore_errors=True)


def load_cases(path):
    sys.path.insert(0, HERE)
    sys.modules.setdefault("e2e", sys.modules[__name__])
    module_source = importlib.util.spec_from_file_location(os.path.basename(path)[:-3], path)
    module = importlib.util.module_from_spec(module_source)
    module_source.loader.exec_module(module)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cases", required=True, action="append")
    parser.add_argument("--list", action="store_true",
                        help="print the group and name of each selected case, run none")
    parser.add_argument("--exe")
    parser.add_argument("--probe")
    parser.add_argument("--wine-exec")
    parser.add_argument("--port", type=int, default=47811)
    parser.add_argument("--setup", default="")
    parser.add_argument("--setup-settings", default="")
    parser.add_argument("--only", default=os.environ.get("E2E_ONLY", ""),
                        help="run only the cases whose name matches this regex")
    parser.add_argument("--expect-cases", type=int, default=0,
                        help="fail unless --only selects exactly this many cases (a renamed "
                             "case must not drop out of a subset unseen)")
    parser.add_argument("--remains", default=os.environ.get("BRINDLEX_E2E_REMAINS", ""),
                        help="keep a failed case's folder, program output and a screenshot "
                             "in REMAINS/<case>/")
    args = parser.parse_args()
    if args.list:
        for path in args.cases:
            group = re.sub(r"^cases_", "", os.path.basename(path)[:-3])
            first = len(_CASES)
            load_cases(path)
            try:
                for name, _ in _CASES[first:]:
                    if re.search(args.only, name):
                        print("%s\t%s" % (group, name))
            except re.error:  # not a regular expression: no case's name
                return 0
        return 0
    if not (args.exe and args.probe and args.wine_exec):
        parser.error("--exe, --probe and --wine-exec are needed to run cases")
    # The display of this prefix, when each prefix has its own (scripts/test.sh).
    own_display = os.environ.get("BRINDLEX_DISPLAY_" + os.path.basename(
        os.environ.get("WINEPREFIX", "").rstrip("/")))
    if own_display:
        os.environ["DISPLAY"] = own_display
    for variable in ("WINEPREFIX", "DISPLAY"):
        if not os.environ.get(variable):
            print("e2e: %s is not set (scripts/test.sh provides both)" % variable)
            return 2
    for path in args.cases:
        load_cases(path)
    selected = [(n, f) for n, f in _CASES if re.search(args.only, n)]
    if args.expect_cases and len(selected) != args.expect_cases:
        print("e2e: --only selects %d cases, expected %d:\n  %s"
              % (len(selected), args.expect_cases, "\n  ".join(n for n, _ in selected)))
        return 1
    # Every build's test program opens the same port: take it machine-wide.
    lock = open(os.path.join(tempfile.gettempdir(), "brindlex-e2e-port-%d.lock" % args.port), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        print("e2e: waiting for port %d (another end-to-end run holds it)" % args.port, flush=True)
        fcntl.flock(lock, fcntl.LOCK_EX)
    for attempt in range(600):
        try:
            server = PageServer(args.port)
            break
        except OSError:  # held by a run that does not take the lock
            if attempt == 599:
                raise
            time.sleep(1)
    failures, skipped = [], []
    try:
        for name, function in selected:
            ctx = Context(args, server, name)
            started = time.monotonic()
            try:
                function(ctx)
                print("PASS %s (%.1fs)" % (name, time.monotonic() - started), flush=True)
            except Skipped as reason:
                skipped.append(name)
                print("SKIPPED %s: %s" % (name, reason), flush=True)
            except Exception as error:  # a failed case must not stop the others
                failures.append(name)
                detail = str(error) if isinstance(error, AssertionError) else traceback.format_exc()
                if args.remains:
                    detail += "\nremains of the case (folder, output, screenshot): %s" % (
                        ctx.keep_remains(args.remains))
                print("FAIL %s (%.1fs)\n%s" % (name, time.monotonic() - started, detail),
                      flush=True)
            finally:
                ctx.cleanup()
    finally:
        server.close()
    passed = len(selected) - len(failures) - len(skipped)
    print("%d of %d cases passed, %d skipped" % (passed, len(selected), len(skipped)))
    for name in failures:
        print("  failed: %s" % name)
    for name in skipped:
        print("  skipped: %s" % name)
    if failures or not selected:
        return 1
    return SKIP_CODE if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
