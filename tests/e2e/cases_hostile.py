"""Hostile input: every native function called hundreds of times with seeded bad
arguments; the program stays up, answers with the right kinds, keeps its log whole
and does not grow.

When narrowing a failure down by hand (with a display and a running prefix):

  HOSTILE_ROUNDS=400 WINEPREFIX=$PWD/build/wine/w32 python3 tests/e2e/e2e.py \\
    --cases tests/e2e/cases_hostile.py --exe build/brindlex_e2e.exe \\
    --probe build/tests/e2e/e2e_probe.exe --wine-exec scripts/wine-exec.sh

HOSTILE_ONLY=name,name narrows the calls to some functions, HOSTILE_SEED changes
them, HOSTILE_WARMUP and HOSTILE_HUGE_EVERY set the warm-up rounds and how often
1 MB strings come, and HOSTILE_DUMP=<file> keeps the program's output."""
import os
import re
import time

from e2e import case, Route

ROUNDS = int(os.environ.get("HOSTILE_ROUNDS", "400"))
LOG_HEAD = re.compile(rb"^\[(info|warning|error) \d\d:\d\d:\d\d\]")
ANY_HEAD = re.compile(rb"\[(info|warning|error) \d\d:\d\d:\d\d\]|\[console\] |\[standin\] ")


def wine_process_private(t):
    """Anonymous resident memory of the Wine process running the program in this
    prefix (Linux view), for when Wine reports no private usage."""
    name = os.path.basename(t.exe).encode()
    prefix = b"WINEPREFIX=" + os.environ["WINEPREFIX"].encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv = f.read().split(b"\0")
            if not any(a.endswith(name) for a in argv[:2]):
                continue
            # Other prefixes run a program of the same name at the same time.
            with open("/proc/%s/environ" % pid, "rb") as f:
                if prefix not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/status" % pid) as f:
                for line in f:
                    if line.startswith("RssAnon:"):
                        return int(line.split()[1]) * 1024
        except OSError:
            continue
    return 0


def private_bytes(t):
    """The program's private memory, read from outside: the probe asks Windows; where
    Wine reports nothing, the Wine process's anonymous memory stands in."""
    code, out = t.probe("memory", os.path.basename(t.exe))
    m = re.search(r"^private (\d+)", out, re.M)
    t.check(code == 0 and m, "probe memory failed (%s): %s" % (code, out))
    value = int(m.group(1)) or wine_process_private(t)
    t.check(value > 0, "no memory figure for the program")
    return value


def settled_private_bytes(t):
    """The smallest of the last three readings once they agree within 2 %: allocator
    caches come and go between readings, and a one-time step (a library the first
    download loads, a thread it leaves to finish) must land before, not inside, the
    figure. Gives up agreeing after 20 readings."""
    readings = []
    while len(readings) < 20:
        readings.append(private_bytes(t))
        last = readings[-3:]
        if len(last) == 3 and max(last) <= min(last) * 1.02:
            break
        time.sleep(0.25)
    return min(readings[-3:]), readings


def broken_lines(lines):
    """Output lines that are not whole: a log record (head, then continuation lines
    that start with no bracket), a console line or an engine line, each with no other
    line's start inside it."""
    broken = []
    in_record = False
    for raw in lines:
        if LOG_HEAD.match(raw):
            in_record = True
        elif raw.startswith(b"[console] ") or raw.startswith(b"[standin] "):
            in_record = False
        elif not (in_record and not raw.startswith(b"[")):
            broken.append(raw)
            continue
        if ANY_HEAD.search(raw, 1):
            broken.append(raw)
    return broken


def drop_marker(t, name):
    with open(os.path.join(t.tmp, name), "w") as f:
        f.write("go")


@case("seeded bad arguments to all 25 functions: kinds, whole log lines, no growth")
def _(t):
    for i in range(6):
        with open(os.path.join(t.tmp, "f%d" % i), "wb") as f:
            f.write(os.urandom(100 + i))
    routes = {"/small": Route(body=b"s" * 2000, content_type="application/octet-stream")}
    values = {"SEED": int(os.environ.get("HOSTILE_SEED", "20261208")), "ROUNDS": ROUNDS,
              "WARMUP_ROUNDS": int(os.environ.get("HOSTILE_WARMUP", max(ROUNDS // 7, 20))), "TMP": t.winpath(t.tmp), "HUGE_EVERY": int(os.environ.get("HOSTILE_HUGE_EVERY", "20")),
              "SERVER": "http://127.0.0.1:%d" % t.args.port, "SETTLE_MS": 4000,
              "ONLY": [n for n in os.environ.get("HOSTILE_ONLY", "").split(",") if n]}
    # Relative paths the page passes land in the case's folder.
    here = os.getcwd()
    os.chdir(t.tmp)
    try:
        p = t.start("hostile/campaign.html", values=values, routes=routes)
    finally:
        os.chdir(here)
    warm_calls = p.wait_console("warm", timeout=180)
    # Another process posts the work messages with garbage for payloads.
    code, out = t.probe("post", "Brindlex")
    t.eq((code, out.strip()), (0, "post: 7 posted"), "foreign posts")
    before, before_readings = settled_private_bytes(t)
    drop_marker(t, "go1")
    campaign_calls = p.wait_console("campaignCalls", timeout=400)
    p.wait_console("after", timeout=60)
    after, after_readings = settled_private_bytes(t)
    t.check(p.running(), "the program ended during the campaign\n" + p.describe())
    t.eq(len(p.log_matching(r"^\[warning .*message 202[567] with a payload this program did "
                            r"not post \(0x4[13]4[13]4[13]40\) dropped$")), 6,
         "dropped foreign posts")
    t.check(p.log_has(r"^\[info .*window moved to a monitor of 144 dpi$"), "foreign DPI change")
    drop_marker(t, "go2")
    try:
        p.wait_exit(60)
    finally:
        if os.environ.get("HOSTILE_DUMP"):
            with open(os.environ["HOSTILE_DUMP"], "wb") as f:
                f.writelines(raw + b"\n" for _, raw in p.out.snapshot())
    calls = p.value("calls")
    per_function = p.value("perFunction")
    print("hostile: %d calls (%d in warm-up, %d in the campaign, %d of close) in %s; private "
          "memory after warm-up %d, after campaign %d (%+.1f %%); readings %r / %r"
          % (calls, warm_calls, campaign_calls, per_function.get("close", 0),
             os.path.basename(os.environ.get("WINEPREFIX", "")), before, after,
             100.0 * (after - before) / before, before_readings, after_readings), flush=True)
    print("hostile: milliseconds inside each function: %r" % p.value("spentMs"), flush=True)
    t.eq(p.value("thrown"), [], "calls that threw")
    t.eq(p.value("badKinds"), [], "calls answering with the wrong kind")
    t.eq(len(per_function), 25, "functions called")
    short = {name: n for name, n in per_function.items() if n < ROUNDS}
    t.eq(short, {}, "functions called fewer than %d times" % ROUNDS)
    broken = broken_lines([raw for _, raw in p.out.snapshot()])
    t.check(not broken, "%d broken output lines, e.g.:\n%s" % (
        len(broken), "\n".join(repr(b[:200]) for b in broken[:10])))
    t.check(after <= before * 1.10, "private memory grew from %d to %d" % (before, after))
