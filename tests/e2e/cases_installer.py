"""The setup program and its uninstaller: what an installation leaves (entry in the
32-bit registry view, files, shortcuts), upgrades and refusals, a running program,
removal, and signed releases."""
import atexit
import glob
import hashlib
import os
import re
import shutil
import stat
import subprocess
import time

from e2e import case

# Shortcuts made under Wine would otherwise also become menu entries of this machine.
os.environ["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"

UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Brindlex"
ENGINE_FOLDER = r"C:\ProgramData\Brindlex"
NSIS_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                           "installer", "brindlex.nsi")
SIGN_SCRIPT = os.path.join(os.path.dirname(NSIS_SCRIPT), "sign.sh")
EXIT_BAD_COMMAND_LINE = 2
EXIT_PROGRAM_RUNNING = 3
EXIT_NEWER_INSTALLED = 4
STILL_RUNNING = ("Brindlex is still running. Nothing was changed.",
                 "Brindlex 仍在运行，未做任何更改。")
WAITING_FOR_PROGRAM = ("waiting up to 30 seconds for it to end.", "最多等待 30 秒让它结束。")
ENTRY_NAMES = {"DisplayName", "DisplayVersion", "Publisher", "DisplayIcon", "InstallLocation",
               "UninstallString", "QuietUninstallString", "EstimatedSize", "NoModify",
               "NoRepair", "cid"}


def install_dir(t):
    """Where a 32-bit setup puts the program: Program Files (x86) on 64-bit Windows."""
    return r"C:\Program Files (x86)\Brindlex" if t.prefix == "w64" else r"C:\Program Files\Brindlex"


def installed_exe(t):
    return install_dir(t) + r"\brindlex.exe"


def host(windows_path):
    """The Linux path of a path on the prefix's drive C:."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *windows_path[3:].split("\\"))


def shortcuts():
    """The all-users Start menu and desktop shortcuts."""
    return [host(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Brindlex.lnk"),
            host(r"C:\users\Public\Desktop\Brindlex.lnk")]


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def entry(t, view=32):
    """The uninstall entry's values, {name: (type, data)}, or None without the key."""
    code, out = t.wine("reg", "query", UNINSTALL_KEY, "/reg:%d" % view)
    if code != 0:
        return None
    values = {}
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2] if len(parts) == 3 else "")
    return values


def state(t):
    """Everything an installation touches: entry, installed files, shortcuts."""
    folder = host(install_dir(t))
    files = {}
    if os.path.isdir(folder):
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            files[name] = digest(path) if os.path.isfile(path) else "folder"
    links = {path: digest(path) for path in shortcuts() if os.path.exists(path)}
    return {"entry": entry(t), "files": files, "shortcuts": links}


def clear_engine_folder():
    """Takes away the engine folder and what setup moved aside from its place, a link
    as a link. Wine gives every file its user for owner, so a setup there moves aside the
    folder an earlier one made; other groups count what lies beside it."""
    if "WINEPREFIX" not in os.environ:
        return
    folder = host(ENGINE_FOLDER)
    for path in [folder] + glob.glob(folder + ".moved-*"):
        if os.path.islink(path) or os.path.isfile(path):
            os.remove(path)
        elif os.path.isdir(path):
            shutil.rmtree(path, ignore_errors=True)


atexit.register(clear_engine_folder)


def remove_installation(t):
    t.reg_delete_key(UNINSTALL_KEY)
    clear_engine_folder()
    shutil.rmtree(host(install_dir(t)), ignore_errors=True)
    for path in shortcuts():
        if os.path.exists(path):
            os.remove(path)
    shutil.rmtree(t.appdata("Brindlex"), ignore_errors=True)


def setup(t, *args, program=None):
    """Runs a setup program to its end: (exit code, its output)."""
    return t.wine(program or t.setup, *args)


def install(t, *args, program=None):
    code, out = setup(t, "/S", *args, program=program)
    t.eq(code, 0, "exit code of setup %s: %s" % (" ".join(args), out))


def quiet_uninstall(t, *switches):
    """Runs the entry's QuietUninstallString, with switches put before its "_?=" part.
    Once it has ended, a copy of it removes the uninstaller and the folder: waits for
    that too."""
    command = entry(t)["QuietUninstallString"][1]
    if switches:
        command = command.replace(" _?=", " %s _?=" % " ".join(switches), 1)
    code, out = t.probe("run", command, timeout=90)
    deadline = time.monotonic() + 30
    while os.path.exists(host(install_dir(t))) and time.monotonic() < deadline:
        time.sleep(0.2)
    return code, out


def run_installed(t, page="system/queries.html"):
    return t.run(page, exe=installed_exe(t), timeout=60)


@case("silent install with /CID: the entry in the 32-bit view, the files, the shortcuts, "
      "and the installed program reads its cid, path and version")
def _(t):
    remove_installation(t)
    install(t, "/CID=acc-1")
    folder = install_dir(t)
    values = entry(t)
    t.check(values is not None, "no uninstall entry in the 32-bit view")
    t.eq(set(values), ENTRY_NAMES, "value names of the entry")
    expected = {
        "DisplayName": ("REG_SZ", "Brindlex"),
        "Publisher": ("REG_SZ", "Brindlex"),
        "DisplayIcon": ("REG_SZ", folder + r"\brindlex.exe,0"),
        "InstallLocation": ("REG_SZ", folder),
        "UninstallString": ("REG_SZ", '"%s\\uninstall.exe" _?=%s' % (folder, folder)),
        "QuietUninstallString": ("REG_SZ", '"%s\\uninstall.exe" /S _?=%s' % (folder, folder)),
        "NoModify": ("REG_DWORD", "0x1"),
        "NoRepair": ("REG_DWORD", "0x1"),
        "cid": ("REG_SZ", "acc-1"),
    }
    for name, value in expected.items():
        t.eq(values[name], value, name)
    if t.prefix == "w64":
        # Other tests may leave the key itself there, but never a value of ours.
        t.eq(entry(t, view=64) or {}, {}, "uninstall values in the 64-bit view")

    files = state(t)["files"]
    t.eq(sorted(files), ["brindlex.exe", "uninstall.exe"], "installed files")
    t.eq(files["brindlex.exe"], digest(t.exe), "installed program's bytes")
    kib = sum(os.path.getsize(os.path.join(host(folder), n)) for n in files) / 1024.0
    kind, size = values["EstimatedSize"]
    t.eq(kind, "REG_DWORD", "EstimatedSize type")
    t.check(abs(int(size, 16) - kib) <= 2, "EstimatedSize %s KiB, files %.0f KiB" % (size, kib))
    # A shortcut holds its target's path.
    target = installed_exe(t).encode("utf-16-le")
    for path in shortcuts():
        t.check(os.path.isfile(path), "no shortcut " + path)
        with open(path, "rb") as f:
            data = f.read()
        t.check(target.lower() in data.lower() or
                installed_exe(t).encode("ascii").lower() in data.lower(),
                "shortcut %s does not point to %s" % (path, installed_exe(t)))

    p = run_installed(t)
    t.eq(p.value("cid"), "acc-1", "getCid()")
    t.eq(p.value("path").lower(), installed_exe(t).lower(), "getModuleFilePath()")
    t.eq(values["DisplayVersion"], ("REG_SZ", p.value("version")),
         "DisplayVersion against the program's version")
    t.eq(entry(t)["DisplayVersion"], values["DisplayVersion"], "DisplayVersion after a run")


@case("upgrade keeps the cid without /CID; a bad /CID exits 2 and changes nothing; "
      "a newer installed version stays unless /ALLOWDOWNGRADE")
def _(t):
    remove_installation(t)
    install(t, "/CID=acc-1")
    version = entry(t)["DisplayVersion"][1]
    # An older installation: earlier version in the entry, other program bytes.
    t.reg_set(UNINSTALL_KEY, "DisplayVersion", "1.0.0.1")
    with open(host(installed_exe(t)), "wb") as f:
        f.write(b"MZ an older program")
    install(t)
    after = state(t)
    t.eq(after["entry"]["cid"], ("REG_SZ", "acc-1"), "cid after an upgrade without /CID")
    t.eq(after["entry"]["DisplayVersion"], ("REG_SZ", version), "DisplayVersion after upgrade")
    t.eq(after["files"]["brindlex.exe"], digest(t.exe), "program after the upgrade")

    longest = "A.b_c-9" + "x" * 57
    install(t, "/CID=" + longest)
    t.eq(entry(t)["cid"], ("REG_SZ", longest), "a 64-character cid")

    before = state(t)
    for bad in ("", "x" * 65, "acc 1", "acc/1", "acc\u00e9", '"acc-1"'):
        code, out = setup(t, "/S", "/CID=" + bad)
        t.eq(code, EXIT_BAD_COMMAND_LINE, "exit code for /CID=%r (%s)" % (bad, out))
        t.check("/CID" in out, "no message for /CID=%r: %r" % (bad, out))
        t.eq(state(t), before, "installation after /CID=%r" % bad)

    t.reg_set(UNINSTALL_KEY, "DisplayVersion", "99.0.0.0")
    newer = state(t)
    code, out = setup(t, "/S", "/CID=acc-2")
    t.eq(code, EXIT_NEWER_INSTALLED, "exit code over a newer version: " + out)
    t.check("/ALLOWDOWNGRADE" in out, "no message about the downgrade: %r" % out)
    t.eq(state(t), newer, "installation after a refused downgrade")
    install(t, "/ALLOWDOWNGRADE")
    t.eq(entry(t)["DisplayVersion"], ("REG_SZ", version), "DisplayVersion after a downgrade")
    t.eq(entry(t)["cid"], ("REG_SZ", longest), "cid after a downgrade")


@case("silent uninstall leaves only the user's data; with /PURGE nothing is left")
def _(t):
    remove_installation(t)
    install(t, "/CID=acc-1")
    run_installed(t)  # unpacks the engine into the folder for all users
    data = t.appdata("Brindlex")
    engine = host(r"C:\ProgramData\Brindlex\node.dll")
    t.check(os.path.isfile(engine), "the program unpacked no engine")
    with open(os.path.join(data, "node.dll"), "wb") as f:
        f.write(b"an engine an earlier version unpacked")
    os.makedirs(os.path.join(data, "logs"), exist_ok=True)
    user_files = {"config.data": b'{"k":"v"}', os.path.join("logs", "brindlex.log"): b"log"}
    for name, content in user_files.items():
        with open(os.path.join(data, name), "wb") as f:
            f.write(content)

    code, out = quiet_uninstall(t)
    t.eq(code, 0, "exit code of the silent uninstall: " + out)
    t.eq(state(t), {"entry": None, "files": {}, "shortcuts": {}}, "left after uninstalling")
    t.check(not os.path.exists(host(install_dir(t))), "the install folder is still there")
    if t.prefix == "w64":
        # Other tests may leave the key itself there, but never a value of ours.
        t.eq(entry(t, view=64) or {}, {}, "uninstall values in the 64-bit view")
    for name, content in user_files.items():
        with open(os.path.join(data, name), "rb") as f:
            t.eq(f.read(), content, "user file " + name)
    for path in (engine, os.path.join(data, "node.dll")):
        t.check(not os.path.exists(path), "the unpacked engine stayed: " + path)

    install(t)
    t.check("cid" not in entry(t), "a new installation got a cid without /CID")
    code, out = quiet_uninstall(t, "/PURGE")
    t.eq(code, 0, "exit code of the silent uninstall with /PURGE: " + out)
    t.eq(state(t), {"entry": None, "files": {}, "shortcuts": {}}, "left after /PURGE")
    t.check(not os.path.exists(data), "the user's folder is still there after /PURGE")


@case("setup moves a file in the engine folder's place aside and makes the folder; a link "
      "there stays, and neither setup nor uninstaller touches what it leads to")
def _(t):
    remove_installation(t)
    folder = host(ENGINE_FOLDER)
    with open(folder, "wb") as f:
        f.write(b"not a folder")
    install(t)
    t.check(os.path.isdir(folder) and not os.path.islink(folder), "setup made no engine folder")
    moved = glob.glob(folder + ".moved-*")
    t.eq([open(m, "rb").read() for m in moved], [b"not a folder"], "the file moved aside")
    t.eq(quiet_uninstall(t)[0], 0, "exit code of the uninstaller")
    t.check(not os.path.lexists(folder), "the uninstaller left the engine folder")

    # Wine acts on what a folder link leads to through any handle, so setup may only
    # leave the link, and say so; moving the link itself would do as well.
    target = os.path.join(t.tmp, "elsewhere")
    os.makedirs(target)
    with open(os.path.join(target, "node.dll"), "wb") as f:
        f.write(b"someone else's file")
    os.symlink(target, folder)

    def untouched(after):
        t.eq(os.listdir(target), ["node.dll"], "what the link leads to after " + after)
        with open(os.path.join(target, "node.dll"), "rb") as f:
            t.eq(f.read(), b"someone else's file", "its file after " + after)
    try:
        code, out = setup(t, "/S")
        t.eq(code, 0, "exit code of setup over a link: " + out)
        t.check(not os.path.islink(folder) or ENGINE_FOLDER in out,
                "setup left the link without saying so: %r" % out)
        untouched("setup")
        t.eq(quiet_uninstall(t)[0], 0, "exit code of the uninstaller over a link")
        untouched("the uninstaller")
    finally:
        if os.path.islink(folder):
            os.remove(folder)


def stderr_text(t, program):
    return "\n".join(raw.decode(t.codec, "replace") for _, raw in program.err.snapshot())


def said_waiting(t, program, name):
    """Waits until program says on standard error that it waits for the running Brindlex."""
    def said(_):
        return any(message in stderr_text(t, program) for message in WAITING_FOR_PROGRAM)
    t.check(program.err.wait_until(said, 60),
            "%s never said it waits: %r" % (name, stderr_text(t, program)))


@case("setup and uninstaller wait for a running Brindlex, then fail with exit code 3 and "
      "leave it alone; a program closed while setup waits lets setup go on")
def _(t):
    remove_installation(t)
    install(t, "/CID=acc-1")
    quiet = entry(t)["QuietUninstallString"][1]
    program = t.start("installer/running.html", exe=installed_exe(t))
    program.wait_console("run", 60)
    before = state(t)

    waiting_setup = t.start_windows_program(t.setup, ["/S", "/CID=acc-2"])
    waiting_uninstall = t.start_windows_program(t.probe_exe, ["run", quiet])
    both = (("setup", waiting_setup), ("uninstaller", waiting_uninstall))
    # Each says it waits, and is still there afterwards: it waits rather than gives up.
    for name, waiting in both:
        said_waiting(t, waiting, name)
    for name, waiting in both:
        t.check(waiting.running(), "%s ended at once after saying it waits" % name)
    for name, waiting in both:
        waiting.wait_exit(120, expect=EXIT_PROGRAM_RUNNING)
        said = stderr_text(t, waiting)
        gave_up = max(said.find(message) for message in STILL_RUNNING)
        waited = max(said.find(message) for message in WAITING_FOR_PROGRAM)
        t.check(0 <= waited < gave_up, "%s did not say it waits, then that it gave up: %r"
                % (name, said))
    t.eq(state(t), before, "installation after the refused setup and uninstall")
    t.check(program.running(), "the running program ended")

    # Closing the program while setup waits lets it go on.
    late = t.start_windows_program(t.setup, ["/S", "/CID=acc-3"])
    said_waiting(t, late, "the later setup")
    t.check(late.running(), "setup did not wait for the running program")
    code, out = t.probe("close", "Brindlex")
    t.eq(code, 0, "probe close: " + out)
    program.wait_exit(30)
    late.wait_exit(60, expect=0)
    t.eq(entry(t)["cid"], ("REG_SZ", "acc-3"), "cid after setup went on")


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(folder, name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-keyout", name + ".key", "-out", name + ".crt", "-subj", "/CN=Brindlex test " + name,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    return os.path.join(folder, name + ".crt")


def issue(folder, name, extensions):
    """A key and a certificate for it, issued by the CA in folder."""
    with open(os.path.join(folder, name + ".ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n" + extensions)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
            "-subj", "/CN=Brindlex test " + name, cwd=folder)
    openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".crt",
            cwd=folder)


def make_signing_identity(folder):
    """A throwaway CA and a code-signing certificate it issued, as signing settings."""
    ca = make_ca(folder, "ca")
    issue(folder, "signer", "extendedKeyUsage=codeSigning\n")
    with open(os.path.join(folder, "password"), "w") as f:
        f.write("a throwaway password\n")
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.crt", "-certfile", "ca.crt",
            "-passout", "file:password", "-out", "signer.p12", cwd=folder)
    env = dict(os.environ, BRINDLEX_SIGN_PKCS12=os.path.join(folder, "signer.p12"),
               BRINDLEX_SIGN_PASSWORD_FILE=os.path.join(folder, "password"))
    return ca, env


def verify(path, ca):
    """osslsigncode's verdict on path's signature against the CA: (passed, output)."""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return result.returncode == 0, result.stdout.decode("utf-8", "replace")


@case("a release signed with a throwaway certificate verifies against its CA, installs, "
      "and its program starts and loads the engine")
def _(t):
    remove_installation(t)
    ca, env = make_signing_identity(t.tmp)
    stranger = make_ca(t.tmp, "stranger")
    # As the release build does: strip, then sign.
    program = os.path.join(t.tmp, "brindlex.exe")
    shutil.copyfile(t.exe, program)
    subprocess.run(["i686-w64-mingw32-strip", "--strip-all", program], check=True)
    subprocess.run([SIGN_SCRIPT, program], env=env, check=True)
    signed_setup = os.path.join(t.tmp, "brindlex-setup-signed.exe")
    subprocess.run(["makensis", "-V2", "-INPUTCHARSET", "UTF8",
                    "-DSETTINGS=" + t.setup_settings, "-DPROGRAM=" + program,
                    "-DOUTFILE=" + signed_setup, "-DSIGN_SCRIPT=" + SIGN_SCRIPT, NSIS_SCRIPT],
                   env=env, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    for path in (program, signed_setup):
        passed, out = verify(path, ca)
        t.check(passed and "Signature verification: ok" in out,
                "%s does not verify against its CA:\n%s" % (path, out))
        t.check(re.search(r"Message digest algorithm\s*:\s*SHA256", out),
                "%s is not signed with SHA-256:\n%s" % (path, out))
        passed, out = verify(path, stranger)
        t.check(not passed, "%s verifies against an unrelated CA:\n%s" % (path, out))
    unsigned_passed, _ = verify(t.setup, ca)
    t.check(not unsigned_passed, "the setup built without signing settings is signed")
    # A wrong password fails the signing and leaves the file as it was.
    wrong = dict(env, BRINDLEX_SIGN_PASSWORD_FILE=os.path.join(t.tmp, "signer.ext"))
    before = digest(program)
    t.check(subprocess.run([SIGN_SCRIPT, program], env=wrong, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL).returncode != 0,
            "signing with a wrong password succeeded")
    t.eq(digest(program), before, "program after a failed signing")
    t.check(not os.path.exists(program + ".signing"), "a failed signing left its output")

    install(t, "/CID=signed-1", program=signed_setup)
    for name in ("brindlex.exe", "uninstall.exe"):
        passed, out = verify(os.path.join(host(install_dir(t)), name), ca)
        t.check(passed, "installed %s does not verify:\n%s" % (name, out))
    p = run_installed(t)
    t.eq(p.value("cid"), "signed-1", "getCid() of the signed program")
    t.eq(p.value("path").lower(), installed_exe(t).lower(), "getModuleFilePath()")
    code, out = quiet_uninstall(t)
    t.eq(code, 0, "exit code of the signed uninstaller: " + out)
    t.eq(state(t)["entry"], None, "entry after the signed uninstaller")


def short_spelling(t, folder):
    """folder with its first component in the 8.3 form that "dir /x" shows."""
    top, rest = folder[3:].split("\\", 1)
    for _ in range(3):  # a prefix just woken up may answer "Invalid function." once
        code, out = t.wine("cmd", "/c", "dir", "/x", "C:\\")
        found = re.search(r"<DIR>\s+(\S+)\s+%s\s*$" % re.escape(top), out, re.M)
        if found:
            break
    t.check(code == 0 and found, "no short name of %s:\n%s" % (top, out))
    return "C:\\%s\\%s" % (found.group(1), rest)


def install_into(t, folder):
    """A silent setup with /D=folder, unquoted as setup wants it even with spaces."""
    code, out = t.probe("run", '"%s" /S /D=%s' % (t.winpath(t.setup), folder), timeout=90)
    t.eq(code, 0, "exit code of setup into %s: %s" % (folder, out))


@case("setup into the same folder spelled by its short name or with '.' keeps the program, "
      "the uninstaller and the entry; into another folder it takes the earlier copy away, "
      "and nobody else may write that folder or what it held")
def _(t):
    remove_installation(t)
    install(t, "/CID=acc-1")
    before = state(t)
    folder = install_dir(t)
    parent, name = folder.rsplit("\\", 1)
    for spelling in (short_spelling(t, folder), parent + "\\.\\" + name):
        install_into(t, spelling)
        after = state(t)
        for part in ("files", "entry"):
            t.eq(after[part], before[part], "%s after setup into %s" % (part, spelling))
    other = r"C:\Brindlex elsewhere"
    # A folder anyone may write, and a DLL someone planted in it.
    planted = os.path.join(host(other), "version.dll")
    os.makedirs(host(other), exist_ok=True)
    with open(planted, "wb") as f:
        f.write(b"planted")
    os.chmod(planted, 0o666)
    os.chmod(host(other), 0o777)
    try:
        install_into(t, other)
        t.eq(sorted(os.listdir(host(other))), ["brindlex.exe", "uninstall.exe", "version.dll"],
             "files moved")
        for path in (host(other), planted):
            t.eq(os.stat(path).st_mode & stat.S_IWOTH, 0, "others may write " + path)
        t.check(not os.path.exists(host(folder)), "the earlier folder stayed")
        t.eq(entry(t)["InstallLocation"], ("REG_SZ", other), "InstallLocation after the move")
    finally:
        shutil.rmtree(host(other), ignore_errors=True)


@case("the uninstaller removes the engine from every profile's data folder, and with /PURGE "
      "the folders themselves, never going through a link")
def _(t):
    remove_installation(t)
    view = 64 if t.prefix == "w64" else 32
    profile = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-0-0-0-1999"
    t.reg_set(profile, "ProfileImagePath", r"%SystemDrive%\users\brindlex-second",
              kind="REG_EXPAND_SZ", view=view)
    ours, second = t.appdata("Brindlex"), host(r"C:\users\brindlex-second")
    theirs = os.path.join(second, "AppData", "Roaming", "Brindlex")
    outside = {os.path.join(t.tmp, "outside", "kept.txt"): b"file",
               os.path.join(t.tmp, "outside", "folder", "kept.txt"): b"folder"}
    try:
        for path in [os.path.join(d, n) for d in (ours, theirs)
                     for n in ("node.dll", "config.data", os.path.join("logs", "a.log"))] + list(outside):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(outside.get(path, b"data"))
        os.chmod(os.path.join(theirs, "config.data"), 0o444)
        os.symlink(os.path.join(t.tmp, "outside", "kept.txt"), os.path.join(ours, "file link"))
        os.symlink(os.path.join(t.tmp, "outside", "folder"), os.path.join(ours, "folder link"))
        install(t)
        t.eq(quiet_uninstall(t)[0], 0, "exit code of the uninstaller")
        for folder, names in ((ours, ["config.data", "file link", "folder link", "logs"]),
                              (theirs, ["config.data", "logs"])):
            t.eq(sorted(os.listdir(folder)), names, "left without /PURGE in " + folder)
        install(t)
        t.eq(quiet_uninstall(t, "/PURGE")[0], 0, "exit code of the uninstaller with /PURGE")
        t.check(not os.path.exists(theirs), "the second profile's data folder stayed")
        # A link is neither followed nor removed: it stays, with the folder holding it.
        t.eq(sorted(os.listdir(ours)), ["file link", "folder link"], "left in our data folder")
        for path, content in outside.items():
            with open(path, "rb") as f:
                t.eq(f.read(), content, "link target " + path)
    finally:
        t.reg_delete_key(profile, view=view)
        shutil.rmtree(second, ignore_errors=True)


def start_stand_in(t, exe):
    """Starts exe, a copy of the probe named brindlex.exe, and waits until it runs."""
    t.start_windows_program(exe, ["sleep", "120000"])
    deadline = time.monotonic() + 30
    while t.probe("memory", "brindlex.exe")[0] != 0:
        t.check(time.monotonic() < deadline, "the stand-in did not start")
        time.sleep(0.2)


@case("a brindlex.exe from another folder makes neither setup nor uninstaller wait; the "
      "installed one seen only among the processes, as one in another session is, makes "
      "setup wait and say in which session and process")
def _(t):
    remove_installation(t)
    install(t)
    elsewhere = os.path.join(t.tmp, "brindlex.exe")
    shutil.copyfile(t.probe_exe, elsewhere)
    start_stand_in(t, elsewhere)
    code, out = setup(t, "/S")
    t.eq(code, 0, "exit code of setup beside another folder's brindlex.exe: " + out)
    t.check(not any(message in out for message in WAITING_FOR_PROGRAM),
            "setup waited for another folder's brindlex.exe: %r" % out)
    t.eq(quiet_uninstall(t)[0], 0, "exit code of the uninstaller beside it")
    t.eq(t.probe("kill", "brindlex.exe")[0], 0, "probe kill")

    install(t)
    # Started by its Windows path: to Wine, drive Z: may be another volume.
    shutil.copyfile(t.probe_exe, host(installed_exe(t)))
    start_stand_in(t, installed_exe(t))
    waiting = t.start_windows_program(t.setup, ["/S"])
    said = waiting.err.wait_until(lambda lines: [raw.decode(t.codec, "replace") for _, raw in lines], 60)
    t.check(said and re.search(r"(session|会话) \d+.*(process|进程) \d+", said[0]),
            "setup did not say where Brindlex runs: %r" % said)
    t.check(waiting.running(), "setup did not wait")
    t.eq(t.probe("kill", "brindlex.exe")[0], 0, "probe kill")
    waiting.wait_exit(60, expect=0)
    t.eq(digest(host(installed_exe(t))), digest(t.exe), "program after setup went on")
