"""Single instance: many starts at the same moment leave exactly one program; a start
while it runs changes nothing; once it ended, a start runs normally."""
import os
import threading
import time

from e2e import PAGES, START_PATH, Route, case, check_teardown, entry_line, render_page

STARTS = 20


@case("20 starts at the same moment: one program runs the page, the others exit 0 at once")
def _(t):
    # The start page is held back until every start but one has ended: those cannot
    # have waited for the page or the window of the one that runs.
    release = threading.Event()
    page = Route(render_page(os.path.join(PAGES, "instance", "stay.html"), {}), release=release)
    try:
        programs = [t.start(None, routes={START_PATH: page}) for _ in range(STARTS)]
        deadline = time.monotonic() + 120
        while sum(p.running() for p in programs) > 1 and time.monotonic() < deadline:
            time.sleep(0.05)
        quitters = [p for p in programs if not p.running()]
        survivors = [p for p in programs if p.running()]
        t.eq(len(survivors), 1, "programs still running while the start page was held back")
    finally:
        release.set()
    survivor = survivors[0]
    for p in quitters:
        p.wait_exit(5)  # exit code 0
        t.eq(p.records(), [], "log lines of a start that found the program running")
        t.eq(p.console(), [], "console lines of a start that found the program running")
    survivor.wait_console("run", 60)
    t.check(survivor.running(), "the remaining program ended")
    # The page ran once, in the survivor, and the service was asked for it once.
    runs = [line for p in programs for line in p.console() if line.startswith("@run ")]
    t.eq(len(runs), 1, "page runs: %r" % runs)
    t.eq(len(t.server.requested(START_PATH)), 1, "start page requests")

    # A start while the program is up with its page ends, quiet, and the program and
    # its page go on.
    ticks = survivor.wait_console("tick")
    late = t.start("instance/stay.html")
    late.wait_exit(15)
    t.eq(late.records(), [], "log lines of the late start")
    t.eq(late.console(), [], "console lines of the late start")
    t.eq(len(t.server.requested(START_PATH)), 0, "start page requests of the late start")
    survivor.out.wait_until(lambda _: survivor.value("tick") > ticks + 2, 10)
    t.check(survivor.value("tick") > ticks + 2, "the program's page stopped ticking")

    # Closing it the usual way (system menu "Close") ends it with exit code 0.
    code, out = t.probe("close", "Brindlex")
    t.eq(code, 0, "probe close: " + out)
    survivor.wait_exit(15)
    t.check(not survivor.has_value("done"), "the page closed itself")
    t.check(not survivor.log_has(entry_line("OnClose")), "closed through the page's close()")
    check_teardown(t, survivor)
    again = t.run("window/smoke.html")
    t.eq(again.value("loaded"), True, "page of a start after the program ended")
