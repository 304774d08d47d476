#!/usr/bin/env python3
"""The bridge console, the SDK example, the reference's example and the failure knobs in
headless Chromium on the stand-in (sdk/brindlex-mock.js); the console's screenshot lands
in the build folder.

usage: mock_browser.py <source root> <build folder> <tsc>
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Browser, serve  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

GLOBALS = "return Object.getOwnPropertyNames(window).concat(Object.getOwnPropertySymbols(window).map(String));"


def expect(actual, expected, what):
    if actual != expected:
        raise AssertionError("%s: got %r, expected %r" % (what, actual, expected))


TARGET, MOVED = "C:\\users\\Public\\brindlex-demo.txt", "C:\\users\\Public\\moved.txt"
# Rows pressed in order: the function, its inputs (None keeps the console's), what the
# row shows (for exec and download: once the finished callback has run).
ROWS = (
    ("setData", ("demo", "hello"), "boolean true"), ("getData", ("demo",), '"hello"'),
    ("setCacheData", (None, "kept"), "boolean true"), ("hasRegisterKey", (), "boolean true"),
    ("getFullPath", ("%APPDATA%\\Brindlex %NOPE%",),
     '"C:\\\\Users\\\\author\\\\AppData\\\\Roaming\\\\Brindlex %NOPE%"'),
    # A 32-bit program on 64-bit Windows reads the 32-bit system folder's file.
    ("getFileMd5", (), '"%s"' % hashlib.md5(b"the 32-bit kernel library").hexdigest()),
    ("moveWindow", (20, 10), "undefined"), ("exec", (), "callback 1"),
    ("download", (None, TARGET), "callback 1"), ("fileExists", (TARGET,), "boolean true"),
    ("moveFile", (TARGET, MOVED), "boolean true"), ("removeFile", (MOVED,), "boolean true"),
    ("getSysBit", (), "number 64"),
    ("getDeviceNumber", (), '"5f0c3a9e12d84b7c9e0a6b1d2c3e4f50"'), ("getSysVersion", (), '"win10"'),
    ("getModuleFilePath", (), '"C:\\\\Program Files (x86)\\\\Brindlex\\\\brindlex.exe"'),
    ("getModuleFileVersion", (), '"1.0.0.64"'), ("getCid", (), '"demo-cid"'),
    ("getCacheData", (), '"kept"'))


def press(browser, name, values, shown):
    """Fills the row's inputs, presses Call, and waits for the row to show shown."""
    for i, value in enumerate(values):
        if value is not None:
            field = browser.driver.find_element(By.ID, "a-%s-%d" % (name, i))
            field.clear()
            field.send_keys(str(value))
    browser.driver.find_element(By.ID, "b-" + name).click()
    got = browser.wait_for("var s = document.getElementById('r-%s').textContent;"
                           "return s == %s ? s : null" % (name, json.dumps(shown)), 5)
    expect(got or browser.driver.find_element(By.ID, "r-" + name).text, shown, "row " + name)


def check_console(browser, origin, shot):
    driver = browser.driver
    driver.get(origin + "/toolv2/brindlex")
    # The driver's own scripts leave globals of their own: both counts run after one.
    browser.wait_for("return document.readyState == 'complete'", 20)
    plain = set(driver.execute_script(GLOBALS))
    driver.get(origin + "/toolv2/brindlex?mock")
    # A loaded machine can hand the page back before its stand-in has run.
    browser.wait_for("return document.readyState == 'complete' && "
                     "!!window[Symbol.for('brindlex.mock')]", 20)
    added = set(driver.execute_script(GLOBALS)) - plain
    # A browser window has a close() of its own, which the stand-in replaces.
    with open(os.path.join(ROOT, "sdk", "brindlex.d.ts"), encoding="utf-8") as f:
        natives = set(re.findall(r"^declare function (\w+)", f.read(), re.M))
    expect(sorted(added), sorted(natives - {"close"} | {"Symbol(brindlex.mock)"}),
           "globals the stand-in adds")
    driver.execute_script("localStorage.clear();")
    for name, values, shown in ROWS:
        press(browser, name, values, shown)
    log = driver.execute_script("""
        return window[Symbol.for('brindlex.mock')].calls.map(function (c) {
          return c.type == 'call' ? c.name + '=' + JSON.stringify(c.result) : c.name + '(' + c.value + ')';
        });""")
    expect([entry for entry in log if "ownload" in entry],
           ["download=undefined", "onDownloadProgress(100)", "onDownloadDone(1)"], "download's calls")
    expect(len(log), len(ROWS) + 3, "calls and callbacks logged: %r" % log)
    driver.set_window_size(1280, 1200)
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(shot)
    expect(driver.execute_script("close(); var mock = window[Symbol.for('brindlex.mock')];"
                                 "return [mock.calls[mock.calls.length - 1].name, mock.window.closed]"),
           ["close", True], "close() of the stand-in")
    # config.data outlives the page; the memory store does not.
    driver.refresh()
    press(browser, "getCacheData", (), '"kept"')
    press(browser, "getData", ("demo",), "undefined")


def check_example(browser, origin):
    driver = browser.driver
    driver.get(origin + "/sdk/example/index.html?mock")
    facts = browser.wait_for("return document.getElementById('facts').textContent")
    expect("win10, 64-bit" in facts and "example-cid" in facts, True, "facts shown: %r" % facts)
    expect(driver.find_element(By.ID, "status").text, "The runtime is missing.", "first status")
    driver.find_element(By.ID, "install").click()
    # Downloaded, checked, put in place and started on the stand-in.
    status = browser.wait_for("var s = document.getElementById('status').textContent;"
                              "return s.indexOf('...') < 0 && s", 15)
    expect(status, "The installer ended without installing.", "status after the install")
    expect(driver.execute_script("return document.getElementById('progress').value"), 100, "progress")


def check_readme_example(browser, origin):
    """The reference's example runs as printed: its download arrives, and the call log
    shows the calls and callbacks in order."""
    browser.driver.get(origin + "/sdk/readme-example.html")
    log = browser.wait_for("var calls = window[Symbol.for('brindlex.mock')].calls;"
                           "return calls.length == 4 && calls.map(function (c) {"
                           "  return c.name + ' ' + (c.type == 'call' ? c.result : c.value); });")
    expect(log, ["getFullPath C:\\Temp\\a.txt", "download undefined", "onProgress 100",
                 "onDone 1"], "call log of the reference's example")


def get(url):
    return 'download(%s, "C:/T/got", "onProgress", "onDone")' % url


def md5(text):
    return 'getFileMd5="%s"' % hashlib.md5(text.encode()).hexdigest()


def hops(n):
    """n seeded redirects one after another, then the file."""
    chain = {"http://h/%d" % i: {"status": 307, "location": "/%d" % (i + 1)} for i in range(n)}
    return dict(chain, **{"http://h/%d" % n: {"body": "end"}})


MD5, BASE, CUT = 'getFileMd5("C:/T/got")', {"files": {"C:/T/got": "old"}}, b"x" * 2000000
# The failure knobs and the redirects, one page each: its seed (text when malformed),
# the calls made one after another once the callbacks of the last are in, and what the
# page saw: the stand-in's console messages, then its calls and callbacks (progress only
# at 100 or when it fell).
KNOBS = (
    ({"cacheSaveFails": True}, ['setCacheData("k", "v")', 'getCacheData("k")'],
     ["setCacheData=false", 'getCacheData="v"']),
    (dict(BASE, downloads={"http://h/a": {"status": 404, "body": "gone"}}), [get('"http://h/a"'), MD5],
     ["download=undefined", "onDone(0)", md5("old")]),
    ({"files": {"C:/T/setup.exe": ""}, "exec": {"C:/T/setup.exe": {"result": 0}}},
     ['exec("C:/T/setup.exe", "", 1, 1, "onDone")'], ["exec=undefined", "onDone(0)"]),
    ({"files": {"C:/T/app.dll": ""}, "inUse": ["C:/T/app.dll"]},
     ['removeFile("C:/T/app.dll")', 'fileExists("C:/T/app.dll.bak")'], ["removeFile=true", "fileExists=true"]),
    ('{"system": {"bits": 32}', ["getSysBit()"], ["brindlex mock: the seed block is not JSON", "getSysBit=64"]),
    (dict(BASE, downloads=hops(10)), [get('"http://h/0"'), MD5],
     ["download=undefined", "onProgress(100)", "onDone(1)", md5("end")]),
    (dict(BASE, downloads=hops(11)), [get('"http://h/0"'), MD5],
     ["brindlex mock: download not saved, more than 10 redirects", "download=undefined", "onDone(0)", md5("old")]),
    (dict(BASE, downloads={"https://h/a": {"status": 302, "location": "http://h/a"}, "http://h/a": {}}),
     [get('"https://h/a"')], ["brindlex mock: download refused a redirect from https to http, from "
                              "https://h/a to http://h/a", "download=undefined", "onDone(0)"]),
    (dict(BASE, downloads={"http://h/a": {"status": 301, "location": "ftp://h/a"}}), [get('"http://h/a"')],
     ["brindlex mock: download refused a redirect to another scheme, from http://h/a to ftp://h/a",
      "download=undefined", "onDone(0)"]),
    # Fetched: the browser follows the server's 301; a reply cut short is asked for again.
    (BASE, [get('location.origin + "/sdk/moved"'), MD5],
     ["download=undefined", "onProgress(100)", "onDone(1)", md5("moved here")]),
    (BASE, [get('location.origin + "/sdk/cut"'), MD5],
     ["brindlex mock: download cut short (TypeError", "download=undefined", "onProgress(100)", "onDone(1)", md5(CUT.decode())]),
)
KNOB_PAGE = """<!DOCTYPE html><script type="application/json" id="brindlex-mock-seed">%s</script>
<script>var warned = []; console.error = console.warn = function (m) {
  warned.push(String(m).split(": ").slice(0, 2).join(": ")); };
function onProgress(percent) {} function onDone(ok) {}</script><script src="/sdk/brindlex-mock.js"></script>"""


def check_knobs(browser, origin):
    for i, (seed, calls, shown) in enumerate(KNOBS):
        browser.driver.get(origin + "/sdk/knob/%d" % i)
        browser.wait_for("return !!window[Symbol.for('brindlex.mock')]")
        seen = browser.driver.execute_async_script("""
            var calls = arguments[0], done = arguments[1], mock = window[Symbol.for('brindlex.mock')], last = 0;
            (function next() {
              if (calls.length) { eval(calls.shift()); return mock.idle().then(next); }
              done(warned.concat(mock.calls.map(function (c) {
                if (c.type == 'call') return c.name + '=' + JSON.stringify(c.result);
                if (c.name != 'onProgress' || c.value == 100) return c.name + '(' + c.value + ')';
                var fell = c.value <= last; last = c.value;
                return fell ? 'onProgress fell to ' + c.value : '';
              })).filter(String));
            })();""", calls)
        expect(seen, shown, "stand-in seeded with %s" % seed)


def knob_page(path):
    seed = KNOBS[int(path.rsplit("/", 1)[1])][0]
    return (KNOB_PAGE % (seed if isinstance(seed, str) else json.dumps(seed))).encode()


def cut_once(path, cuts=[1]):
    """The first reply announces the whole file and ends half way; the next ones are whole."""
    if cuts and cuts.pop():
        return 200, {"Content-Length": str(len(CUT))}, CUT[:len(CUT) // 2]
    return CUT


def readme_example(path):
    with open(os.path.join(ROOT, "sdk", "README.md"), encoding="utf-8") as f:
        text = f.read().split("## Working without the program", 1)[1]
    block = text.split("```html\n", 1)[1].split("```", 1)[0]
    expect(len(block.splitlines()), 10, "lines of the reference's example")
    return block.encode("utf-8")


def main():
    global ROOT
    ROOT, build, tsc = sys.argv[1:4]
    out = os.path.join(build, "sdk")
    os.makedirs(out, exist_ok=True)
    # The stand-in type-checks against the declarations, and the script kept beside its
    # source is what the compiler makes of it now.
    built = tempfile.mkdtemp(prefix="brindlex-sdk-")
    for project in ("mock.tsconfig.json", "example"):
        subprocess.run([tsc, "-p", os.path.join(ROOT, "sdk", project), "--outDir", built,
                        "--pretty", "false"], check=True)
    kept = os.path.join(ROOT, "sdk", "brindlex-mock.js")
    expect(open(os.path.join(built, "brindlex-mock.js"), "rb").read() == open(kept, "rb").read(),
           True, kept + " is tsc's output of brindlex-mock.ts (run tsc -p sdk/mock.tsconfig.json)")
    server = serve({"/toolv2/brindlex": os.path.join(ROOT, "demo", "index.html"),
                    "/": os.path.join(ROOT, "demo"),
                    "/sdk/": os.path.join(ROOT, "sdk"),
                    "/sdk/example/page.js": os.path.join(built, "page.js"),
                    "/sdk/readme-example.html": readme_example, "/sdk/knob/": knob_page,
                    "/sdk/moved": lambda path: (301, {"Location": "/sdk/whole"}, b""),
                    "/sdk/whole": lambda path: b"moved here", "/sdk/cut": cut_once})
    browser = Browser()
    shot = os.path.join(out, "console-mock.png")
    try:
        check_console(browser, server.origin, shot)
        check_example(browser, server.origin)
        check_readme_example(browser, server.origin)
        check_knobs(browser, server.origin)
    finally:
        browser.close()
        server.shutdown()
        shutil.rmtree(built, ignore_errors=True)
    print("console, example and failure knobs ran on the stand-in; screenshot: " + shot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
