"""The real stub under Wine on local packages made by the real korvan-pack:
extraction, the setup's arguments and hand-shake, silent runs, damaged
packages and clean-up."""
import hashlib
import json
import os
import re
import shutil
import struct
import time

import pytest

from conftest import STUB, TESTKIT, pack, win_path, wait_for

SETUP = TESTKIT / "setup_probe.exe"
ROBOT = TESTKIT / "msgbox_robot.exe"


def make_files(folder, count):
    folder.mkdir(parents=True, exist_ok=True)
    files = []
    for i in range(count):
        path = folder / f"file{i:02d}.{'bin' if i % 3 else 'txt'}"
        data = (f"file {i}\n" * (i * 37 + 1)).encode() if i % 3 == 0 else os.urandom(1000 + i * 513)
        path.write_bytes(data)
        # Even seconds: a DOS date-time keeps two-second steps.
        stamp = 1700000000 + i * 3600 * 24 + (i % 5) * 2
        os.utime(path, (stamp, stamp))
        files.append(path)
    return files


def build(tmp_path, files, setup_args="", extra=(), name="setup.exe", setup_name="setup_probe.exe"):
    """A package of FILES (all in one folder) and the setup probe."""
    report = tmp_path / "report.json"
    folder = files[0].parent if files else tmp_path / "in"
    shutil.copy(SETUP, folder / setup_name)
    setup = f"{setup_name}*{setup_args} --report={win_path(report)}".replace("* ", "*")
    out = tmp_path / name
    pack("build", "--stub", STUB, "--out", out, "--dir", folder, "--setup", setup, *extra,
         *[f.name for f in files])
    return out, report


def read_report(report):
    return json.loads(report.read_text(encoding="latin-1"))


def sha(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def dos_time(stamp):
    t = time.localtime(stamp)
    return ((t.tm_year - 1980) << 25 | t.tm_mon << 21 | t.tm_mday << 16 | t.tm_hour << 11 | t.tm_min << 5
            | t.tm_sec // 2)


def working_folders(wine):
    return sorted(p.name for p in wine.temp_dir.glob("SETUP_*"))


def test_local_package_extracts_every_file_and_runs_the_setup(wine, tmp_path):
    files = make_files(tmp_path / "in", 20)
    package, report = build(tmp_path, files, setup_args="-s")
    proc = wine.run(package, "/x", timeout=180)
    assert proc.returncode == 0
    got = read_report(report)
    # The stub's arguments, then those after the star, then the token.
    assert got["args"] == f"/x -s --report={win_path(report)} /TH_ID={got['token']}"
    assert got["token"].startswith("_") and got["token"][1:].isdigit()
    assert "  " not in got["command_line"]
    assert got["atom_at_start"] is True
    assert got["progress"][:2] == [0, 21]  # 20 files and the setup program
    extracted = {f["name"]: f for f in got["files"]}
    for f in files:
        assert extracted[f.name]["sha256"] == sha(f), f.name
        assert extracted[f.name]["size"] == f.stat().st_size
        assert extracted[f.name]["dos_time"] == dos_time(int(f.stat().st_mtime)), f.name
    assert extracted["setup_probe.exe"]["sha256"] == sha(SETUP)
    # After the hand-shake the working folder is gone.
    assert working_folders(wine) == []


@pytest.mark.parametrize("args, extra", [(["/HIDE"], []), ([], ["--silent"])], ids=["switch", "silent-package"])
def test_hidden_run_starts_the_setup_hidden_without_a_question(wine, tmp_path, args, extra):
    files = make_files(tmp_path / "in", 2)
    package, report = build(tmp_path, files, extra=["--announce-temp-drive", *extra])
    # Hidden, no space question comes, so nothing has to answer it.
    proc = wine.run(package, *args, timeout=120)
    assert proc.returncode == 0
    got = read_report(report)
    assert got["show"] == 0  # SW_HIDE
    assert got["args"].startswith(" ".join(args + ["--report="]))


def test_package_that_creates_the_agent_writes_it_beside_the_setup(wine, tmp_path):
    files = make_files(tmp_path / "in", 2)
    package, report = build(tmp_path, files, extra=["--creates-agent", "--agent-name", "ProdAgent.exe",
                                                    "--agent-token", "tok"])
    proc = wine.run(package, "/hide", timeout=120)
    assert proc.returncode == 0
    extracted = {f["name"]: f for f in read_report(report)["files"]}
    # The agent program is the stub with its sections: no files, no package
    # end at 252, and the agent byte set in its header.
    data = bytearray(package.read_bytes())
    header = data[len(data) - 74:]
    offset = struct.unpack_from("<I", header, 4)[0]
    pos = offset
    for _ in range(2):
        pos += 4 + struct.unpack_from("<I", data, pos)[0]
    agent = bytearray(data[:pos])
    agent[252:256] = b"\0\0\0\0"
    header[69] = 1
    agent += header
    assert extracted["ProdAgent.exe"]["sha256"] == hashlib.sha256(bytes(agent)).hexdigest()
    assert extracted["ProdAgent.exe"]["dos_time"] == dos_time(int(package.stat().st_mtime))


def test_setup_without_arguments_gets_no_double_blank(wine, tmp_path):
    files = make_files(tmp_path / "in", 1)
    report = tmp_path / "report.json"
    out = tmp_path / "plain.exe"
    # The report path comes through the environment-free default: the temp folder.
    shutil.copy(SETUP, files[0].parent / "setup_probe.exe")
    pack("build", "--stub", STUB, "--out", out, "--dir", files[0].parent, "--setup", "setup_probe.exe",
         files[0].name)
    proc = wine.run(out, timeout=120)
    assert proc.returncode == 0
    got = read_report(wine.temp_dir / "korvan_setup_report.json")
    assert got["command_line"].endswith(f"setup_probe.exe /TH_ID={got['token']}")
    assert "  " not in got["command_line"]


def test_a_dialog_that_outlives_the_setup_is_waited_for(wine, tmp_path):
    files = make_files(tmp_path / "in", 1)
    package, report = build(tmp_path, files, setup_args="--window-ms=3000")
    started = time.monotonic()
    proc = wine.run(package, "/hide", timeout=120)
    assert proc.returncode == 0
    assert read_report(report)["token"]
    # The stub ended only after the holder's window (and the holder) had gone.
    assert time.monotonic() - started >= 3
    assert working_folders(wine) == []


def flip_byte(path, offset_from_end=200):
    data = bytearray(path.read_bytes())
    data[len(data) - offset_from_end] ^= 0x40
    path.write_bytes(bytes(data))


def test_flipped_byte_shows_bad_crc_and_starts_no_setup(wine, tmp_path):
    files = make_files(tmp_path / "in", 3)
    package, report = build(tmp_path, files)
    flip_byte(package)
    robot = wine.start(ROBOT, "--timeout=60", "report", "press:1")
    proc = wine.run(package, "/hide", timeout=120)
    out, _ = robot.communicate(timeout=60)
    box = json.loads(out.decode("latin-1").splitlines()[0])
    assert box["caption"] == "Error"
    assert "Bad CRC!" in box["text"]
    assert proc.returncode == 0
    assert not report.exists()
    assert working_folders(wine) == []


@pytest.mark.parametrize("answer, extracted", [("press-caption:&No", False), ("press-caption:&Yes", True)])
def test_space_question_names_the_drive_and_no_ends_the_run(wine, tmp_path, answer, extracted):
    files = make_files(tmp_path / "in", 3)
    package, report = build(tmp_path, files, extra=["--announce-temp-drive"])
    robot = wine.start(ROBOT, "--timeout=60", "report", answer)
    proc = wine.run(package, timeout=120)
    out, _ = robot.communicate(timeout=60)
    box = json.loads(out.decode("latin-1").splitlines()[0])
    assert box["caption"] == "Confirm"
    assert "Temp Drive (C:)" in box["text"]
    assert re.search(r"required on your Temp drive is: \t  \d+\.\d{3} MB", box["text"])
    assert re.search(r"Free space available on your Temp drive is: \t  \d+\.\d+ MB", box["text"])
    assert [b["caption"] for b in box["buttons"]] == ["&Yes", "&No"]
    assert proc.returncode == 0
    assert report.exists() == extracted
    assert working_folders(wine) == []


def test_second_start_of_the_same_path_ends_at_once(wine, tmp_path):
    files = make_files(tmp_path / "in", 1)
    package, report = build(tmp_path, files, setup_args="--sleep-ms=8000")
    first = wine.start(package, "/hide")
    try:
        assert wait_for(report.exists, timeout=60)
        second = wine.run(package, "/hide", timeout=60)
        assert second.returncode == 0
        assert "==== STUB END ====>" in second.out
        assert "FileInfo.FilesCount" not in second.out  # no extraction in the second process
        # The same file under another path is another stub and runs.
        other = tmp_path / "copy" / "setup.exe"
        other.parent.mkdir()
        shutil.copy(package, other)
        third = wine.run(other, "/hide", timeout=120)
        assert "FileInfo.FilesCount=" in third.out
    finally:
        out, _ = first.communicate(timeout=120)
    assert first.returncode == 0
