"""Spanned packages under the real stub: volumes made by korvan-pack with
files continued from one volume in the next, the prompt for a volume that
is missing (OK once it is there, Cancel), "ForcePrompt", and korvan-pack
extract giving the same bytes on the host."""
import hashlib
import json
import os
import shutil
import subprocess

from conftest import PACK, STUB, TESTKIT, pack, win_path

SETUP = TESTKIT / "setup_probe.exe"
ROBOT = TESTKIT / "msgbox_robot.exe"
SPAN_DISK = r"HKEY_CURRENT_USER\Software\Fellmoor\Korvan\SpanDisk"


def volume_size():
    """With the probe (about 850 KB, packing to about 300 KB) and 400 KB
    that do not compress, volumes of the stub's size and 200 KB more give
    three, the probe continued in the second and big.bin in the third, for
    any stub from 50 to 300 KB."""
    return STUB.stat().st_size + 200000


def sha(data):
    return hashlib.sha256(data).hexdigest()


def spanned(tmp_path):
    """The package, its report path and the input files by name."""
    folder = tmp_path / "in"
    folder.mkdir()
    shutil.copy(SETUP, folder / "setup_probe.exe")
    (folder / "big.bin").write_bytes(os.urandom(400000))
    (folder / "notes.txt").write_bytes(b"volume notes\r\n" * 300)
    (folder / "empty.dat").write_bytes(b"")
    report = tmp_path / "report.json"
    out = tmp_path / "disk" / "setup.exe"
    out.parent.mkdir()
    pack("build", "--stub", STUB, "--out", out, "--dir", folder, "--volume-size", volume_size(),
         "--setup", f"setup_probe.exe*--report={win_path(report)}", "big.bin", "notes.txt", "empty.dat")
    inspect = json.loads(pack("inspect", "--json", out).stdout)
    # The layout this scenario is about: three volumes, a file in two of them.
    assert [v["path"] for v in inspect["volumes"]] == [str(out), f"{out}.002", f"{out}.003"]
    continued = [e["name"] for e in inspect["entries"] if e["continued"]]
    assert "big.bin" in continued and "setup_probe.exe" in continued
    inputs = {p.name: p.read_bytes() for p in folder.iterdir()}
    return out, report, inputs


def extracted(report):
    got = json.loads(report.read_text(encoding="latin-1"))
    return {f["name"]: f for f in got["files"]}


def working_folders(wine):
    return sorted(p.name for p in wine.temp_dir.glob("SETUP_*"))


def read_box(robot):
    line = robot.stdout.readline().decode("latin-1")
    assert line, "no message box came"
    box = json.loads(line)
    assert "error" not in box, box
    return box


def assert_volume_prompt(box, number):
    assert box["caption"] == "Attention"
    text = box["text"]
    assert f"Please insert DISK #{number} and press OK to continue" in text
    # The number is in bold, as the prompt's mark-up asks.
    assert f"DISK #{number}" in [text[a:b] for a, b in box["bold"]]
    assert [b["caption"] for b in box["buttons"]] == ["&OK", "&Cancel"]


def no_box_left(wine):
    proc = wine.run(ROBOT, "--timeout=2", "report", timeout=60)
    return proc.returncode == 1 and '"error"' in proc.out


def test_three_volumes_extract_intact_and_match_korvan_pack_extract(wine, tmp_path):
    package, report, inputs = spanned(tmp_path)
    proc = wine.run(package, "/hide", timeout=240)
    assert proc.returncode == 0
    files = extracted(report)
    for name, data in inputs.items():
        assert files[name]["sha256"] == sha(data), name
        assert files[name]["size"] == len(data), name
    # No volume was asked for: all of them lie beside the stub.
    assert no_box_left(wine)
    assert working_folders(wine) == []

    # The host's extractor on the same volumes: the same bytes, file by file.
    host = tmp_path / "host"
    pack("extract", package, host)
    assert sorted(p.name for p in host.iterdir()) == sorted(files)
    for p in host.iterdir():
        assert sha(p.read_bytes()) == files[p.name]["sha256"], p.name
        assert p.stat().st_size == files[p.name]["size"], p.name


def test_missing_volume_is_asked_for_and_ok_goes_on_once_it_is_there(wine, tmp_path):
    package, report, inputs = spanned(tmp_path)
    second = package.parent / "setup.exe.002"
    aside = tmp_path / "aside.002"
    second.rename(aside)
    flag = tmp_path / "volume-back"
    robot = wine.start(ROBOT, "--timeout=120", "report", f"hold:{win_path(flag)}", "press-caption:&OK")
    stub = wine.start(package, "/hide")
    try:
        box = read_box(robot)
        assert_volume_prompt(box, 2)
        # The stub waits on its question; the first volume's files are out.
        assert stub.poll() is None
        assert not report.exists()
        aside.rename(second)
        flag.write_text("go")
        robot.communicate(timeout=120)
        assert robot.returncode == 0
        stub.communicate(timeout=240)
    finally:
        for p in (robot, stub):
            if p.poll() is None:
                p.kill()
    assert stub.returncode == 0
    files = extracted(report)
    for name, data in inputs.items():
        assert files[name]["sha256"] == sha(data), name
    # Volume 3 was there: one question only.
    assert no_box_left(wine)
    assert working_folders(wine) == []


def test_cancel_on_the_volume_prompt_starts_no_setup(wine, tmp_path):
    package, report, _ = spanned(tmp_path)
    (package.parent / "setup.exe.003").unlink()
    robot = wine.start(ROBOT, "--timeout=120", "report", "press-caption:&Cancel")
    proc = wine.run(package, "/hide", timeout=240)
    out, _ = robot.communicate(timeout=60)
    assert robot.returncode == 0
    box = json.loads(out.decode("latin-1").splitlines()[0])
    # Volume 2 is there, so the question is for the third.
    assert_volume_prompt(box, 3)
    # The stub ended by itself: no box after the prompt waited for an answer.
    assert proc.returncode == 0
    assert not report.exists()
    assert no_box_left(wine)
    assert working_folders(wine) == []


def test_force_prompt_asks_for_every_volume(wine, tmp_path):
    package, report, inputs = spanned(tmp_path)
    wine.reg_add(SPAN_DISK, "ForcePrompt", "1")
    robot = wine.start(ROBOT, "--timeout=120", "report", "press-caption:&OK", "next", "report",
                       "press-caption:&OK")
    proc = wine.run(package, "/hide", timeout=240)
    out, _ = robot.communicate(timeout=60)
    assert robot.returncode == 0, out
    boxes = [json.loads(line) for line in out.decode("latin-1").splitlines()]
    assert len(boxes) == 2
    assert_volume_prompt(boxes[0], 2)
    assert_volume_prompt(boxes[1], 3)
    assert proc.returncode == 0
    files = extracted(report)
    for name, data in inputs.items():
        assert files[name]["sha256"] == sha(data), name
    assert no_box_left(wine)


def test_korvan_pack_names_the_missing_volume_instead_of_asking(tmp_path):
    package, _, _ = spanned(tmp_path)
    (package.parent / "setup.exe.002").unlink()
    proc = subprocess.run([str(PACK), "extract", str(package), str(tmp_path / "out")],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
    assert proc.returncode == 1
    assert f"{package}.002: volume 2 of the package is missing" in proc.stderr
    assert not (tmp_path / "out").exists()
