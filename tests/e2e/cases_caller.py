"""Who may call the native functions: the service's page and frames of its origin; not
frames of another origin inside it, nor windows it opens."""
import os
import re

from e2e import case


@case("frames of another origin and opened windows are refused; the page and its own frames are not")
def _(t):
    port = t.args.port
    service = "http://127.0.0.1:%d" % port
    foreign = "http://localhost:%d" % port
    cross_marker = os.path.join(t.tmp, "cross.started")
    opened_marker = os.path.join(t.tmp, "opened.started")
    deep_marker = os.path.join(t.tmp, "deep.started")
    own_marker = os.path.join(t.tmp, "own.started")
    go = os.path.join(t.tmp, "go")
    p = t.start("caller/frames.html", values={
        "FOREIGN": foreign, "PROBE": t.winpath(t.probe_exe), "GO": t.winpath(go),
        "CROSS_MARKER": t.winpath(cross_marker), "DEEP_MARKER": t.winpath(deep_marker),
        "OPENED_MARKER": t.winpath(opened_marker), "OWN_MARKER": t.winpath(own_marker)})
    t.eq(p.wait_console("openedLocation", 30), service + "/caller/opened.html",
         "location of the opened window's page")
    with open(go, "w") as f:
        f.write("go")
    p.wait_exit(30)

    t.eq(p.value("main"), "number", "getSysBit() from the page")
    t.eq(p.value("mainAgain"), "number", "getSysBit() from the page after the refusals")
    t.eq(p.value("sameOrigin"), "number", "getSysBit() from a frame of the page's origin")
    t.eq(p.value("crossOrigin"), "undefined", "getSysBit() from a frame of another origin")
    t.eq(p.value("crossExec"), "undefined", "exec() from a frame of another origin")
    t.eq(p.value("redefineThrew"), True, "redefining location in the frame")
    t.eq(p.value("crossLocation"), foreign + "/caller/child.html", "the frame's location after its tries")
    for name in ("openedSysBit", "openedExec", "openedSetData"):
        t.eq(p.value(name), "undefined", name + " from the opened window")
    t.eq(p.value("opened"), None, "open()'s result")
    t.check(p.value("deepest", 0) > 100, "depth the deep frame reached: %r" % p.value("deepest"))
    # Past the deepest depth the call itself throws; no depth gets an answer.
    t.eq(set(p.value("deepAnswers")), {"undefined/undefined", "threw"}, "deep frame's answers")
    t.eq(p.value("detachedSysBit"), "undefined", "getSysBit() kept by a detached frame")

    # Each refusal is one error line naming the function and where the call came from;
    # nothing of the refused handlers ran.
    refused = lambda name, where: (r"^\[error \d\d:\d\d:\d\d\].*native function " + name
                                   + r" refused for " + re.escape(where) + r"$")
    for name in ("getSysBit", "exec"):
        t.eq(len(p.log_matching(refused(name, "a frame at " + foreign))), 1,
             "refusal lines of %s from the frame" % name)
    for name in ("getSysBit", "exec", "setData"):
        t.eq(len(p.log_matching(refused(name, "a page in another view, at " + service))), 1,
             "refusal lines of %s from the opened window" % name)
    # The deep frame's own question found no stack left at some depths, the detached
    # frame's found no frame: refused, never decided by the page's address.
    unanswered = len(p.log_matching(refused("(getSysBit|exec)", "a frame that did not say where it is")))
    t.check(unanswered >= 3, "refusals without an answer: %d" % unanswered)
    t.check(p.log_has(refused("getSysBit", "a frame at http://deep.test:80")),
            "deep frame refused for its origin where its question was answered")
    t.eq(len(p.log_matching(r"WkeFunction::OnGetSystemBit\(.*execute c\+\+ function$")), 3,
         "getSysBit calls that ran (page twice, its own frame once)")
    t.eq(len(p.log_matching(r"WkeFunction::OnSetData\(")), 0, "setData lines")
    # The page's own exec is the only one that reached the loop; its program ended before
    # the callback, which came after every refused exec.
    execs = p.log_matching(r"execute c\+\+ function path:")
    t.check(len(execs) == 1 and t.winpath(own_marker) in execs[0], "execs that ran: %r" % execs)
    t.eq(p.value("ownExec"), 1, "callback of the page's own exec")
    t.check(os.path.exists(own_marker), "the page's own exec did not run its program")
    t.check(not any(os.path.exists(m) for m in (cross_marker, opened_marker, deep_marker)),
            "a refused exec started its program")
