"""The system queries: bitness, device number, OS name, program path and version, cid."""
import os
import re

from e2e import PROGRAM_VERSION, PeImage, case, echo_line as echo, entry_line

UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Brindlex"
NATIVE_FUNCTIONS = (
    "minimize", "maximize", "close", "restore", "moveWindow", "setData", "getData",
    "setCacheData", "getCacheData", "exec", "hasRegisterPath", "hasRegisterKey", "download",
    "fileExists", "replaceFile", "moveFile", "removeFile", "getFullPath", "getSysBit",
    "getDeviceNumber", "getSysVersion", "getModuleFilePath", "getModuleFileVersion", "getCid",
    "getFileMd5")
VERSION_LINE = "应用程序名称:%s, 版本号:%s"


# The name of the Windows each kernel image this suite has met belongs to, by its
# version (major.minor.build): Wine's builtin image, whatever version a prefix presents.
OS_NAME_OF_KERNEL = {"6.1.7601": "win7", "10.0.19041": "win10", "10.0.19045": "win10",
                     "10.0.22621": "win11", "6.2.9200": "win8", "5.1.2600": "xp"}


def expected_os_name(t):
    """The name for the kernel image the program finds in its system folder:
    (name, "major.minor.build.revision")."""
    folder = "syswow64" if t.wow64 else "system32"
    kernel = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", folder, "ntoskrnl.exe")
    version = PeImage(kernel).file_version()
    t.check(version, "no version resource in " + kernel)
    key = ".".join(str(n) for n in version[:3])
    t.check(key in OS_NAME_OF_KERNEL, "kernel image %s: add the name of its Windows to "
            "OS_NAME_OF_KERNEL" % key)
    return OS_NAME_OF_KERNEL[key], ".".join(str(n) for n in version)


def handler_records(p, handler):
    """The records from the handler's entry line up to and including its echo."""
    records = p.records()
    starts = [i for i, r in enumerate(records) if re.search(entry_line(handler), r, re.M)]
    if len(starts) != 1:
        raise AssertionError("%d entry lines for %s:\n%s" % (len(starts), handler, p.describe()))
    for end in range(starts[0], len(records)):
        if "return" in records[end] and handler in records[end]:
            return records[starts[0]:end + 1]
    raise AssertionError("no echo for %s:\n%s" % (handler, p.describe()))


@case("the page reads all six values in their forms, each with its entry line and echo")
def _(t):
    t.reg_set(UNINSTALL_KEY, "cid", "e2e-cid-4711")
    p = t.run("system/queries.html")
    bits = 64 if t.prefix == "w64" else 32
    t.eq(p.value("bitsType"), "number", "type of getSysBit()")
    t.eq(p.value("bits"), bits, "getSysBit()")
    device = p.value("device")
    t.check(re.fullmatch(r"[0-9a-f]{32}", device or ""), "device number %r" % device)
    t.eq(p.value("device2"), device, "second getDeviceNumber()")
    missing = [name for name in NATIVE_FUNCTIONS if name not in p.value("functions")]
    t.eq(missing, [], "native functions the page lacks")
    if t.prefix == "wxp":
        # The prefix itself presents Windows XP to the programs it runs.
        code, out = t.wine("cmd", "/c", "ver")
        t.check(code == 0 and "5.1." in out, "the XP prefix reports %r" % out)
    os_name, kernel_version = expected_os_name(t)
    # The test run's summary shows what each prefix answered.
    print("getSysVersion in %s: %r (kernel image %s)" % (t.prefix, p.value("os"), kernel_version))
    t.eq(p.value("os"), os_name, "getSysVersion() with kernel image " + kernel_version)
    t.eq(p.value("path").lower(), t.winpath(t.exe).lower(), "getModuleFilePath()")
    t.eq(p.value("version"), PROGRAM_VERSION, "getModuleFileVersion()")
    t.eq(p.value("cid"), "e2e-cid-4711", "getCid()")
    # Each call logs its entry line, then the echo of what it returned.
    for handler, text in (("OnGetSystemBit", str(bits)), ("OnGetSysVersion", p.value("os")),
                          ("OnGetCid", "e2e-cid-4711"), ("OnGetModuleFilePath", p.value("path"))):
        lines = p.log_matching(r"WkeFunction::" + handler + r"\(")
        t.eq(len(lines), 2, "log lines of %s: %r" % (handler, lines))
        t.check(re.match(entry_line(handler), lines[0]), "entry line: %r" % lines[0])
        t.check(re.match(echo(handler, text), lines[1]), "echo of %s: %r" % (handler, lines[1]))
    t.eq(len(p.log_matching(echo("OnGetDeviceNumber", device))), 2, "device number echoes")
    # getModuleFileVersion logs three lines: entry, the file's version, the echo.
    lines = handler_records(p, "OnGetModuleFileVersion")
    t.eq(len(lines), 3, "log lines of the call: %r" % lines)
    expected = VERSION_LINE % (p.value("path"), PROGRAM_VERSION)
    t.check(lines[1].endswith(expected) and "FileHelper::GetVersion" in lines[1],
            "version line %r, expected it to end with %r" % (lines[1], expected))
    t.check(re.search(echo("OnGetModuleFileVersion", PROGRAM_VERSION), lines[2], re.M),
            "echo %r" % lines[2])


@case("getCid gives the empty text when the uninstall entry holds no cid")
def _(t):
    # The program writes its version into the entry at start, but never a cid.
    t.reg_delete_key(UNINSTALL_KEY)
    p = t.run("system/queries.html")
    t.eq(p.value("cid"), "", "getCid()")
    t.check(p.log_has(echo("OnGetCid", "")), "no empty echo for getCid:\n" + p.describe())
