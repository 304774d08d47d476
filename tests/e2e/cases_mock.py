"""The page authors' stand-in (sdk/brindlex-mock.js) against the program: one script of
calls, run in the program and in headless Chromium on the stand-in seeded with the same
machine, must give the same results, call by call."""
import hashlib
import os
import sys

from e2e import PROGRAM_VERSION, START_PATH, Route, case

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "sdk"))

UNINSTALL_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Brindlex"
USER_KEY = r"HKEY_CURRENT_USER\Software\BrindlexParity"
MACHINE_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\BrindlexParity64"
CMD = "C:\\windows\\system32\\cmd.exe"
FILES = {"a.txt": "the first file\n", "b.txt": "its replacement\n", "c.txt": "a third\n",
         "sub\\inner.txt": "in a folder\n", "sub2\\inner.txt": "in another folder\n"}
# Differences the reference lists as not modelled by the stand-in: the ANSI code page.
NOT_MODELLED = ('getCacheData["cp-',)
DOWNLOAD = "".join("line %03d of the parity download\n" % n for n in range(40))


def answer(log, call):
    """The result the program gave to call, as text."""
    return next(line.split(":", 1)[1] for line in log if line.startswith(call + " = "))


@case("the stand-in answers the same script of calls as the program, call by call")
def _(t):
    from browser import Browser  # Chromium is needed by this case only

    folder = os.path.join(t.tmp, "parity")
    for name, text in FILES.items():
        os.makedirs(os.path.dirname(os.path.join(folder, name.replace("\\", "/"))), exist_ok=True)
        with open(os.path.join(folder, name.replace("\\", "/")), "w") as f:
            f.write(text)
    os.makedirs(os.path.join(folder, "sub2.bak"))
    dir_ = t.winpath(folder)
    user_values = {"Name": "parity", "Long": "y" * 600, "Dword": 7}
    machine_values = {"Name": "64-bit only"}
    wow64 = t.wow64
    for key, values, view in ((USER_KEY, user_values, 32), (UNINSTALL_KEY, {"cid": "parity-cid"}, 32),
                              (MACHINE_KEY, machine_values, 64 if wow64 else 32)):
        for name, data in values.items():  # reg add: Wine's reg import hangs on some files
            t.reg_set(key, name, str(data), "REG_DWORD" if isinstance(data, int) else "REG_SZ", view)
    # A file in the real system folder, and one in both (the 32-bit folder's differs).
    windows = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows")
    system_files = {"system32/brindlex-parity-real.txt": "real system folder\n",
                    "system32/brindlex-parity.txt": "system folder\n"}
    if wow64:
        system_files["syswow64/brindlex-parity.txt"] = "32-bit system folder\n"
    elif t.prefix == "w64":
        # The stand-in answers as the 32-bit program, whose system folder is redirected;
        # a 64-bit build (checked where no 32-bit program runs) sees the real one.
        system_files = {}
    for name, text in system_files.items():
        with open(os.path.join(windows, name), "w") as f:
            f.write(text)
    origin = "http://127.0.0.1:%d" % t.server.port
    with open(os.path.join(ROOT, "sdk", "brindlex-mock.js"), "rb") as f:
        mock_script = f.read()
    routes = {"/parity/file.txt": Route(DOWNLOAD, content_type="text/plain"),
              "/parity/moved": Route(b"", status=301, headers={"Location": "/parity/file.txt"}),
              "/parity/empty": Route(b"", content_type="text/plain"),
              "/sdk/brindlex-mock.js": Route(mock_script, content_type="application/javascript")}
    values = {"DIR": dir_, "ORIGIN": origin, "CMD": CMD, "SEED": {}}
    # The two calls that make no callback are over once the program's log says so.
    over = (r"cannot create the download file beside .*nofolder",
            r"ui_messages\.cpp:\d+ .*callback name too long for its call string")
    try:
        p = t.start("mock/parity.html", values=values, routes=routes,
                    env={"BRINDLEX_PARITY": dir_})
        for n, pattern in enumerate(over, 1):
            p.wait_log(pattern, 60)
            open(os.path.join(folder, "heard-%d" % n), "w").close()
        p.wait_exit(120)
    finally:
        for name in system_files:
            if os.path.exists(os.path.join(windows, name)):
                os.remove(os.path.join(windows, name))
    program = p.value("log")

    # The same machine for the stand-in: what the case made, and the two facts only the
    # program can read (the device number and the generation of Windows).
    seed = {
        "system": {"bits": 64 if t.prefix == "w64" else 32, "cid": "parity-cid",
                   "deviceNumber": answer(program, "getDeviceNumber[]"),
                   "version": answer(program, "getSysVersion[]"),
                   "modulePath": t.winpath(t.exe), "moduleVersion": PROGRAM_VERSION},
        "env": {"BRINDLEX_PARITY": dir_},
        "files": dict({dir_ + "\\" + name: text for name, text in FILES.items()},
                      **{"C:\\windows\\" + name.replace("/", "\\"): text
                         for name, text in system_files.items()}, **{CMD: "cmd"}),
        "folders": [dir_ + "\\sub2.bak"],
        "registry": {USER_KEY: user_values},
        ("registry64" if wow64 else "registry32"): {MACHINE_KEY: machine_values},
        "cacheData": {},
    }
    t.server.configure("mock/parity.html", dict(values, SEED=seed), routes)
    browser = Browser()
    try:
        browser.driver.get(origin + START_PATH + "?mock")
        mock = browser.wait_for("return window.parityLog", timeout=60)
    finally:
        browser.close()
    t.check(mock, "the script did not end on the stand-in")

    short = dir_.replace("\\", "\\\\")

    def row(i):
        left = program[i] if i < len(program) else "-"
        right = mock[i] if i < len(mock) else "-"
        mark = ("  " if left == right else
                "~~" if left.startswith(NOT_MODELLED) and right.startswith(NOT_MODELLED) else "!=")
        return "%s %-70s | %s" % (mark, left.replace(short, "<dir>"), right.replace(short, "<dir>"))
    table = [row(i) for i in range(max(len(program), len(mock)))]
    print("program | stand-in\n" + "\n".join(table))
    t.eq([row for row in table if row.startswith("!=")], [], "calls answered differently")
    # Both can be wrong alike: the program's downloads, direct and redirected, must have
    # arrived whole.
    digest = hashlib.md5(DOWNLOAD.encode()).hexdigest()
    for name in ("got.txt", "redirected.txt"):
        t.check('getFileMd5["<dir>\\\\%s"] = string:%s' % (name, digest) in "\n".join(table),
                "the digest of %s is not in the log" % name)
