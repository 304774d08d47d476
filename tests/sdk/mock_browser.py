#!/usr/bin/env python3
"""The bridge console and the SDK example in headless Chromium on the program's
stand-in (sdk/brindlex-mock.js): Call buttons pressed, results read from the page, the
call log checked, and a screenshot of the console left in the build folder.

usage: mock_browser.py <source root> <build folder> <tsc>
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Browser, serve  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

NATIVES = ("minimize maximize close restore moveWindow setData getData setCacheData "
           "getCacheData exec hasRegisterPath hasRegisterKey download fileExists replaceFile "
           "moveFile removeFile getFullPath getSysBit getDeviceNumber getSysVersion "
           "getModuleFilePath getModuleFileVersion getCid getFileMd5").split()
GLOBALS = "return Object.getOwnPropertyNames(window).concat(Object.getOwnPropertySymbols(window).map(String));"


def expect(actual, expected, what):
    if actual != expected:
        raise AssertionError("%s: got %r, expected %r" % (what, actual, expected))


def press(browser, name, *values):
    """Fills the row's inputs (None keeps one), presses Call, returns the result shown."""
    for i, value in enumerate(values):
        if value is not None:
            field = browser.driver.find_element(By.ID, "a-%s-%d" % (name, i))
            field.clear()
            field.send_keys(str(value))
    browser.driver.find_element(By.ID, "b-" + name).click()
    return browser.driver.find_element(By.ID, "r-" + name).text


def check_console(browser, origin, shot):
    driver = browser.driver
    driver.get(origin + "/toolv2/brindlex")
    plain = set(driver.execute_script(GLOBALS))
    driver.get(origin + "/toolv2/brindlex?mock")
    added = set(driver.execute_script(GLOBALS)) - plain
    # A browser window has a close() of its own, which the stand-in replaces.
    expect(sorted(added), sorted(set(NATIVES) - {"close"} | {"Symbol(brindlex.mock)"}),
           "globals the stand-in adds")
    driver.execute_script("localStorage.clear();")

    expect(press(browser, "setData", "demo", "hello"), "boolean true", "setData")
    expect(press(browser, "getData", "demo"), '"hello"', "getData")
    expect(press(browser, "getData", "nothing"), "undefined", "getData of a missing key")
    expect(press(browser, "setCacheData", None, "across loads"), "boolean true", "setCacheData")
    expect(press(browser, "hasRegisterKey"), "boolean true", "hasRegisterKey of the seeded value")
    expect(press(browser, "hasRegisterKey", None, "Missing"), "boolean false", "missing value")
    expect(press(browser, "hasRegisterPath", "HKLM\\SOFTWARE"), "boolean false", "abbreviated root")
    expect(press(browser, "getSysBit"), "number 64", "getSysBit")
    expect(press(browser, "getFullPath", "%APPDATA%\\Brindlex %NOPE%"),
           '"C:\\\\Users\\\\author\\\\AppData\\\\Roaming\\\\Brindlex %NOPE%"', "getFullPath")
    # A 32-bit program on 64-bit Windows reads the 32-bit system folder's file.
    digest = hashlib.md5(b"the 32-bit kernel library").hexdigest()
    expect(press(browser, "getFileMd5"), '"%s"' % digest, "getFileMd5 through the redirection")
    expect(press(browser, "moveWindow", 20, 10), "undefined", "moveWindow")

    # Callbacks come later, by name, and show in the row.
    expect(press(browser, "exec"), "undefined", "exec")
    expect(browser.wait_for("return document.getElementById('r-exec').textContent == 'callback 1'"),
           True, "exec callback shown")
    target = "C:\\users\\Public\\brindlex-demo.txt"
    press(browser, "download", None, target)  # its result, undefined, is in the call log
    expect(browser.wait_for("return document.getElementById('r-download').textContent == 'callback 1'"),
           True, "download finished callback shown")
    expect(press(browser, "fileExists", target), "boolean true", "fileExists of the download")
    expect(press(browser, "replaceFile", target, "C:\\users\\Public\\none.txt"), "boolean false",
           "replaceFile onto a missing target")
    expect(press(browser, "moveFile", target, "C:\\users\\Public\\moved.txt"), "boolean true", "moveFile")
    expect(press(browser, "removeFile", "C:\\users\\Public\\moved.txt"), "boolean true", "removeFile")
    expect(press(browser, "removeFile", "C:\\users\\Public\\moved.txt"), "boolean false", "removeFile again")

    log = driver.execute_script("""
        return window[Symbol.for('brindlex.mock')].calls.map(function (c) {
          return c.type == 'call' ? c.name + '=' + JSON.stringify(c.result) : c.name + '(' + c.value + ')';
        });""")
    for entry in ('getData="hello"', "onExecDone(1)", "onDownloadProgress(100)", "onDownloadDone(1)",
                  "removeFile=false"):
        expect(entry in log, True, "%s in the call log %r" % (entry, log))
    expect(log.index("download=undefined") < log.index("onDownloadProgress(100)")
           < log.index("onDownloadDone(1)"), True, "order of the download's calls in %r" % log)
    for name, shown in (("getDeviceNumber", '"5f0c3a9e12d84b7c9e0a6b1d2c3e4f50"'),
                        ("getSysVersion", '"win10"'), ("getModuleFileVersion", '"1.0.0.64"'),
                        ("getCid", '"demo-cid"'),
                        ("getModuleFilePath", '"C:\\\\Program Files (x86)\\\\Brindlex\\\\brindlex.exe"'),
                        ("getCacheData", '"across loads"')):
        expect(press(browser, name), shown, name)
    driver.set_window_size(1280, 1200)
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(shot)
    expect(driver.execute_script("close(); var mock = window[Symbol.for('brindlex.mock')];"
                                 "return [mock.calls[mock.calls.length - 1].name, mock.window.closed]"),
           ["close", True], "close() of the stand-in")

    driver.refresh()
    expect(press(browser, "getCacheData"), '"across loads"', "getCacheData after a reload")
    expect(press(browser, "getData", "demo"), "undefined", "getData after a reload")


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
    expect(browser.driver.execute_script(
        "return window[Symbol.for('brindlex.mock')].readFile('C:\\\\Temp\\\\a.txt')"), "hello",
        "the example's download")


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
                    "/sdk/readme-example.html": readme_example})
    browser = Browser()
    shot = os.path.join(out, "console-mock.png")
    try:
        check_console(browser, server.origin, shot)
        check_example(browser, server.origin)
        check_readme_example(browser, server.origin)
    finally:
        browser.close()
        server.shutdown()
        shutil.rmtree(built, ignore_errors=True)
    print("console and example ran on the stand-in; screenshot: " + shot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
