"""The page's stores, file commands and registry probes, through the real program."""

import hashlib
import os
import re

from e2e import UNDEFINED, case, echo_line

def config_data(t):
    return t.appdata("Brindlex", "config.data")


def remove_config(t):
    for suffix in ("", ".tmp"):
        try:
            os.remove(config_data(t) + suffix)
        except FileNotFoundError:
            pass


@case("stores: in-memory and persistent differ as specified, and only the latter survives")
def _(t):
    remove_config(t)
    key = "name-\u00e9\u4e2d"
    value = "value with \"quotes\" and \\ and \u00e9\u4e2d"
    p = t.run("store/stores.html", values={"KEY": key, "VALUE": value})
    t.eq(p.value("setData"), True)
    t.eq(p.value("getData"), "v2")
    t.eq(p.value("getDataMissing"), UNDEFINED)
    t.eq(p.value("cacheMissing"), "")
    t.eq(p.value("setCacheData"), True)
    t.eq(p.value("setCacheEmpty"), True)
    t.eq(p.value("getCacheEmpty"), "")
    # Code page 936 has both non-ASCII characters here, 1252 only the first.
    stored = key if t.codec == "gbk" else "name-\u00e9?"
    stored_value = value if t.codec == "gbk" else value.replace("\u4e2d", "?")
    t.check(p.log_has(r"OnGetData[^\n]*execute c\+\+ function key: never-set$"))
    t.check(p.log_has(echo_line("OnGetData", "undefined", "warning")), "missing key: warning echo")
    t.check(p.log_has(echo_line("OnGetData", "v2")))
    t.check(p.log_has(echo_line("OnGetCacheData", "")), "empty cache value: info echo")
    t.check(p.log_has(r"OnSetCacheData[^\n]*execute c\+\+ function key: .*, value: "))
    with open(config_data(t), "rb") as f:
        saved = f.read().decode("utf-8")
    expected = '{"empty":"","looked-up":null,%s:%s}' % (
        '"' + stored + '"', '"' + stored_value.replace("\\", "\\\\").replace('"', '\\"') + '"')
    t.eq(saved, expected, "config.data")

    again = t.run("store/restart.html", values={"KEY": stored})
    t.eq(again.value("getData"), UNDEFINED, "setData does not survive a restart")
    t.eq(again.value("getCacheData"), stored_value, "setCacheData survives a restart")


@case("file commands: outcomes, results and echo levels")
def _(t):
    d = os.path.join(t.tmp, "files")
    os.makedirs(os.path.join(d, "sub"))
    for name in ("a.txt", "c.txt"):
        with open(os.path.join(d, name), "w") as f:
            f.write(name)
    long_value = "L" * 300
    p = t.run("store/files.html", values={"DIR": t.winpath(d)},
              env={"BRINDLEX_E2E_LONG": long_value})
    t.eq(p.value("exists"), True)
    t.eq(p.value("existsDir"), True)
    t.eq(p.value("existsMissing"), False)
    t.eq(p.value("md5"), hashlib.md5(b"a.txt").hexdigest())
    t.eq(p.value("move"), True)
    t.eq(p.value("moveOnto"), False)
    t.eq(p.value("replace"), True)
    t.eq(p.value("replaceMissing"), False)
    t.eq(p.value("remove"), True)
    t.eq(p.value("removeMissing"), False)
    t.eq(p.value("removeDir"), True)
    t.check(os.path.isdir(os.path.join(d, "sub.bak")), "directory moved aside")
    t.check(re.match(r"^[A-Za-z]:\\windows\\system32$", p.value("fullPath"), re.I),
            "fullPath: %r" % p.value("fullPath"))
    t.eq(p.value("fullPathLong"), long_value + "\\x", "expansion longer than 260")
    t.check(sorted(os.listdir(d)) == ["sub.bak"], "left: %r" % os.listdir(d))
    for level, handler, value in (("error", "OnMoveFile", "false"),
                                  ("info", "OnMoveFile", "true"),
                                  ("warning", "OnReplaceFile", "false"),
                                  ("warning", "onRemoveFile", "false"),
                                  ("warning", "OnFileExists", "false"),
                                  ("info", "OnGetFileMd5", hashlib.md5(b"a.txt").hexdigest())):
        t.check(p.log_has(echo_line(handler, value, level)), "no %s echo of %s %s\n%s"
                % (level, handler, value, p.describe()))
    t.check(p.log_has(r"OnMoveFile[^\n]*execute c\+\+ function old file path: .*a\.txt, "
                      r"new file path: .*b\.txt$"), "moveFile entry line")


@case("registry probes: views, selectors and paths")
def _(t):
    sub = "SOFTWARE\\BrindlexE2E-%d" % os.getpid()
    key = "HKEY_LOCAL_MACHINE\\" + sub
    t.reg_set("HKLM\\" + sub, "v", "x", view=64)
    try:
        p = t.run("store/registry.html", values={"KEY": key})
    finally:
        t.reg_delete_key("HKLM\\" + sub, view=64)
    two_views = t.prefix == "w64"
    t.eq(p.value("microsoft64"), True)
    t.eq(p.value("root"), True)
    t.eq(p.value("abbreviation"), False)
    t.eq(p.value("key64"), True)
    t.eq(p.value("key32"), not two_views)
    t.eq(p.value("key0"), not two_views)
    t.eq(p.value("key320"), True, "selector 320 has the low byte 64")
    t.eq(p.value("value64"), True)
    t.eq(p.value("value32"), not two_views)
    t.eq(p.value("valueMissing"), False)
    t.eq(p.value("valueBadRoot"), False)
    t.check(p.log_has(r"OnHasRegisterPath[^\n]*execute c\+\+ function register path: "
                      r"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft, bit: 64 $"))
    t.check(p.log_has(r"OnHasRegisterPath[^\n]*register path: [^\n]*, bit: 320 $"))
    t.check(p.log_has(echo_line("OnHasRegisterPath", "false", "error")), "no root name: error echo")
    t.check(p.log_has(echo_line("OnHasRegisterKey", "false", "warning")), "absent value: warning")
    t.check(p.log_has(r"OnHasRegisterKey[^\n]*register path: [^\n]*, key: none, bit: 64 $"))


@case("bad input: missing arguments, megabyte texts, long and device paths")
def _(t):
    remove_config(t)
    p = t.run("store/bad_input.html", timeout=60)
    for name in ("setData", "setCacheData", "fileExists", "replaceFile", "moveFile",
                 "removeFile", "hasRegisterPath", "hasRegisterKey"):
        t.eq(p.value(name), "boolean", name)
    for name in ("getCacheData", "getFullPath", "getFileMd5"):
        t.eq(p.value(name), "string", name)
    t.eq(p.value("bigSet"), True)
    t.eq(p.value("bigGet"), 1048576)
    t.eq(p.value("longExists"), False)
    t.eq(p.value("longRemove"), False)
    t.eq(p.value("longFullPath"), 0, "an expansion beyond the platform's limit")
    t.eq(p.value("nulRemove"), False)
    t.eq(p.value("prefixRemove"), False)
    t.eq(p.value("longRegistry"), False)
