"""korvan-pack as a Windows console program (build/win64/korvan-pack.exe,
run under Wine) against the Linux one: the same inputs give the same bytes,
and both read, check and extract the same packages alike."""
import json
import os
import random
import shutil
import signal
import subprocess
import time
import zlib
from pathlib import Path

import pytest

from conftest import ARTIFACTS, FIXTURES, PACK, STUB, Wine

WINPACK = ARTIFACTS / "win64" / "korvan-pack.exe"

# A summer and a winter date: a tool that applies today's offset to every
# date instead of the offset of that date shifts one of them by an hour.
SUMMER = 1720174273  # 2024-07-05 10:11:13 UTC, an odd second
WINTER = 1704449472  # 2024-01-05 10:11:12 UTC


@pytest.fixture(scope="module")
def winebox(tmp_path_factory):
    """One prefix for the module, its wineserver kept running. Wine's own
    services start with the first program and keep the standard output and
    error they inherited open until they end, seconds later, so every
    captured run would wait for them; started once here without those pipes
    and kept alive by the server, they leave each run to end at once."""
    w = Wine(tmp_path_factory.mktemp("winpack") / "wine")
    server = "/usr/lib/wine/wineserver64" if os.path.exists("/usr/lib/wine/wineserver64") else "wineserver"
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([server, "-p"], env={**w.env, "WINEPREFIX": str(w.prefix)}, **quiet)
    subprocess.run(w.command(WINPACK, "--help"), env=w.env, timeout=120, **quiet)
    yield w
    w.shutdown()


def linux(cwd, *args, env=None):
    e = dict(os.environ)
    e.update(env or {})
    return subprocess.run([str(PACK), *map(str, args)], cwd=cwd, env=e,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def windows(wine, cwd, *args, env=None):
    return wine.run(WINPACK, *args, cwd=cwd, env=env)


def make_inputs(root):
    """A stub, a setup program, compressible and random data over several
    128 KB blocks (so the Windows tool's workers share the work), an empty
    file and language texts."""
    src = root / "src"
    src.mkdir()
    shutil.copy(STUB, src / "stub.exe")
    rnd = random.Random(7)
    (src / "Setup.exe").write_bytes(b"MZ" + bytes(rnd.randrange(256) for _ in range(3000)))
    (src / "data.bin").write_bytes(bytes(rnd.randrange(256) for _ in range(600_000)))
    (src / "readme.txt").write_bytes(b"".join(b"line %d of the readme\r\n" % i for i in range(60_000)))
    (src / "empty.txt").write_bytes(b"")
    (src / "lang.ini").write_text("[English]\ns0=Windows Tool Setup\nCharset=0\n[French]\ns0=Installation\n")
    (src / "project.ini").write_text("[package]\nstub = stub.exe\nlang = lang.ini\nsetup = Setup.exe*/p\n"
                                     "[files]\nreadme.txt\ndata.bin\n")
    for i, name in enumerate(["Setup.exe", "data.bin", "readme.txt", "empty.txt", "lang.ini"]):
        when = SUMMER if i % 2 else WINTER
        os.utime(src / name, (when, when))
    return src


# Option sets, run with the same arguments from sibling folders lin/ and win/,
# so that the summary lines name the same paths too.
BUILDS = [
    ("plain", ["--stub", "../src/stub.exe", "--out", "setup.exe", "--lang", "../src/lang.ini",
               "--setup", "Setup.exe*/quiet /x", "--dir", "../src", "data.bin", "readme.txt", "empty.txt"]),
    ("dir-backslash", ["--stub", "..\\src\\stub.exe", "--out", "setup.exe", "--dir", "..\\src",
                       "--update-url", "http://updates.example.test/p", "--settings-name", "product.ini",
                       "--agent-name", "Agent.exe", "--agent-token", "tok-123", "--creates-agent",
                       "--silent", "--announce-temp-drive", "Setup.exe*", "readme.txt"]),
    ("volumes", ["--stub", "../src/stub.exe", "--out", "setup.exe", "--dir", "../src",
                 "--volume-size", "VOLUME", "Setup.exe*", "data.bin", "readme.txt", "empty.txt"]),
    # A project file: its paths are taken from its own folder.
    ("project", ["..\\src\\project.ini", "--out", "setup.exe"]),
    ("one-job", ["--stub", "../src/stub.exe", "--out", "setup.exe", "--dir", "../src", "--jobs", "1",
                 "Setup.exe*", "data.bin", "readme.txt"]),
]


def outputs(folder):
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir()) if p.name.startswith("setup.exe")}


@pytest.mark.parametrize("tz", ["UTC", "Europe/Berlin"])
def test_same_inputs_give_the_same_bytes(winebox, tmp_path, tz):
    src = make_inputs(tmp_path)
    volume = STUB.stat().st_size + 150_000
    env = {"TZ": tz}
    for name, args in BUILDS:
        args = [str(volume) if a == "VOLUME" else a for a in args]
        lin, win = tmp_path / f"{name}-lin", tmp_path / f"{name}-win"
        lin.mkdir()
        win.mkdir()
        # The host tool takes no backslashes; give it the same paths its way.
        lin_args = [a.replace("\\", "/") if a.startswith("..\\") else a for a in args]
        a = linux(lin, "build", *lin_args, env=env)
        b = windows(winebox, win, "build", *args, env=env)
        assert a.returncode == 0, a.stderr
        assert b.returncode == 0, b.stderr
        assert b.stdout == a.stdout, name
        assert b.stderr == a.stderr == b"", name
        ours, theirs = outputs(lin), outputs(win)
        assert list(theirs) == list(ours), name
        if name == "volumes":
            assert len(ours) >= 3, list(ours)
        for file in ours:
            assert theirs[file] == ours[file], f"{name}: {file} differs"
        # Nothing left beside the output.
        assert sorted(p.name for p in win.iterdir()) == list(ours)
    # The dates of that zone, summer and winter, are in the entries.
    listing = linux(tmp_path / "plain-lin", "inspect", "setup.exe", env=env).stdout.decode()
    shown = "2024-07-05 12:11:12" if tz == "Europe/Berlin" else "2024-07-05 10:11:12"
    assert shown in listing, listing


def test_internet_mode_packages_are_the_same(winebox, tmp_path):
    src = make_inputs(tmp_path)
    for side in ("lin", "win"):
        (tmp_path / side).mkdir()
    full = ["--stub", "../src/stub.exe", "--out", "Full.exe", "--dir", "../src", "--download-token", "T0K",
            "Setup.exe*", "readme.txt"]
    web = ["--stub", "../src/stub.exe", "--out", "Web.exe", "--lang", "../src/lang.ini",
           "--download-url", "http://downloads.example.test/product/", "--download-package", "Full.exe",
           "--download-token", "T0K", "--ask-before-download"]
    for args in (full, web):
        a = linux(tmp_path / "lin", "build", *args)
        b = windows(winebox, tmp_path / "win", "build", *args)
        assert a.returncode == b.returncode == 0, (a.stderr, b.stderr)
        assert b.stdout == a.stdout
    for name in ("Full.exe", "Web.exe"):
        assert (tmp_path / "win" / name).read_bytes() == (tmp_path / "lin" / name).read_bytes(), name


def test_information_files_are_the_same(winebox, tmp_path):
    src = make_inputs(tmp_path)
    for side in ("lin", "win"):
        (tmp_path / side).mkdir()
    update = ["build", "--stub", "../src/stub.exe", "--out", "update-2.exe", "--dir", "../src",
              "--agent-token", "AGENT", "Setup.exe*", "readme.txt"]
    info = ["info", "--out", "prod.info", "--update", "update-2.exe", "--download-url", "http://u.example.test/p",
            "--version-new", "2", "--stamp", "1", "--valid-versions", "1", "--shutdown", "wm-close",
            "--running-process", "<InstallDir>Prod.exe", "--program-name", "Prod", "--agent-token", "AGENT"]
    for args in (update, info):
        a = linux(tmp_path / "lin", *args)
        b = windows(winebox, tmp_path / "win", *args)
        assert a.returncode == b.returncode == 0, (a.stderr, b.stderr)
        assert b.stdout == a.stdout
    for name in ("update-2.exe", "prod.info"):
        assert (tmp_path / "win" / name).read_bytes() == (tmp_path / "lin" / name).read_bytes(), name


def tree(folder, dated):
    """Names, bytes and, for the entries that carry a date, the file dates
    (an entry dated 0 keeps the time it was written)."""
    return {p.name: (p.read_bytes(), int(p.stat().st_mtime) if p.name in dated else None)
            for p in sorted(folder.iterdir())}


def compare_readers(winebox, work, name):
    """verify, inspect (text and JSON) and extract of one package by both
    tools, run from the same folder: same output, same exit code, same files
    with the same dates."""
    for command in (["verify", name], ["inspect", name], ["inspect", name, "--json"]):
        a = linux(work, *command)
        b = windows(winebox, work, *command)
        assert (b.returncode, b.stdout, b.stderr) == (a.returncode, a.stdout, a.stderr), command
    dated = set()
    if a.returncode == 0:
        for e in json.loads(a.stdout)["entries"]:
            fields = e["entry_text"].split("|")
            if fields[2] != "0":
                dated.add(fields[1].split("*")[0])
    lin_dir, win_dir = f"lin-{name}", f"win-{name}"
    a = linux(work, "extract", name, lin_dir)
    b = windows(winebox, work, "extract", name, win_dir)
    assert b.returncode == a.returncode, (a.stderr, b.stderr)
    assert b.stdout.replace(win_dir.encode(), lin_dir.encode()) == a.stdout
    assert b.stderr == a.stderr
    if a.returncode == 0:
        assert tree(work / win_dir, dated) == tree(work / lin_dir, dated)
    return a


def test_fixtures_read_alike(winebox, tmp_path):
    expected = json.loads((FIXTURES / "expected.json").read_text())
    for fixture in expected:
        shutil.copy(FIXTURES / fixture["file"], tmp_path / fixture["file"])
    for fixture in expected:
        name = fixture["file"]
        result = compare_readers(winebox, tmp_path, name)
        assert result.returncode == 0, result.stderr
        info = json.loads(windows(winebox, tmp_path, "inspect", name, "--json").stdout)
        assert info["header"]["Crc"] == fixture["header"]["Crc"]
        assert [e["entry_text"] for e in info["entries"]] == [e["entry_text"] for e in fixture["entries"]]
        # The files the Windows tool wrote hold what the fixture says.
        for e in fixture["entries"]:
            file = e["entry_text"].split("|")[1].split("*")[0]
            data = (tmp_path / f"win-{name}" / file).read_bytes()
            assert len(data) == e["size"], file
            assert "%08x" % zlib.crc32(data) == e["crc32"], file


def test_linux_built_packages_read_alike(winebox, tmp_path):
    src = make_inputs(tmp_path)
    work = tmp_path / "work"
    work.mkdir()
    volume = STUB.stat().st_size + 150_000
    base = ["--stub", str(src / "stub.exe"), "--dir", str(src), "--lang", str(src / "lang.ini")]
    assert linux(work, "build", *base, "--out", "one.exe", "Setup.exe*-s", "data.bin", "readme.txt",
                 "empty.txt").returncode == 0
    assert linux(work, "build", *base, "--out", "span.exe", "--volume-size", str(volume), "Setup.exe*",
                 "data.bin", "readme.txt").returncode == 0
    assert (work / "span.exe.003").exists()
    for name in ("one.exe", "span.exe"):
        assert compare_readers(winebox, work, name).returncode == 0
    # Damaged and incomplete packages: the same one line, the same exit code.
    damaged = bytearray((work / "one.exe").read_bytes())
    damaged[len(damaged) // 2] ^= 0x55
    (work / "bad.exe").write_bytes(bytes(damaged))
    shutil.copy(work / "span.exe", work / "part.exe")
    shutil.copy(work / "span.exe.002", work / "part.exe.002")
    for name in ("bad.exe", "part.exe"):
        result = compare_readers(winebox, work, name)
        assert result.returncode == 1
        assert result.stderr.count(b"\n") == 1 and name.encode() in result.stderr, result.stderr
        assert not (work / f"win-{name}").exists()


def test_ctrl_c_leaves_no_volume_behind(winebox, tmp_path):
    """Wine turns SIGINT into the console's Ctrl-C event, as a user's Ctrl-C
    in a Windows console is: the tool's handler removes every unfinished
    volume and ends with 130."""
    work = tmp_path / "work"
    work.mkdir()
    shutil.copy(STUB, work / "stub.exe")
    (work / "Setup.exe").write_bytes(b"MZ setup")
    (work / "n.bin").write_bytes(random.Random(5).randbytes(48 << 20))
    before = sorted(p.name for p in work.iterdir())
    build = subprocess.Popen(winebox.command(WINPACK, "build", "--stub", "stub.exe", "--out", "pkg.exe",
                                             "--setup", "Setup.exe", "--volume-size", "2000000", "n.bin"),
                             cwd=work, env=winebox.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # Wait until the third volume is being written, then press Ctrl-C.
    third = False
    for _ in range(1200):
        third = any(p.name.startswith("pkg.exe.003.tmp-") for p in work.iterdir())
        if third or build.poll() is not None:
            break
        time.sleep(0.05)
    build.send_signal(signal.SIGINT)
    out, err = build.communicate(timeout=60)
    assert third, "the build ended before its third volume was seen"
    assert build.returncode == 130, err
    assert sorted(p.name for p in work.iterdir()) == before


def test_a_console_shows_progress(winebox, tmp_path):
    """On a terminal Wine gives the program a console (its conhost draws it
    with escape sequences and cursor moves in place of blanks): the progress
    line shows there, from the first state to the last, then the summary."""
    import pty
    import re
    import select
    src = make_inputs(tmp_path)
    master, slave = pty.openpty()
    build = subprocess.Popen(winebox.command(WINPACK, "build", "--stub", "stub.exe", "--out", "pty.exe",
                                             "--setup", "Setup.exe", "data.bin", "readme.txt"),
                             cwd=src, env=winebox.env, stdin=slave, stdout=slave, stderr=slave)
    os.close(slave)
    seen = b""
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.5)
        if ready:
            try:
                data = os.read(master, 65536)
            except OSError:
                break
            if not data:
                break
            seen += data
        elif build.poll() is not None:
            break
    os.close(master)
    assert build.wait(timeout=60) == 0, seen
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", seen).decode("latin-1").replace(" ", "")
    total = (600_000 + 3002 + len((src / "readme.txt").read_bytes())) / (1 << 20)
    assert "korvan-pack:0/3files,0.0of%.1fMB(0%%)" % total in text, text
    assert "korvan-pack:3/3files,%.1fof%.1fMB(100%%)" % (total, total) in text, text
    assert "pty.exe:3files," in text, text
    assert (src / "pty.exe").exists()
