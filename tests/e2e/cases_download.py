"""The page's "download" over HTTPS from a loopback server whose certificate comes
from a test authority trusted only inside the test's Wine prefix."""
import hashlib
import json
import os
import re
import struct
import subprocess
import sys
import time
import urllib.request

from e2e import case, Route

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")
sys.path.insert(0, TOOLS)
import download_server  # noqa: E402  (the body formula the server uses)


class TlsServer:
    """tools/download_server.py with the test certificates, its authority trusted."""

    def __init__(self, t):
        build = t.build
        certs = os.path.join(build, "download-test", "certs")
        subprocess.run([os.path.join(TOOLS, "make-test-certs.sh"), certs], check=True)
        trust = os.path.join(build, "tests", "trust_root_ca.exe")
        t.check(os.path.isfile(trust), "missing %s (build the tests first)" % trust)
        code, out = t.wine(trust, os.path.join(certs, "ca.der"))
        t.eq(code, 0, "trusting the test authority: " + out)
        ports = os.path.join(t.tmp, "ports.sh")
        self.proc = subprocess.Popen([sys.executable, os.path.join(TOOLS, "download_server.py"),
                                      "--ports-file", ports, "--certs", certs])
        for _ in range(100):
            if os.path.exists(ports):
                break
            time.sleep(0.1)
        self.ports = {}
        with open(ports) as f:
            for line in f:
                name, port = line.split()[1].split("=")
                self.ports[name] = int(port)

    def url(self, server, route):
        return "https://127.0.0.1:%d%s" % (self.ports[server], route)

    def stop(self):
        self.proc.kill()
        self.proc.wait()


INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


def internet_options(t, flags=None, proxy="", bypass=""):
    """Sets the prefix's Internet Options proxy in both forms Windows keeps (flags 2:
    fixed proxy), or removes it (flags None)."""
    if flags is None:
        values = [("\\Connections", "DefaultConnectionSettings", None, None)] + [
            ("", name, None, None) for name in ("ProxyEnable", "ProxyServer", "ProxyOverride")]
    else:
        blob = struct.pack("<III", 0x46, 1, flags)
        for text in (proxy, bypass, ""):
            blob += struct.pack("<I", len(text)) + text.encode()
        values = [("\\Connections", "DefaultConnectionSettings", "REG_BINARY",
                   (blob + bytes(32)).hex()),
                  ("", "ProxyEnable", "REG_DWORD", "1"),
                  ("", "ProxyServer", "REG_SZ", proxy),
                  ("", "ProxyOverride", "REG_SZ", bypass)]
    for sub, name, kind, data in values:
        key = INTERNET_SETTINGS + sub
        if kind is None:
            t.wine("reg", "delete", key, "/v", name, "/f")
        else:
            code, out = t.wine("reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f")
            t.eq(code, 0, "setting %s: %s" % (name, out))


def download(t, server, route, name):
    tls = TlsServer(t)
    try:
        target = os.path.join(t.tmp, name)
        p = t.run("download/download.html",
                  values={"URL": tls.url(server, route), "PATH": t.winpath(target)})
    finally:
        tls.stop()
    t.eq(p.value("returnedType"), "undefined", "type of download's result")
    return p, target


@case("download over HTTPS reports rising progress, then 1, with the file in place")
def _(t):
    size, seed = 400000, 21
    p, target = download(t, "BRINDLEX_DL_HTTPS",
                         "/body?size=%d&seed=%d&chunk=16384&delay_ms=10" % (size, seed),
                         "tls.bin")
    # The page had its answer before the first byte was reported.
    lines = p.text().splitlines()
    answered = [i for i, line in enumerate(lines) if "[console] @returnedType" in line]
    progressed = [i for i, line in enumerate(lines) if "run js function: onProgress(" in line]
    t.check(answered and progressed and answered[0] < progressed[0],
            "download answered after its progress began")
    percents = p.value("percents")
    t.check(percents and percents[-1] == 100 and percents.count(100) == 1,
            "progress should end with one 100: %r" % percents)
    t.check(all(1 <= a < b for a, b in zip(percents, percents[1:])) and percents[0] >= 1,
            "progress should rise from at least 1: %r" % percents)
    t.eq(p.value("finished"), 1, "finished value")
    with open(target, "rb") as f:
        t.eq(hashlib.md5(f.read()).hexdigest(),
             hashlib.md5(download_server.generated_body(size, seed)).hexdigest(), "file MD5")
    t.check(p.log_has(r"OnDownload.*execute c\+\+ function url: https://127\.0\.0\.1:\d+/body"
                      r"\?size=400000\S*, callback name: onProgress, finished callbak name: "
                      r"onFinished$"), "entry log line of download")


# Which statuses, redirects, certificates and lengths a download takes or refuses, and
# what each leaves on disk, the unit tests check through the same code; here the page
# hears one refusal and one success in the real program.
@case("download: an error reply leaves an existing target byte-identical and reports 0 to "
      "the page; a 200 replaces it; a 255-character target downloads")
def _(t):
    payload = download_server.generated_body(150000, 31)
    error_page = b"<html><body>Not Found</body></html>"
    routes = {
        "/e404": Route(error_page, status=404),
        "/ok": Route(payload, content_type="application/octet-stream"),
    }
    origin = "http://127.0.0.1:%d" % t.args.port
    jobs, targets = [], []
    for route in ("/e404", "/ok"):
        target = os.path.join(t.tmp, "setup%s.exe" % route.replace("/", "-"))
        with open(target, "wb") as f:
            f.write(b"previous program " + route.encode())
        jobs.append([origin + route, t.winpath(target)])
        targets.append(target)
    # Nested folders down to a name that makes the Windows path 255 characters.
    folder = t.tmp
    while len(t.winpath(folder)) < 190:
        folder = os.path.join(folder, "f" * 40)
    os.makedirs(folder)
    stem = t.winpath(os.path.join(folder, "long-"))
    long_target = os.path.join(folder, "long-" + "n" * (255 - len(stem) - 4) + ".exe")
    t.eq(len(t.winpath(long_target)), 255, "length of the long target")
    jobs.append([origin + "/ok", t.winpath(long_target)])
    digests = [hashlib.md5(open(p, "rb").read()).hexdigest() for p in targets]

    p = t.run("download/sequence.html", values={"JOBS": jobs}, routes=routes, timeout=60)
    results = p.value("results")
    t.eq([r["finished"] for r in results], [0, 1, 1], "finished values")
    t.eq(hashlib.md5(open(targets[0], "rb").read()).hexdigest(), digests[0], "target after /e404")
    t.check(p.log_has(r"^\[warning [^\n]*download not saved, the server answered status "
                      r"404: %s/e404$" % origin),
            "no warning naming the status and the URL of /e404\n" + p.describe())
    t.check(100 not in results[0]["percents"], "100 %% posted for a reply not saved: %r" % results[0])
    for path in (targets[1], long_target):
        t.eq(open(path, "rb").read(), payload, "body saved at " + path)
    t.eq(results[1]["percents"][-1], 100)
    t.check(not [n for n in os.listdir(t.tmp) if n.endswith(".part")], "a part file was left")
    t.eq(os.listdir(folder), [os.path.basename(long_target)], "files beside the long target")


@case("closing the window during HTTPS downloads ends the program with 0, at three moments")
def _(t):
    tls = TlsServer(t)
    try:
        # Just after the calls, at the first progress, half-way through.
        for moment in ("started", "progressing", "half"):
            kept = os.path.join(t.tmp, "kept.exe")
            with open(kept, "wb") as f:
                f.write(b"previous program")
            # Slow bodies: they are still arriving when the window closes. One progress
            # name is too long for its call string, so that download has no progress
            # function of the page's.
            jobs = [[tls.url("BRINDLEX_DL_HTTPS", "/body?size=4000000&seed=%d&chunk=16384"
                             "&delay_ms=20" % i),
                     t.winpath(kept if i == 0 else os.path.join(t.tmp, "b%d.bin" % i)),
                     "onProgress" if i < 2 else "p" * 200]
                    for i in range(3)]
            p = t.start("download/closing.html", values={"JOBS": jobs})
            p.wait_console(moment, timeout=30)
            code, out = t.probe("close", "Brindlex")
            t.eq(code, 0, "closing the window: " + out)
            p.wait_exit(20)
            errors = "\n".join(raw.decode("utf-8", "replace") for _, raw in p.err.snapshot())
            t.check("unhandled" not in errors.lower() and "backtrace" not in errors.lower(),
                    "closed at %s crashed:\n%s" % (moment, errors))
            stopping = re.search(r"stopping (\d+) running downloads", p.text())
            t.check(stopping, "closed at %s: downloads were not stopped\n%s"
                    % (moment, p.describe()))
            # Each stopped download ended through its own worker ("aborted by callback").
            t.eq(len(p.log_matching(r"curl_easy_perform url: https:[^\n]*, res: 42,")),
                 int(stopping.group(1)), "closed at %s: downloads aborted" % moment)
            t.check(not p.log_has(r"still running after"),
                    "closed at %s: a download outlived the wait\n%s" % (moment, p.describe()))
            t.eq(open(kept, "rb").read(), b"previous program", "target of a stopped download")
            t.check(not [n for n in os.listdir(t.tmp) if n.endswith(".part")],
                    "closed at %s left a part file" % moment)
    finally:
        tls.stop()


@case("with a proxy in the Internet Options the start page and the download go through it")
def _(t):
    tls = TlsServer(t)
    http = tls.ports["BRINDLEX_DL_HTTP"]
    # Loopback goes through the proxy too, so the start page can show in its log; the
    # proxy takes "files.test" to loopback, a name nothing else resolves. (Named by
    # another name than the start page's host: Wine's WinHTTP sends a proxy whose
    # name equals the target's a relative request.)
    internet_options(t, 2, "localhost:%d" % tls.ports["BRINDLEX_DL_PROXY"], "<-loopback>")
    url = "http://files.test:%d/body?size=120000&seed=23" % http
    target = os.path.join(t.tmp, "proxied.bin")
    try:
        p = t.run("download/download.html", values={"URL": url, "PATH": t.winpath(target)})
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        proxied = json.load(opener.open("http://127.0.0.1:%d/proxied" % http))
    finally:
        internet_options(t)
        tls.stop()
    print("  proxy log: %r" % proxied, flush=True)
    t.eq(p.value("finished"), 1, "finished value")
    t.eq(open(target, "rb").read(), download_server.generated_body(120000, 23), "file")
    start = "GET http://127.0.0.1:%d/" % t.args.port
    t.check([r for r in proxied if r.startswith(start)], "start page not in the proxy's log")
    t.check("GET " + url in proxied, "download not in the proxy's log")
    t.check(p.log_has(r"start page goes through proxy localhost:%d \(fixed proxy\)"
                      % tls.ports["BRINDLEX_DL_PROXY"]), "no log line of the start page's route")
