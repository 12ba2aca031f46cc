"""korvan-pack's output as a build server and a vendor at a terminal see it:
nothing but errors when standard error is no terminal, a progress line on a
terminal (a pty here), and every error one line naming the file at fault
with a documented exit code, with nothing left behind."""
import os
import pty
import random
import resource
import shutil
import signal
import subprocess

import pytest

from conftest import PACK, STUB


def make_folder(root):
    work = root / "work"
    work.mkdir()
    shutil.copy(STUB, work / "stub.exe")
    (work / "Setup.exe").write_bytes(b"MZ setup program")
    (work / "readme.txt").write_text("read me\n" * 1000)
    rnd = random.Random(3)
    (work / "big.bin").write_bytes(bytes(rnd.randrange(256) for _ in range(2_000_000)))
    (work / "lang.ini").write_text("[English]\ns0=Setup\n")
    return work


def run(cwd, *args, **kw):
    return subprocess.run([str(PACK), *map(str, args)], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          **kw)


def run_on_pty(cwd, *args):
    """Runs with standard output and error on a pseudo-terminal; returns the
    exit code and everything the terminal received."""
    master, slave = pty.openpty()
    proc = subprocess.Popen([str(PACK), *map(str, args)], cwd=cwd, stdin=subprocess.DEVNULL, stdout=slave,
                            stderr=slave)
    os.close(slave)
    seen = b""
    while True:
        try:
            data = os.read(master, 65536)
        except OSError:  # the other end closed
            break
        if not data:
            break
        seen += data
    os.close(master)
    return proc.wait(), seen


BUILD = ["build", "--stub", "stub.exe", "--out", "setup.exe", "--setup", "Setup.exe", "--lang", "lang.ini",
         "big.bin", "readme.txt"]


def test_not_a_terminal_prints_nothing_but_errors(tmp_path):
    work = make_folder(tmp_path)
    proc = run(work, *BUILD)
    assert proc.returncode == 0
    assert proc.stderr == b""
    assert proc.stdout.startswith(b"setup.exe: 3 files,") and proc.stdout.count(b"\n") == 1
    spanned = run(work, *BUILD, "--out", "span.exe", "--volume-size", STUB.stat().st_size + 900_000)
    assert spanned.returncode == 0 and spanned.stderr == b""
    quiet = run(work, *BUILD, "--out", "quiet.exe", "--quiet")
    assert (quiet.returncode, quiet.stdout, quiet.stderr) == (0, b"", b"")
    assert (work / "quiet.exe").read_bytes() == (work / "setup.exe").read_bytes()


@pytest.mark.parametrize("extra", [[], ["--volume-size", str(STUB.stat().st_size + 900_000)]])
def test_a_terminal_shows_progress(tmp_path, extra):
    work = make_folder(tmp_path)
    code, seen = run_on_pty(work, *BUILD, *extra)
    assert code == 0, seen
    text = seen.decode("latin-1")
    # The first and the last state of the line, redrawn in place.
    assert "\rkorvan-pack: 0/3 files, 0.0 of 1.9 MB (0%)" in text, text
    assert "\rkorvan-pack: 3/3 files, 1.9 of 1.9 MB (100%)" in text, text
    # Wiped before the summary line, which starts a clean line.
    lines = text.split("\r")
    wipe = lines[-3]
    assert wipe.strip(" ") == "" and len(wipe) >= len("korvan-pack: 3/3 files, 1.9 of 1.9 MB (100%)")
    assert lines[-2].startswith("setup.exe: 3 files,"), lines[-2:]
    # The package is the one a run without a terminal makes.
    again = run(work, *BUILD, "--out", "plain.exe", *extra)
    assert again.returncode == 0
    assert (work / "plain.exe").read_bytes() == (work / "setup.exe").read_bytes()


def test_quiet_on_a_terminal_shows_nothing(tmp_path):
    work = make_folder(tmp_path)
    code, seen = run_on_pty(work, *BUILD, "--quiet")
    assert (code, seen) == (0, b"")
    assert (work / "setup.exe").exists()


def limit_file_size():
    # Writes past the limit fail with EFBIG instead of killing the process.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    limit = STUB.stat().st_size + 50_000
    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))


def damage(work):
    data = bytearray((work / "good.exe").read_bytes())
    data[len(data) // 2] ^= 0xFF
    (work / "damaged.exe").write_bytes(bytes(data))


def truncate(work):
    (work / "short.exe").write_bytes((work / "good.exe").read_bytes()[:-100])


def fill(work):
    (work / "full").mkdir()
    (work / "full" / "old.txt").write_text("x")


def as_folder(work):
    (work / "adir").mkdir()


# (what, arguments, set-up, exit code, texts the one line holds)
ERRORS = [
    ("missing file", ["build", "--stub", "stub.exe", "--out", "o.exe", "--setup", "Setup.exe", "gone.txt"],
     None, 1, ["gone.txt", "missing"]),
    ("missing stub", ["build", "--stub", "nostub.exe", "--out", "o.exe", "--setup", "Setup.exe"],
     None, 1, ["nostub.exe", "stub"]),
    ("stub not an executable", ["build", "--stub", "readme.txt", "--out", "o.exe", "--setup", "Setup.exe"],
     None, 1, ["readme.txt", "not a Windows executable"]),
    ("folder as a file", ["build", "--stub", "stub.exe", "--out", "o.exe", "--setup", "Setup.exe", "adir"],
     as_folder, 1, ["adir", "not a regular file"]),
    ("output folder missing", ["build", "--stub", "stub.exe", "--out", "nowhere/o.exe", "--setup", "Setup.exe"],
     None, 1, ["nowhere/o.exe", "does not exist"]),
    ("output is an input", ["build", "--stub", "stub.exe", "--out", "readme.txt", "--setup", "Setup.exe",
                            "readme.txt"], None, 1, ["readme.txt", "input"]),
    ("bad language file", ["build", "--stub", "stub.exe", "--out", "o.exe", "--lang", "bad.ini",
                           "--setup", "Setup.exe"], lambda w: (w / "bad.ini").write_text("[English]\nno value\n"),
     1, ["bad.ini line 2", "key = value"]),
    ("output cannot be written", ["build", "--stub", "stub.exe", "--out", "o.exe", "--setup", "Setup.exe",
                                  "big.bin"], "fsize", 1, ["cannot write o.exe", "File too large"]),
    ("volume size too small", ["build", "--stub", "stub.exe", "--out", "o.exe", "--setup", "Setup.exe",
                               "--volume-size", "1000"], None, 1, ["--volume-size 1000", "too small"]),
    ("damaged package", ["verify", "damaged.exe"], damage, 1, ["damaged.exe"]),
    ("truncated package", ["extract", "short.exe", "out"], truncate, 1, ["short.exe"]),
    ("missing package", ["inspect", "nothing.exe"], None, 1, ["nothing.exe"]),
    ("extract into a full folder", ["extract", "good.exe", "full"], fill, 1, ["full", "not empty"]),
    ("unknown option", ["build", "--stub", "stub.exe", "--out", "o.exe", "--bogus"], None, 2, ["--bogus"]),
    ("bad value", ["build", "--stub", "stub.exe", "--out", "o.exe", "--jobs", "many"], None, 2, ["jobs", "many"]),
    ("bad arch", ["build", "--arch", "arm64", "--out", "o.exe"], None, 2, ["--arch", "arm64"]),
    ("unknown command", ["pack", "x"], None, 2, ["pack"]),
]


@pytest.mark.parametrize("what,args,setup,code,texts", ERRORS, ids=[e[0] for e in ERRORS])
def test_errors_are_one_line_with_their_exit_code(tmp_path, what, args, setup, code, texts):
    work = make_folder(tmp_path)
    assert run(work, "build", "--stub", "stub.exe", "--out", "good.exe", "--setup", "Setup.exe",
               "readme.txt").returncode == 0
    if callable(setup):
        setup(work)
    before = sorted(p.name for p in work.rglob("*"))
    proc = run(work, *args, preexec_fn=limit_file_size if setup == "fsize" else None)
    err = proc.stderr.decode()
    assert proc.returncode == code, err
    lines = err.splitlines()
    if what == "unknown command":
        lines = lines[-1:]  # after the usage text
    assert len(lines) == 1 and err.endswith("\n"), err
    assert lines[0].startswith("korvan-pack: "), err
    for text in texts:
        assert text in lines[0], err
    if proc.returncode != 0 and args[0] == "build":
        assert proc.stdout == b""
    # Nothing written, nothing left behind.
    assert sorted(p.name for p in work.rglob("*")) == before
