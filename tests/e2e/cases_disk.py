"""Full disks, through the real program: downloads, "setCacheData", "replaceFile" and
"moveFile" against a small tmpfs volume, mounted as a drive letter of the prefix or
over the application data folder that holds the cache folder. Mounting needs root;
where it is refused, each case ends as skipped (and the test with it), and the unit
tests' simulated full disk covers the same outcomes."""
import contextlib
import hashlib
import json
import os
import subprocess
import time

from e2e import case, Route

PAGE_SIZE = 4096


class SmallVolume:
    """A tmpfs of `size` bytes mounted at `path` (a new folder under t.tmp when not
    given). Always close() it, in a finally."""

    def __init__(self, t, size, path=None):
        self.t = t
        self.path = path or os.path.join(t.tmp, "volume")
        self.made_folder = not os.path.isdir(self.path)
        os.makedirs(self.path, exist_ok=True)
        self.link = None
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs",
                                 self.path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.mounted = result.returncode == 0
        self.refusal = result.stdout.decode(errors="replace").strip() or "exit %d" % result.returncode

    def free(self):
        st = os.statvfs(self.path)
        return st.f_bavail * st.f_frsize

    def fill(self, leave):
        """A filler file that leaves `leave` bytes (a whole number of pages) free."""
        filler = os.path.join(self.path, "filler")
        with open(filler, "ab") as f:
            f.write(b"\0" * (self.free() - leave))
        self.t.eq(self.free(), leave, "free space after filling")
        return filler

    def drive(self):
        """Maps the volume as a drive letter of the prefix; returns "X:"."""
        devices = os.path.join(os.environ["WINEPREFIX"], "dosdevices")
        for letter in "qrstuvwxymnop":
            link = os.path.join(devices, letter + ":")
            if not os.path.lexists(link):
                os.symlink(self.path, link)
                self.link = link
                return letter.upper() + ":"
        raise AssertionError("no free drive letter in %s" % devices)

    def close(self):
        if self.link:
            os.remove(self.link)
        if self.mounted:
            for _ in range(20):
                if subprocess.run(["umount", self.path]).returncode == 0:
                    break
                time.sleep(0.5)  # a program of the case may still be letting go
            else:
                subprocess.run(["umount", "-l", self.path])
        if self.made_folder:
            os.rmdir(self.path)


@contextlib.contextmanager
def small_volume(t, size, path=None):
    """A mounted SmallVolume, unmounted again afterwards; where none can be mounted
    the case ends as skipped."""
    if os.geteuid() != 0:
        t.skip("mounting a small volume needs root; the unit tests' simulated full disk "
               "covers these outcomes")
    volume = SmallVolume(t, size, path)
    try:
        if not volume.mounted:
            t.skip("mount refused (%s); the unit tests' simulated full disk covers these "
                   "outcomes" % volume.refusal)
        yield volume
    finally:
        volume.close()


def md5(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def allocated(folder):
    """Bytes the files under folder take on their volume."""
    return sum(os.stat(os.path.join(root, name)).st_blocks * 512
               for root, _, names in os.walk(folder) for name in names)


def write(path, data):
    """Writes the file; returns the MD5 of its content."""
    with open(path, "wb") as f:
        f.write(data)
    return hashlib.md5(data).hexdigest()


def body(size, seed):
    return hashlib.sha256(b"%d" % seed).digest() * (size // 32) + b"x" * (size % 32)


@case("full disk: a download larger than the free space reports 0 and keeps the target; "
      "one that just fits is saved")
def _(t):
    with small_volume(t, 4 << 20) as volume:
        drive = volume.drive()
        target = os.path.join(volume.path, "setup.exe")
        before = write(target, body(300000, 1))
        free = volume.free()
        url = "http://127.0.0.1:%d" % t.args.port
        big = body(free + 256 * 1024, 2)
        # The body's own file needs exactly the free pages; the old target keeps its
        # own until it is replaced.
        fits = body(free - 100, 3)
        routes = {"/big": Route(big, content_type="application/octet-stream"),
                  "/fits": Route(fits, content_type="application/octet-stream")}

        p = t.run("download/download.html", timeout=60, routes=routes,
                  values={"URL": url + "/big", "PATH": drive + "\\setup.exe"})
        t.eq(p.value("finished"), 0, "finished value of the download too large")
        t.check(100 not in p.value("percents"), "100 %% posted: %r" % p.value("percents"))
        t.eq(md5(target), before, "target after the failed download")
        t.eq(sorted(os.listdir(volume.path)), ["setup.exe"], "files on the volume")
        t.eq(volume.free(), free, "free space after the failed download")
        t.check(p.log_has(r"^\[warning [^\n]*last err: [^\n]*\(112\)[^\n]*download not saved, "
                          r"the disk took only \d+ bytes for %s\\setup\.exe$" % drive),
                "no warning naming the target and the system's reason\n" + p.describe())

        p = t.run("download/download.html", timeout=60, routes=routes,
                  values={"URL": url + "/fits", "PATH": drive + "\\setup.exe"})
        t.eq(p.value("finished"), 1, "finished value of the download that fits")
        t.eq(p.value("percents")[-1], 100, "last progress of the download that fits")
        t.eq(md5(target), hashlib.md5(fits).hexdigest(), "target after the download that fits")
        t.eq(sorted(os.listdir(volume.path)), ["setup.exe"], "files on the volume")

@case("full disk: setCacheData larger than the free space reports false, keeps config.data "
      "and the value; the next save after space is freed persists both")
def _(t):
    # The volume goes over the application data folder, not over the cache folder
    # itself: a mount point there reads as a link, which the program refuses to write
    # through.
    folder = t.appdata("Brindlex")
    engine = os.path.join(t.build, "engine", "node.dll")
    with small_volume(t, os.path.getsize(engine) + (1 << 20), t.appdata()) as volume:
        os.makedirs(folder)  # the engine goes to the folder for all users, not here
        config = os.path.join(folder, "config.data")
        write(config, b'{"old":"1"}')
        filler = volume.fill(64 * 1024)
        flag = os.path.join(t.tmp, "room")
        size = 300000
        p = t.start("disk/cache.html", values={"SIZE": size, "FLAG": t.winpath(flag)})
        p.wait_console("bigGet", timeout=30)
        with open(config, "rb") as f:
            t.eq(f.read(), b'{"old":"1"}', "config.data after the failed save")
        # The program's log file shares the volume: what it takes is not left over
        # from the failed save.
        t.eq(sorted(os.listdir(folder)), ["config.data", "logs"], "cache folder")
        t.eq(sorted(os.listdir(volume.path)), ["Brindlex", "filler"], "volume")
        t.eq(volume.free() + allocated(os.path.join(folder, "logs")), 64 * 1024,
             "free space after the failed save, beside the log file")
        os.remove(filler)
        open(flag, "w").close()
        p.wait_exit(30)
        t.eq(p.value("bigSet"), False, "setCacheData on a full disk")
        t.eq(p.value("bigGet"), size, "getCacheData after the failed save")
        t.eq(p.value("smallSet"), True, "setCacheData after space was freed")
        t.eq(p.value("bigAfter"), size)
        with open(config, "rb") as f:
            saved = json.loads(f.read().decode("utf-8"))
        t.eq(saved, {"big": "b" * size, "old": "1", "small": "2"}, "config.data at the end")
        t.check(p.log_has(r"^\[error [^\n]*CacheConfigData::SetData[^\n]*last err: [^\n]*"
                          r"\(112\)[^\n]*config\.data not saved"),
                "no error line naming config.data and the system's reason\n" + p.describe())
        t.check(p.log_has(r"^\[error [^\n]*OnSetCacheData[^\n]*\n?\{\n    return false;\n\}"),
                "no false echo at level error")
        t.check(p.log_has(r"^\[info [^\n]*OnSetCacheData[^\n]*\n?\{\n    return true;\n\}"),
                "no true echo for the save after space was freed")

@case("full disk: replaceFile and moveFile from another drive onto a full one change "
      "nothing and lose nothing; with room they work")
def _(t):
    with small_volume(t, 1 << 20) as volume:
        drive = volume.drive()
        target = os.path.join(volume.path, "app.exe")
        before = write(target, body(20000, 4))
        sources, digests = {}, {}
        for name, size, seed in (("bigOld", 500000, 5), ("bigMove", 500000, 6),
                                 ("smallOld", 10000, 7), ("smallMove", 10000, 8)):
            sources[name] = os.path.join(t.tmp, name + ".bin")
            digests[name] = write(sources[name], body(size, seed))
        volume.fill(64 * 1024)

        def run(old, move):
            return t.run("disk/files.html", values={"FILES": {
                "old": t.winpath(sources[old]), "move": t.winpath(sources[move]),
                "target": drive + "\\app.exe", "moveTarget": drive + "\\moved.bin"}})

        p = run("bigOld", "bigMove")
        t.eq(p.value("replace"), False, "replaceFile onto the full drive")
        t.eq(p.value("move"), False, "moveFile onto the full drive")
        t.eq(md5(target), before, "target after replaceFile onto the full drive")
        t.eq(md5(sources["bigOld"]), digests["bigOld"], "replacement kept")
        t.eq(md5(sources["bigMove"]), digests["bigMove"], "moved file kept")
        t.eq(sorted(os.listdir(volume.path)), ["app.exe", "filler"], "files on the full drive")
        t.eq(volume.free(), 64 * 1024, "free space after the failed commands")

        p = run("smallOld", "smallMove")
        t.eq(p.value("replace"), True, "replaceFile with room")
        t.eq(p.value("move"), True, "moveFile with room")
        t.eq(md5(target), digests["smallOld"], "target after the replacement with room")
        t.eq(md5(os.path.join(volume.path, "moved.bin")), digests["smallMove"])
        t.check(not os.path.exists(sources["smallOld"]) and
                not os.path.exists(sources["smallMove"]), "sources left after moving")
        t.eq(sorted(os.listdir(volume.path)), ["app.exe", "filler", "moved.bin"],
             "files on the volume")
