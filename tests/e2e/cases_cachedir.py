"""The cache folder as another user of the machine could have left it: writable by
everyone, with links in place of the program's files or of the folder itself."""

import glob
import os
import shutil
import stat

from e2e import case

PAGE = "cachedir/save.html"
ENGINE_MISSING_BOX_TEXT = "网页组件加载失败，请重新安装Brindlex"


def cache(t, *parts):
    return t.appdata("Brindlex", *parts)


def engine_folder(t, *parts):
    """The folder for all users the engine is unpacked into."""
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "ProgramData", "Brindlex", *parts)


def links(path):
    return os.lstat(path).st_nlink


@case("a folder everyone can write is limited once; hard links in place of node.dll and "
      "config.data.tmp go and what they point to keeps its bytes")
def _(t):
    folder = cache(t)
    os.makedirs(folder, exist_ok=True)
    # Files of someone else's, on the same file system as the prefix.
    victims = os.path.join(os.environ["WINEPREFIX"], "drive_c", "e2e-victims-%d" % os.getpid())
    os.makedirs(victims, exist_ok=True)
    try:
        planted = {"node.dll": b"a system library", "config.data.tmp": b"a system setting"}
        place = {"node.dll": engine_folder(t, "node.dll"), "config.data.tmp": cache(t, "config.data.tmp")}
        os.makedirs(engine_folder(t), exist_ok=True)
        for name, data in planted.items():
            with open(os.path.join(victims, name), "wb") as f:
                f.write(data)
            if os.path.lexists(place[name]):
                os.remove(place[name])
            os.link(os.path.join(victims, name), place[name])
            os.chmod(os.path.join(victims, name), 0o666)
        # A file someone planted while everyone could write, writable by everyone.
        planted_file = cache(t, "planted.txt")
        with open(planted_file, "wb") as f:
            f.write(b"planted")
        os.chmod(planted_file, 0o666)
        os.chmod(folder, 0o777)

        p = t.run(PAGE, values={"KEY": "cachedir-key", "VALUE": "cachedir-value"})
        t.eq(p.value("saved"), True)
        t.eq(p.value("read"), "cachedir-value")
        for name, data in planted.items():
            with open(os.path.join(victims, name), "rb") as f:
                t.eq(f.read(), data, "bytes of the file %s pointed to" % name)
            t.eq(links(os.path.join(victims, name)), 1, "names of the file %s pointed to" % name)
            t.check(p.log_has(r"^\[error [^\n]*Brindlex\\%s has other names" % name.replace(".", r"\.")),
                    "error line for %s" % name)
        t.eq(links(place["node.dll"]), 1, "names of node.dll")
        t.check(os.path.getsize(place["node.dll"]) > 100000, "node.dll is the engine")
        t.check(not os.path.exists(cache(t, "config.data.tmp")), "temporary file moved into place")
        with open(cache(t, "config.data"), "rb") as f:
            t.check(b'"cachedir-key":"cachedir-value"' in f.read(), "config.data holds the value")
        t.eq(os.stat(folder).st_mode & stat.S_IWOTH, 0, "folder writable by others")
        t.eq(os.stat(planted_file).st_mode & stat.S_IWOTH, 0, "planted file writable by others")
        for name in planted:
            t.eq(os.stat(os.path.join(victims, name)).st_mode & 0o777, 0o666,
                 "rights of the file %s pointed to" % name)
        t.eq(len(p.log_matching(r"Brindlex let other users write")), 1, "repair lines")

        # The next start finds nothing to put right and says nothing about it.
        again = t.run(PAGE, values={"KEY": "cachedir-key", "VALUE": "again"})
        t.eq(again.value("read"), "again")
        t.check(not again.log_has(r"let other users write|has other names|link to elsewhere"),
                "second start is quiet")
    finally:
        shutil.rmtree(victims, ignore_errors=True)


@case("a link in place of the folder: nothing is written through it, the store answers false "
      "and empty; once it is gone the next start works")
def _(t):
    folder = cache(t)
    aside = folder + ".e2e-aside-%d" % os.getpid()
    if os.path.lexists(folder):
        os.rename(folder, aside)
    # Empty: Wine opens what a folder link points to even when asked for the link
    # itself, so removing "the link" by name or by that handle would remove this.
    target = os.path.join(t.tmp, "elsewhere")
    os.makedirs(target)
    os.symlink(target, folder)
    try:
        p = t.run(PAGE, values={"KEY": "k", "VALUE": "v"})  # exit code 0
        t.check(p.log_has(r"^\[error [^\n]*Brindlex is a link to elsewhere"), "link refused")
        # The engine lives elsewhere: the page runs, without a store on disk.
        t.eq((p.value("saved"), p.value("read")), (False, ""), "the store without its folder")
        t.check(p.log_has(r"^\[error [^\n]*no cache folder: config\.data is neither read nor "
                          r"written"), "error line of the store")
        t.check(os.path.isdir(target), "what the link points to is still there")
        t.eq(os.listdir(target), [], "what the link points to")
    finally:
        if os.path.islink(folder):
            os.remove(folder)
        if os.path.lexists(aside):
            if os.path.lexists(folder):
                shutil.rmtree(folder)
            os.rename(aside, folder)
    again = t.run(PAGE, values={"KEY": "k", "VALUE": "v"})
    t.eq(again.value("saved"), True)

    # What another account may put in place of the engine's folder. A file is moved aside
    # as it is and the program starts with a folder of its own. A link stays where it is:
    # Wine moves what a link points to, whatever handle it is asked through, so the
    # program refuses (the box) and nothing reaches what the link points to.
    engines = engine_folder(t)
    engines_aside = engines + ".e2e-aside-%d" % os.getpid()
    os.rename(engines, engines_aside)
    with open(engines, "wb") as f:
        f.write(b"not a folder")
    linked = os.path.join(t.tmp, "engine-elsewhere")
    os.makedirs(linked)
    with open(os.path.join(linked, "node.dll"), "wb") as f:
        f.write(b"someone else's file")
    try:
        p = t.run(PAGE, values={"KEY": "k", "VALUE": "v"})
        t.eq(p.value("saved"), True)
        moved = glob.glob(engines + ".moved-*")
        t.eq([open(m, "rb").read() for m in moved], [b"not a folder"], "the file moved aside")
        t.check(p.log_has(r"^\[warning [^\n]*Brindlex was not a folder only administrators may "
                          r"change; moved to .*Brindlex\.moved-"), "warning line")
        t.check(os.path.getsize(engine_folder(t, "node.dll")) > 100000, "node.dll is the engine")
        shutil.rmtree(engines)
        os.symlink(linked, engines)
        p = t.run(PAGE, values={"KEY": "k", "VALUE": "v"})  # exit code 0
        t.check(not p.has_value("saved"), "no page without the engine")
        t.check(p.log_has(r"modal box: Brindlex: " + ENGINE_MISSING_BOX_TEXT + "$"),
                "no box telling the engine is missing:\n" + p.describe())
        t.eq(os.listdir(linked), ["node.dll"], "what the link points to")
        with open(os.path.join(linked, "node.dll"), "rb") as f:
            t.eq(f.read(), b"someone else's file", "the file the link leads to")
    finally:
        if os.path.islink(engines) or os.path.isfile(engines):
            os.remove(engines)
        elif os.path.isdir(engines):
            shutil.rmtree(engines)
        for moved in glob.glob(engines + ".moved-*"):
            os.remove(moved)
        os.rename(engines_aside, engines)

    # Links in place of the log folder, then of the log file: the program runs on and
    # writes nothing through them.
    logs = cache(t, "logs")
    shutil.rmtree(logs, ignore_errors=True)
    os.symlink(target, logs)
    victim = os.path.join(t.tmp, "victim.log")
    try:
        p = t.run(PAGE, values={"KEY": "k", "VALUE": "logs"})
        t.eq(p.value("saved"), True)
        t.eq(os.listdir(target), [], "what the log folder's link points to")
        t.check(p.log_has(r"^\[error [^\n]*Brindlex\\logs or its log file leads elsewhere"),
                "log folder link refused")
        os.remove(logs)
        os.makedirs(logs)
        with open(victim, "wb") as f:
            f.write(b"someone else's file")
        os.symlink(victim, os.path.join(logs, "brindlex.log"))
        p = t.run(PAGE, values={"KEY": "k", "VALUE": "log file"})
        t.eq(p.value("saved"), True)
        with open(victim, "rb") as f:
            t.eq(f.read(), b"someone else's file", "what the log file's link points to")
        t.check(p.log_has(r"^\[error [^\n]*Brindlex\\logs or its log file leads elsewhere"),
                "log file link refused")
    finally:
        if os.path.islink(logs):
            os.remove(logs)
        shutil.rmtree(logs, ignore_errors=True)
