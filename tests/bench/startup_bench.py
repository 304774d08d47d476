#!/usr/bin/env python3
"""Start-up benchmark under Wine, against references measured in the same run.

1. From process start to the start page's first document ready (the page's
   openPayDialog(), which the program calls from its document-ready handler when
   started with --recharge), beside the floor: a Win32 program that only creates and
   shows a 900x600 window. Starts alternate; medians over --runs starts each.
2. The time WkeWindow::Init takes to write out, check and load a 32 MiB engine
   (engine_init_bench.exe), on a first start (no node.dll yet) and on a later one.
"""
import argparse
import fcntl
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e import START_PATH, Output, PageServer, Route  # noqa: E402

PAGE = """<!DOCTYPE html>
<html><head><title>start-up</title></head><body><script>
function openPayDialog() { console.log("document-ready"); setTimeout(close, 0); }
</script></body></html>"""


def timed_start(argv, env, marker, timeout=60.0):
    """Seconds from starting argv to its output line equal to marker; waits for its end."""
    started = time.monotonic()
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=env)
    out = Output(proc.stdout)
    seen = out.wait_until(lambda lines: [t for t, raw in lines if raw == marker], timeout)
    try:
        proc.wait(30)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    if not seen:
        raise SystemExit("%s never wrote %r" % (argv[-1], marker))
    return seen[0] - started


def median_ms(samples):
    return 1000.0 * statistics.median(samples)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True, help="the program built for the loopback origin")
    parser.add_argument("--floor", required=True)
    parser.add_argument("--init-bench", required=True)
    parser.add_argument("--wine-exec", required=True)
    parser.add_argument("--port", type=int, default=47811)
    parser.add_argument("--runs", type=int, default=10)
    args = parser.parse_args()
    env = dict(os.environ, WINEDEBUG="-all", BRINDLEX_NO_MODAL_BOXES="1")
    wine = [os.path.abspath(args.wine_exec)]

    # The end-to-end tests use the same port.
    lock = open(os.path.join(tempfile.gettempdir(), "brindlex-e2e-port-%d.lock" % args.port), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    server = PageServer(args.port)
    server.configure(None, {}, {START_PATH: Route(PAGE)})
    program, floor = [], []
    try:
        # One start of each first, not counted: it warms the prefix and the file cache.
        timed_start(wine + [args.floor], env, b"shown")
        timed_start(wine + [args.exe, "--recharge"], env, b"[console] document-ready")
        for _ in range(args.runs):
            floor.append(timed_start(wine + [args.floor], env, b"shown"))
            program.append(timed_start(wine + [args.exe, "--recharge"], env,
                                       b"[console] document-ready"))
    finally:
        server.close()
        lock.close()
    print("start-up, median of %d starts under Wine:" % args.runs)
    print("  floor (create and show a 900x600 window): %7.0f ms" % median_ms(floor))
    print("  program to first document ready:          %7.0f ms" % median_ms(program))
    print("  ratio program / floor:                     %7.2f" % (median_ms(program) / median_ms(floor)))

    inits = {"fresh": [], "steady": []}
    size = 0
    for _ in range(args.runs):
        for mode in ("fresh", "steady"):
            line = subprocess.run(wine + [args.init_bench, mode], env=env, check=True,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  timeout=120).stdout.decode()
            m = re.search(r"init \w+ ([\d.]+) ms, file (\d+) bytes, loaded 1", line)
            if not m:
                raise SystemExit("engine_init_bench: %r" % line)
            inits[mode].append(float(m.group(1)) / 1000.0)
            size = int(m.group(2))
    print("WkeWindow::Init with a %.1f MiB engine, median of %d starts:" % (size / 1048576.0, args.runs))
    print("  first start (no node.dll yet):            %7.0f ms" % median_ms(inits["fresh"]))
    print("  later start (node.dll from the last one): %7.0f ms" % median_ms(inits["steady"]))
    print("  later start / floor:                       %7.2f" % (median_ms(inits["steady"]) / median_ms(floor)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
