"""Path macros as a Windows process expands them: the machine's folders, the
origin folder a stub leaves behind, the registered owner, and month names
in the user's language."""
import os
import re
import select
import shutil
import time
from pathlib import Path

from conftest import STUB, TESTKIT, win_path

PROBE = TESTKIT / "macro_probe.exe"
DYN_KEY = r"HKEY_CURRENT_USER\Software\Korvan_Dyn_Data"
CURRENT_VERSION = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"

ENGLISH = ["January", "February", "March", "April", "May", "June", "July", "August",
           "September", "October", "November", "December"]
FRENCH = ["janvier", "février", "mars", "avril", "mai", "juin", "juillet", "août",
          "septembre", "octobre", "novembre", "décembre"]


def expand(wine, *texts, options=()):
    proc = wine.run(PROBE, *options, *texts, check=True)
    lines = [line for line in proc.out.replace("\r\n", "\n").split("\n") if line.startswith("=")]
    assert len(lines) == len(texts), proc.out
    return [line[1:] for line in lines]


def environment(wine):
    proc = wine.run("cmd", "/c", "set", check=True)
    env = {}
    for line in proc.out.replace("\r\n", "\n").split("\n"):
        name, sep, value = line.partition("=")
        if sep:
            env[name.upper()] = value
    return env


def host_path(wine, path):
    """Where a C: path of the prefix lives on this machine."""
    assert path[:3].upper() == "C:\\", path
    return wine.prefix / "drive_c" / Path(*path[3:].split("\\"))


def read_until(proc, marker, timeout):
    """What a running program has written, up to Marker or the deadline."""
    out = b""
    deadline = time.monotonic() + timeout
    while marker not in out and time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], 0.5)
        if ready:
            chunk = os.read(proc.stdout.fileno(), 4096)
            if not chunk:
                break
            out += chunk
    return out


def test_folder_macros_name_the_prefixs_folders(wine):
    env = environment(wine)
    names = ["<WinDir>", "<WinSysDir>", "<TempDir>", "<UserAppDataDir>", "<MyDocumentsDir>",
             "<ProgramFilesDir>"]
    got = dict(zip(names, expand(wine, *names)))
    expected = {
        "<WinDir>": env["WINDIR"],
        "<WinSysDir>": env["WINDIR"] + "\\system32",
        "<TempDir>": env["TEMP"].rstrip("\\"),
        "<UserAppDataDir>": env["APPDATA"],
        "<MyDocumentsDir>": env["USERPROFILE"] + "\\Documents",
        "<ProgramFilesDir>": env["PROGRAMFILES"],
    }
    for name in names:
        assert got[name].lower() == expected[name].lower(), (name, got[name], expected[name])
        assert not got[name].endswith("\\"), name
        assert host_path(wine, got[name]).is_dir(), (name, got[name])

    notepad, folded, listed = expand(
        wine, "<WinDir>notepad.exe", "<InstallDir>bin\\..\\app.exe", "|<WinDir>|<TempDir>|",
        options=["-install", "C:\\Apps", "", ""])
    assert host_path(wine, notepad).is_file(), notepad
    assert folded == "C:\\Apps\\app.exe"
    assert listed.lower() == f"|{expected['<WinDir>']}|{expected['<TempDir>']}|".lower()


def test_origin_dir_is_where_the_last_stub_ran(wine, tmp_path):
    origin = tmp_path / "Origin Folder"
    origin.mkdir()
    stub = origin / "stub.exe"
    shutil.copy2(STUB, stub)
    # Before any stub has run: the folder of the running program.
    assert expand(wine, "<OriginDir>") == [win_path(TESTKIT)]
    # Without a package the stub goes on to tell the user so; the value is
    # written before that, and the probe shares the stub's registry.
    running = wine.start(stub, "x")
    try:
        # A program started while the stub's process is still coming up can
        # hang for good under Wine: wait for the stub's trace of its window
        # flow, which it writes after the value.
        out = read_until(running, b"GetCrc - START", timeout=60)
        assert b"GetCrc - START" in out, out
        assert wine.reg_query(DYN_KEY, "OriginDir") == win_path(origin)
        folder, setup, drive = expand(wine, "<OriginDir>", "<OriginDir>setup.exe", "<OriginDrive>")
    finally:
        wine.shutdown()
        running.wait(timeout=30)
    assert folder == win_path(origin)
    assert setup == win_path(origin) + "\\setup.exe"
    assert drive == "Z:\\"


def test_user_name_is_the_registered_owner(wine):
    wine.reg_add(CURRENT_VERSION, "RegisteredOwner", "Ada Lovelace")
    wine.reg_add(CURRENT_VERSION, "RegisteredOrganization", "Fellmoor Ltd")
    assert expand(wine, "<UserName> / <CompanyName>") == ["Ada Lovelace / Fellmoor Ltd"]


def month_of(wine):
    named, iso = expand(wine, "<Date=#>", "<Date=6>")
    m = re.fullmatch(r"(\d\d)/(.+)/(\d{4})", named)
    assert m, named
    year, month, day = iso.split("-")
    assert (m.group(1), m.group(3)) == (day, year), (named, iso)
    return m.group(2), int(month)


def test_month_names_follow_the_users_language(wine_factory):
    for lc_all, names in (("fr_FR.UTF-8", FRENCH), ("C.UTF-8", ENGLISH)):
        wine = wine_factory(lc_all)
        name, month = month_of(wine)
        if name != names[month - 1]:
            name, month = month_of(wine)  # the month may have turned between the two readings
        assert name == names[month - 1], (lc_all, name, month)
