"""Start-up, the main window, the message loop and the window commands."""
import json
import os
import re
import shutil
import subprocess
import threading
import time

from e2e import (FINALIZED, HEAD, PROGRAM_VERSION, START_PATH, UNDEFINED, Route, case,
                 check_teardown, entry_line)

HERE = os.path.dirname(os.path.abspath(__file__))
ORIGIN_FMT = "http://127.0.0.1:%d"
UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Brindlex"
DEVTOOLS_MESSAGE = "检测到inspector.html文件，开启调试模式"
LOAD_FAIL_BOX_TEXT = "网络连接失败，请稍后再试"
WINDOW_HANDLERS = ("OnMin", "OnMax", "OnRestore", "OnClose", "OnMoveWindow", "OnExec")


def check_no_echo(t, p, handlers=WINDOW_HANDLERS):
    for handler in handlers:
        echoes = p.log_matching(r"WkeFunction::" + handler + r"\(.*\n?.*return")
        t.check(not echoes, "%s wrote a result echo: %r" % (handler, echoes))


# --- Start-up and the log ---------------------------------------------------------------

@case("the start page loads, runs its script, and close() ends the program with exit code 0")
def _(t):
    p = t.run("window/smoke.html")
    t.eq(p.value("loaded"), True, "page script ran")
    t.check(p.has_value("done"), "page finished")
    t.eq(len(t.server.requested(START_PATH)), 1, "start page requests")
    records = p.records()
    t.check(records, "the program logged nothing")
    for record in records:
        t.check(re.match(HEAD + r"\S", record), "log line without the specified head: %r" % record)
    t.check(p.log_has(entry_line("OnClose")), "no entry line for close:\n" + p.describe())
    check_no_echo(t, p)
    check_teardown(t, p)
    t.check(not p.log_has(re.escape(DEVTOOLS_MESSAGE)), "devtools switched on without their page")


# How the command line is read is the table of tests/unit/command_line_test.cpp; this
# start checks that the program acts on it.
@case("with --recharge every document ready calls openPayDialog()")
def _(t):
    p = t.run("window/recharge_twice.html", ["--recharge"])
    start = ORIGIN_FMT % t.args.port + START_PATH
    loaded = [v for k, v in p.values() if k == "loaded"]
    t.eq(loaded, [start, start + "?second"], "documents loaded")
    t.eq([v for k, v in p.values() if k == "pay"], loaded, "openPayDialog() calls")


@case("the window stays hidden until the document is ready, then shows")
def _(t):
    page = os.path.join(HERE, "pages", "window", "smoke.html")
    with open(page, "rb") as f:
        body = f.read()
    asked, release = threading.Event(), threading.Event()
    held = Route(body, release=release)

    def serve(handler):
        asked.set()
        held(handler)
    watcher = t.watch()
    p = t.start(None, routes={START_PATH: serve})
    try:
        hidden = watcher.wait_state(lambda s: not s["visible"], 15, "the window, hidden")
        t.check(asked.wait(20), "the start page was never requested:\n" + p.describe())
        # The page is held back: no document, so no window shown.
        before = watcher.states()
        t.check(not any(s and s["visible"] for _, s in before),
                "shown while the start page was held back:\n" + watcher.describe())
    finally:
        release.set()
    watcher.wait_state(lambda s: s["visible"], 15, "the window, shown")
    p.wait_exit(30)
    t.eq(len(t.server.requested(START_PATH)), 1, "start page requests")
    w, h = hidden["rect"][2] - hidden["rect"][0], hidden["rect"][3] - hidden["rect"][1]
    t.eq((w, h), (900, 600), "window size")


# --- The uninstall entry's version -------------------------------------------------------

def display_version_case(description, stored, expected):
    @case("uninstall DisplayVersion %s" % description)
    def _(t):
        t.reg_delete_key(UNINSTALL_KEY)
        if stored is not None:
            t.reg_set(UNINSTALL_KEY, "DisplayVersion", stored)
            t.eq(t.reg_get(UNINSTALL_KEY, "DisplayVersion"), stored, "value before the run")
        try:
            p = t.run("window/smoke.html")
            t.check(p.has_value("done"), "page finished")
            t.eq(t.reg_get(UNINSTALL_KEY, "DisplayVersion"), expected(), "value after the run")
        finally:
            t.reg_delete_key(UNINSTALL_KEY)


display_version_case("absent: nothing written", None, lambda: None)
display_version_case("equal: left as it is", PROGRAM_VERSION, lambda: PROGRAM_VERSION)
# Any other text is replaced; the program's version cut short is the one most easily
# taken for equal.
display_version_case("shorter: replaced", PROGRAM_VERSION[:-1], lambda: PROGRAM_VERSION)


# --- Developer tools ----------------------------------------------------------------------

@case("inspector\\inspector.html beside the program switches the developer tools on")
def _(t):
    folder = os.path.join(t.tmp, "app")
    os.makedirs(os.path.join(folder, "inspector"))
    exe = os.path.join(folder, os.path.basename(t.exe))
    shutil.copy2(t.exe, exe)
    with open(os.path.join(folder, "inspector", "inspector.html"), "w") as f:
        f.write("<html></html>")
    p = t.run("window/smoke.html", exe=exe)
    t.eq(len(p.log_matching(re.escape(DEVTOOLS_MESSAGE))), 1, "detection log lines")
    setting = "file:///" + t.winpath(os.path.join(folder, "inspector", "inspector.html"))
    configs = [line for line in p.text().splitlines() if "showDevTools" in line]
    t.check(configs and all(setting in line for line in configs),
            "engine did not get showDevTools = %s: %r" % (setting, configs))


# --- Load failures ------------------------------------------------------------------------

def load_fail_case(description, fail_path, fatal):
    @case("a load failure of %s %s" % (description, "shows the box and exits 0" if fatal else "is only logged"))
    def _(t):
        origin = ORIGIN_FMT % t.args.port
        url = origin + fail_path
        watcher = t.watch(dismiss_box=True)
        p = t.start("window/load_fail.html",
                    values={"FAIL_SRC": url, "FATAL": fatal},
                    routes={fail_path: Route(b"missing", status=404, content_type="text/plain")},
                    env={"BRINDLEX_NO_MODAL_BOXES": None})
        p.wait_exit(30)
        t.check(p.log_has(r"^" + HEAD + r".*wke load url fail: " + re.escape(url) + r"$"),
                "no load failure line for %s:\n%s" % (url, p.describe()))
        boxes = watcher.boxes()
        if fatal:
            t.eq(boxes, [("Brindlex", LOAD_FAIL_BOX_TEXT)], "message box")
        else:
            t.eq(boxes, [], "message boxes")
            t.check(p.has_value("done"), "page did not finish")


load_fail_case("a URL with tool/brindlex in its path", "/tool/brindlex/missing.js", True)
load_fail_case("a URL with tool/brindlex in its query", "/assets/missing.js?from=tool/brindlex", True)
load_fail_case("a URL with toolv2/brindlex", "/toolv2/brindlex/missing.js", False)
load_fail_case("another URL", "/assets/missing.js", False)


@case("a failure of the start page itself shows the box and exits 0")
def _(t):
    watcher = t.watch(dismiss_box=True)
    p = t.start(None, routes={START_PATH: Route(b"gone", status=404, content_type="text/plain")},
                env={"BRINDLEX_NO_MODAL_BOXES": None})
    p.wait_exit(30)
    url = ORIGIN_FMT % t.args.port + START_PATH
    t.check(p.log_has(r"^" + HEAD + r".*wke load url fail: " + re.escape(url) + r"$"),
            "no load failure line for the start page:\n" + p.describe())
    t.eq(watcher.boxes(), [("Brindlex", LOAD_FAIL_BOX_TEXT)], "message boxes")
    t.check(not any(s and s["visible"] for _, s in watcher.states()), "the window was shown")
    t.check(not p.log_has(re.escape(FINALIZED)), "the fatal exit ran the loop's tear-down")


@case("with the service unreachable the program ends by itself; a later start works")
def _(t):
    t.server.down()
    try:
        p = t.start(None)
        p.wait_exit(30)
    finally:
        t.server.up()
    url = ORIGIN_FMT % t.args.port + START_PATH
    t.check(p.log_has(r"^" + HEAD + r".*wke load url fail: " + re.escape(url) + r"$"),
            "no load failure line for the start page:\n" + p.describe())
    t.check(p.log_has(r"modal box: Brindlex: " + re.escape(LOAD_FAIL_BOX_TEXT) + r"$"),
            "no network failure box:\n" + p.describe())
    again = t.run("window/smoke.html")
    t.eq(again.value("loaded"), True, "page of the start after the service came back")
    t.check(again.has_value("done"), "page finished")


# --- Window commands ----------------------------------------------------------------------

@case("minimize, restore, maximize and moveWindow act on the window; no result echo")
def _(t):
    watcher = t.watch()
    p = t.start("window/commands.html")

    # Each step's state differs from the one before it, so it is looked for among the
    # states the watcher reported after the previous step's.
    matched = [0]

    def after(step):
        line = b'[console] @step "' + step.encode() + b'"'
        reached = p.out.wait_until(lambda lines: any(raw == line for _, raw in lines), 20)
        t.check(reached, "page never reached %s:\n%s" % (step, p.describe()))

    def state_after(step, predicate, what):
        after(step)
        def seen(_):
            return [(i, s) for i, (_, s) in enumerate(watcher.states())
                    if i >= matched[0] and s and predicate(s)]
        found = watcher.program.out.wait_until(seen, 10)
        t.check(found, "after %s never saw %s; states:\n%s" % (step, what, watcher.describe()))
        matched[0] = found[0][0] + 1
        return found[0][1]

    shown = state_after("shown", lambda s: s["visible"] and not s["iconic"], "a visible window")
    left, top, right, bottom = shown["rect"]
    normal = lambda s: s["visible"] and not s["iconic"] and not s["zoomed"]
    state_after("minimize", lambda s: s["iconic"], "a minimized window")
    # Restoring passes through states in between (shown, not minimized, still at the
    # minimized position); wait for the restored rectangle itself.
    restored = lambda s: normal(s) and s["rect"] == shown["rect"]
    state_after("restore", restored, "the window restored to %s" % (shown["rect"],))
    state_after("maximize", lambda s: s["zoomed"] and not s["iconic"], "a maximized window")
    state_after("restore2", restored, "the window restored to %s" % (shown["rect"],))
    moved = (left + 10, top - 5, right + 10, bottom - 5)
    state_after("move1", lambda s: s["rect"] == moved, "the window moved by (10, -5)")
    moved = (left + 20, top - 10, right + 20, bottom - 10)
    state_after("move2", lambda s: s["rect"] == moved, "the window moved by (20, -10)")
    after("move0")
    p.wait_exit(20)
    # The window's end comes after moveWindow(0, 0) returned: every state the watcher saw
    # from move2's on, up to the end, is where move2 left the window.
    def until_end(_):
        states = [s for _, s in watcher.states()][matched[0] - 1:]
        return states[:states.index(None)] if None in states else []
    t.check(watcher.program.out.wait_until(until_end, 10),
            "the window's end never seen:\n" + watcher.describe())
    t.eq({s["rect"] for s in until_end(None)}, {moved}, "rectangles after moveWindow(0, 0)")
    for name in ("minimize", "restore", "maximize", "restore2", "move1", "move2", "move0"):
        t.eq(p.value(name), UNDEFINED, "result of " + name)
    for handler, count in (("OnMin", 1), ("OnRestore", 2), ("OnMax", 1), ("OnMoveWindow", 3),
                           ("OnClose", 1)):
        t.eq(len(p.log_matching(entry_line(handler))), count, "entry lines of " + handler)
    check_no_echo(t, p)


@case("exec reports 1 at once with wait 0, after the end with wait 1, and 0 for a bad path")
def _(t):
    marker_nowait = os.path.join(t.tmp, "nowait.done")
    marker_wait = os.path.join(t.tmp, "wait.done")
    go_nowait = os.path.join(t.tmp, "nowait.go")  # the wait-0 program ends only after it
    bad_path = t.winpath(os.path.join(t.tmp, "missing", "nothing.exe"))
    # The shell tells the user it cannot open the path, in a box of its own (its title
    # depends on the language).
    watcher = t.watch(dismiss_box=True, box_titles=["*"])
    p = t.start("window/exec.html", values={
        "PROBE": t.winpath(t.probe_exe), "MARKER_NOWAIT": t.winpath(marker_nowait),
        "MARKER_WAIT": t.winpath(marker_wait), "BAD_PATH": bad_path,
        "GO_NOWAIT": t.winpath(go_nowait)},
        env={"BRINDLEX_NO_MODAL_BOXES": None})
    t.eq(p.wait_console("nowait", 20), 1, "wait 0 callback")
    t.check(not os.path.exists(marker_nowait), "wait 0 reported after the program ended")
    with open(go_nowait, "w") as f:
        f.write("go")
    t.eq(p.wait_console("wait", 20), 1, "wait 1 callback")
    t.check(os.path.exists(marker_wait), "wait 1 reported before the program ended")
    t.eq(p.wait_console("bad", 20), 0, "callback for a path that cannot be opened")
    t.eq(len(watcher.boxes()), 1, "boxes shown: %r" % watcher.boxes())
    p.wait_exit(20)
    for name in ("nowait-called", "wait-called", "bad-called"):
        t.eq(p.value(name), UNDEFINED, "exec's own result (%s)" % name)
    probe = re.escape(t.winpath(t.probe_exe))
    t.check(p.log_has(r"^" + HEAD + r".*execute c\+\+ function path: " + probe
                      + r", arg: sleep 1200 "), "no exec log line:\n" + p.describe())
    t.check(p.log_has(r"execute c\+\+ function path: " + re.escape(bad_path) + r", arg: x$"),
            "no exec log line for the bad path")
    for call in ("onNoWait(1)", "onWait(1)", "onBad(0)"):
        t.check(p.log_has(r"wke run js function: " + re.escape(call) + r"$"), "not run: " + call)
    t.check(not p.log_matching(r"WkeFunction::OnExec\("), "exec's handler wrote a log line")
    deadline = time.monotonic() + 10
    while not os.path.exists(marker_nowait) and time.monotonic() < deadline:
        time.sleep(0.2)
    t.check(os.path.exists(marker_nowait), "the program started with wait 0 never ran")


def slow_body(body, chunk=8192, pause=0.03):
    """A route that sends body in pieces, so that a download reports progress."""
    def serve(handler):
        handler.send_response(200)
        handler.send_header("Content-Type", "application/octet-stream")
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        for at in range(0, len(body), chunk):
            handler.wfile.write(body[at:at + chunk])
            handler.wfile.flush()
            time.sleep(pause)
    return serve


@case("with a modal box up, downloads and exec still run and every callback comes once")
def _(t):
    origin = ORIGIN_FMT % t.args.port
    bodies = [os.urandom(96 * 1024 + i * 1000) for i in range(3)]
    routes = {"/nested/%d.bin" % i: slow_body(body) for i, body in enumerate(bodies)}
    targets = [os.path.join(t.tmp, "nested%d.bin" % i) for i in range(3)]
    marker, marker_nowait = os.path.join(t.tmp, "waited.done"), os.path.join(t.tmp, "nowait.done")
    watcher = t.watch(box_titles=["alert"])
    p = t.start("window/nested_loop.html", routes=routes, env={"BRINDLEX_NO_MODAL_BOXES": None},
                values={"DOWNLOADS": [[origin + "/nested/%d.bin" % i, t.winpath(target)]
                                      for i, target in enumerate(targets)],
                        "PROBE": t.winpath(t.probe_exe), "MARKER": t.winpath(marker),
                        "MARKER_NOWAIT": t.winpath(marker_nowait)})
    expected = {"finished0", "finished1", "finished2", "ranProbe", "ranNoWait"}

    def callbacks(lines):
        return [line for line in p.console() if line.startswith("@cb ")]

    def ended(_):
        return expected <= {json.loads(line[4:])[0] for line in callbacks(None)}
    t.check(p.out.wait_until(ended, 40), "callbacks missing while the box was up:\n" + p.describe())
    t.check(p.running() and not p.has_value("afterAlert"), "the box was gone before the callbacks")
    t.eq(watcher.boxes(), [("alert", "held")], "boxes up")
    dismisser = t.watch(dismiss_box=True, box_titles=["alert"])
    p.wait_exit(30)
    dismisser.stop()
    t.eq(p.value("afterAlert"), True, "the page went on after the box")

    calls = [json.loads(line[4:]) for line in callbacks(None)]
    t.eq([c for c in calls if not c[2]], [], "callbacks that came with the box gone")
    by_name = {}
    for name, value, _ in calls:
        by_name.setdefault(name, []).append(value)
    for i, (target, body) in enumerate(zip(targets, bodies)):
        t.eq(by_name.get("finished%d" % i), [1], "finished callbacks of download %d" % i)
        percents = by_name.get("progress%d" % i, [])
        t.check(len(percents) >= 2 and percents[-1] == 100 and
                all(1 <= a < b for a, b in zip(percents, percents[1:])),
                "progress of download %d should rise once to 100: %r" % (i, percents))
        with open(target, "rb") as f:
            t.check(f.read() == body, "download %d is not whole" % i)
    t.eq((by_name.get("ranProbe"), by_name.get("ranNoWait")), ([1], [1]), "exec callbacks")
    t.check(os.path.exists(marker), "the waited program never ran")
    runs = p.log_matching(r"wke run js function: ")
    t.eq(len(runs), len(calls), "call strings run (one per callback seen)")
    t.check(not p.log_has(r"call dropped"), "a call string was dropped")
    check_teardown(t, p)


@case("close() ends the loop; a script call queued behind it is not run")
def _(t):
    marker = os.path.join(t.tmp, "late.done")
    p = t.start("window/close_queue.html",
                values={"PROBE": t.winpath(t.probe_exe), "MARKER": t.winpath(marker)})
    p.wait_console("after-busy", 20)
    t.check(os.path.exists(marker), "the started program had not ended while the page was busy")
    p.wait_exit(15)
    t.check(not p.has_value("late"), "the queued callback ran")
    t.check(not p.log_has(r"wke run js function: late"), "the queued call string was run")
    t.check(p.log_has(entry_line("OnClose")), "no entry line for close")
    check_no_echo(t, p)
    check_teardown(t, p)


@case("an exec callback name too long for its call string is logged and never called")
def _(t):
    go = os.path.join(t.tmp, "go")
    p = t.start("window/long_callback.html",
                values={"PROBE": t.winpath(t.probe_exe), "GO": t.winpath(go)})
    p.wait_log(r"callback name too long for its call string", 20)
    open(go, "w").close()
    p.wait_exit(30)
    t.eq(p.value("short"), 1, "callback with a normal name")
    t.check(not p.has_value("long"), "the over-long callback was called")
    t.check(p.log_has(r"^\[error \d\d:\d\d:\d\d\].*callback name too long"),
            "no error line for the over-long name:\n" + p.describe())
    t.check(not p.log_has(r"wke run js function: cbxx"), "the over-long call string was run")


# --- Dragging by the top band -------------------------------------------------------------

def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True, timeout=15)
    time.sleep(0.15)


def drag(x, y, dx, dy):
    """Presses at (x, y), moves by (dx, dy) in steps, then one pixel further right, and
    releases. A hook may see each move with the cursor still at the step before, so the
    window ends up moved by (dx, dy), or by (dx + 1, dy) when it sees moves at once."""
    xdotool("mousemove", x, y)
    xdotool("mousedown", 1)
    for i in range(1, 5):
        xdotool("mousemove", x + dx * i // 4, y + dy * i // 4)
    xdotool("mousemove", x + dx + 1, y + dy)
    xdotool("mouseup", 1)


def wait_dragged(t, watcher, since, at, dx, dy, what):
    """Waits, from watcher state since on, until the window at `at` is dragged by (dx, dy).
    The hook sees events in order: this drag shows it saw every press and move before it,
    and each state on the way must lie on this drag's own path, so none of those moved
    the window. Returns the index and the position of the dragged state."""
    # The drag that left the window at `at` may still take its last pixel right.
    starts = ((at[0], at[1]), (at[0] + 1, at[1]))
    steps = [(dx * i // 4, dy * i // 4) for i in range(5)] + [(dx + 1, dy)]
    path = {(x + sx, y + sy) for x, y in starts for sx, sy in steps}
    ends = {(x + sx, y + sy) for x, y in starts for sx, sy in steps[-2:]}

    def dragged(_):
        states = watcher.states()
        return [(i, s["rect"][:2]) for i, (_, s) in enumerate(states)
                if i >= since and s and s["rect"][:2] in ends]
    found = watcher.program.out.wait_until(dragged, 10)
    t.check(found, "never saw %s:\n%s" % (what, watcher.describe()))
    index, position = found[0]
    off = [s["rect"][:2] for _, s in watcher.states()[since:index]
           if s and s["rect"][:2] not in path]
    t.eq(off, [], "positions off the path of %s" % what)
    return index, position


@case("dragging the top band moves the window with the mouse; below it nothing moves")
def _(t):
    watcher = t.watch()
    p = t.start("window/stay.html")
    p.wait_console("ready")
    watcher.wait_state(lambda s: s["visible"], 15, "a visible window")
    code, out = t.probe("activate", "Brindlex")
    t.check("activate: foreground" in out, "window not in the foreground: " + out)
    since = len(watcher.states()) - 1
    at = watcher.current()["rect"][:2]
    # 119 px below the top edge is inside the band.
    drag(at[0] + 300, at[1] + 119, 90, 40)
    since, at = wait_dragged(t, watcher, since, at, 90, 40, "the window dragged by (90, 40)")
    # 120 px below it is not. Moves without a press, and moves after the release, leave
    # the window alone; the next drag in the band shows the hook saw them all.
    drag(at[0] + 300, at[1] + 120, 50, 50)
    xdotool("mousemove", at[0] + 200, at[1] + 10)
    xdotool("mousemove", at[0] + 260, at[1] + 70)
    drag(at[0] + 300, at[1] + 100, 90, 40)
    since, at = wait_dragged(t, watcher, since, at, 90, 40,
                             "a drag in the band after a press below it and moves without a press")
    # A press in the band while another window is in the foreground starts no drag.
    other = t.start_windows_program(t.probe_exe, ["window", "Other", "8000"])
    other.wait_log(r"^window: foreground$", 10)
    watcher.wait_state(lambda s: s["visible"] and not s["fg"], 5, "the window in the background")
    drag(at[0] + 300, at[1] + 40, 60, 30)
    other.kill()
    code, out = t.probe("activate", "Brindlex")
    t.check("activate: foreground" in out, "window not in the foreground again: " + out)
    drag(at[0] + 300, at[1] + 100, 90, 40)
    wait_dragged(t, watcher, since, at, 90, 40, "a drag in the band after a press in the background")
    t.check(p.running(), "the program ended")
    code, out = t.probe("close", "Brindlex")
    p.wait_exit(15)


# --- The monitor's scale ------------------------------------------------------------------

# Where Wine takes the screen's logical pixels (DPI) from, at each program start.
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"


def screenshot(t, rect, name):
    """The screen's rectangle (l, t, r, b) as a PNG beside the program; its path."""
    path = os.path.join(os.path.dirname(t.exe), name)
    geometry = "%dx%d%+d%+d" % (rect[2] - rect[0], rect[3] - rect[1], rect[0], rect[1])
    subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", path],
                   check=True, timeout=30)
    return path


def all_white(path, crop):
    """Whether every pixel of the image's region crop ("WxH+X+Y") is white."""
    out = subprocess.run(["convert", path, "-crop", crop, "-format", "%[fx:minima]", "info:"],
                         check=True, timeout=30, stdout=subprocess.PIPE).stdout
    return out.strip() == b"1"


@case("at 96, 144 and 192 dpi the window, the engine's zoom and the drag band follow the scale")
def _(t):
    before = t.reg_get(DESKTOP_KEY, "LogPixels")
    try:
        for dpi in (96, 144, 192):
            scale, at = dpi / 96, " at %d dpi" % dpi
            t.reg_set(DESKTOP_KEY, "LogPixels", str(dpi), kind="REG_DWORD")
            watcher = t.watch()
            p = t.start("window/stay.html")
            t.eq(p.wait_console("viewport"), [900, 600, scale],
                 "page innerWidth, innerHeight, devicePixelRatio" + at)
            zooms = [line for line in p.text().splitlines() if "wkeSetZoomFactor" in line]
            t.eq(zooms, ["[standin] wkeSetZoomFactor: %.2f" % scale], "engine zoom" + at)
            state = watcher.wait_state(lambda s: s["visible"], 15, "a visible window")
            left, top, right, bottom = state["rect"]
            width, height = right - left, bottom - top
            t.eq((width, height), (900 * dpi // 96, 600 * dpi // 96), "window size" + at)
            if dpi == 144:
                # The page is drawn up to the window's bottom and right edges, once painted.
                # A window paints before its timers run: the page's second tick after the
                # window was shown comes after the paint the first one asked for.
                edges = ("%dx1+0+%d" % (width, height - 1), "1x%d+%d+0" % (height, width - 1))
                ticks = p.value("tick", 0) + 2
                t.check(p.out.wait_until(lambda _: p.value("tick", 0) >= ticks, 20),
                        "the page stopped ticking:\n" + p.describe())
                shot = screenshot(t, state["rect"], "e2e-window-144dpi-%s.png" % t.prefix)
                filled = all(all_white(shot, crop) for crop in edges)
                print("screenshot at 144 dpi: " + shot)
                t.check(filled, "page not drawn to the window's edges %s in %s" % (edges, shot))
            code, out = t.probe("activate", "Brindlex")
            t.check("activate: foreground" in out, "window not in the foreground: " + out)
            # 120 px times the scale below the top edge is outside the band, 100 px inside.
            x = left + 300 * dpi // 96
            since = len(watcher.states()) - 1
            drag(x, top + 120 * dpi // 96, 50, 50)
            drag(x, top + 100 * dpi // 96, 90, 40)
            wait_dragged(t, watcher, since, (left, top), 90, 40,
                         "the window dragged by (90, 40) after a press below the band" + at)
            t.probe("close", "Brindlex")
            p.wait_exit(15)
            watcher.stop()
    finally:
        if before is None:
            t.wine("reg", "delete", DESKTOP_KEY, "/v", "LogPixels", "/f")
        else:
            t.reg_set(DESKTOP_KEY, "LogPixels", str(int(before, 0)), kind="REG_DWORD")
