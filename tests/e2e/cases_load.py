"""Load: many downloads, program starts and cache writes in one run."""
import hashlib
import json
import os
import time
import urllib.parse

from e2e import case

DOWNLOADS, EXECS, CACHE = 50, 200, 3000


def blob(i):
    """The body served for download i: distinct per download, a few hundred KB."""
    seed = hashlib.sha256(b"load-%d" % i).digest()
    return (seed * ((200000 + i * 997) // len(seed) + 1))[:200000 + i * 997]


def serve_blob(handler):
    query = urllib.parse.parse_qs(urllib.parse.urlsplit(handler.path).query)
    body = blob(int(query["i"][0]))
    handler.send_response(200)
    handler.send_header("Content-Type", "application/octet-stream")
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    # In pieces, so that progress has steps to report.
    for start in range(0, len(body), 32768):
        handler.wfile.write(body[start:start + 32768])
        handler.wfile.flush()
        time.sleep(0.02)


@case("50 downloads, 200 program starts and 3000 cache writes: each callback once, files whole")
def _(t):
    values = {"DOWNLOADS": DOWNLOADS, "EXECS": EXECS, "CACHE": CACHE, "TMP": t.winpath(t.tmp),
              "SERVER": "http://127.0.0.1:%d" % t.args.port, "WAIT_MS": 150000}
    started = time.monotonic()
    p = t.run("load/load.html", values=values, routes={"/blob": serve_blob}, timeout=240)
    elapsed = time.monotonic() - started
    finished, execs = p.value("finished"), p.value("started")
    last, counts = p.value("progressLast"), p.value("progressCounts")
    bad_md5 = []
    for i in range(DOWNLOADS):
        path = os.path.join(t.tmp, "d%d.bin" % i)
        if not os.path.exists(path):
            bad_md5.append((i, "missing"))
            continue
        with open(path, "rb") as f:
            if hashlib.md5(f.read()).hexdigest() != hashlib.md5(blob(i)).hexdigest():
                bad_md5.append((i, "md5"))
    with open(t.appdata("Brindlex", "config.data"), "rb") as f:
        stored = json.loads(f.read().decode("utf-8", errors="replace"))
    missing_keys = [i for i in range(CACHE) if stored.get("load%d" % i) != "value%d" % i]
    print("load: %.1fs; %d finished callbacks, %d exec callbacks, progress calls %d in all, "
          "%d files with a bad MD5, %d cache keys missing"
          % (elapsed, sum(len(v) for v in finished.values()), sum(len(v) for v in execs.values()),
             sum(counts.values()), len(bad_md5), len(missing_keys)), flush=True)
    t.eq(p.value("cacheFalse"), 0, "setCacheData calls answering false")
    t.eq(finished, {"dlFinished%d" % i: [1] for i in range(DOWNLOADS)}, "finished callbacks")
    t.eq(execs, {"execDone%d" % i: [1] for i in range(EXECS)}, "exec callbacks")
    t.eq(last, {"dlProgress%d" % i: 100 for i in range(DOWNLOADS)}, "last progress values")
    t.eq(bad_md5, [], "downloaded files")
    t.eq(missing_keys[:10], [], "cache keys missing from config.data")
