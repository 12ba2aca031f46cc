"""How a local run ends when something goes wrong or the user stops it: the
hand-shake that fails, damaged packages that still carry a right checksum,
an entry that would leave the folder, and the window closed mid-way."""
import json
import os
import struct
import zlib

import pytest

from conftest import TESTKIT, win_path, wait_for
from test_extract import ROBOT, build, make_files, read_report, working_folders

POKE = TESTKIT / "window_poke.exe"
HEADER = 74


# ---- Package surgery ------------------------------------------------------------
# The package is changed after korvan-pack wrote it and the checksum made
# right again, so that the damage reaches the extractor instead of stopping
# at the checksum.

def package_end(data):
    if data[:2] == b"MZ" and data[256:258] == b"PE":
        value = struct.unpack_from("<i", data, 252)[0]
        if value > 0:
            return value, True
    return len(data), False


def get_crc(data):
    end, marked = package_end(data)
    r = end - HEADER
    start = 0
    if marked:
        start, r = 512, r - 512
    total = 0
    pos = start
    while True:
        block = data[pos:pos + 4096]
        pos += len(block)
        for k in range(len(block) // 4):
            r -= 4
            if r > 4:
                total += struct.unpack_from("<I", block, 4 * k)[0]
        if r > 4:
            total += 1234
        if len(block) != 4096:
            return total & 0xFFFFFFFF


def chunks(data):
    end, _ = package_end(data)
    offset = struct.unpack_from("<I", data, end - HEADER + 4)[0]
    out = []
    pos = offset
    while end - pos > HEADER:
        length = struct.unpack_from("<I", data, pos)[0]
        out.append((pos, length))
        pos += 4 + length
    return out


def reseal(data):
    end, _ = package_end(data)
    struct.pack_into("<I", data, end - HEADER + 16, get_crc(data))
    return data


def add_entry(data, entry_text, content):
    """One more file entry before the header."""
    end, _ = package_end(data)
    chunk = zlib.compress(entry_text + b"\0" + content, 9)
    header = bytearray(data[end - HEADER:end])
    struct.pack_into("<I", header, 8, struct.unpack_from("<I", header, 8)[0] + 1)
    out = bytearray(data[:end - HEADER]) + struct.pack("<I", len(chunk)) + chunk + header
    struct.pack_into("<i", out, 252, len(out))
    return out


def first_entry(data, sections=2):
    return chunks(data)[sections]


def damage_magic(data):
    end, _ = package_end(data)
    struct.pack_into("<I", data, end - HEADER + 12, 0x12345678)
    return reseal(data)


def damage_length(data):
    pos, _ = first_entry(data)
    struct.pack_into("<I", data, pos, 0x7FFFFFF0)
    return reseal(data)


def damage_stream(data):
    pos, length = first_entry(data)
    middle = pos + 4 + length // 2
    for k in range(8):
        data[middle + k] ^= 0xFF
    return reseal(data)


def truncate(data):
    return data[:len(data) - 1000]


def box_of(robot):
    out, _ = robot.communicate(timeout=120)
    lines = [json.loads(line) for line in out.decode("latin-1").splitlines() if line.startswith("{")]
    assert lines and "caption" in lines[0], out
    return lines[0]


@pytest.mark.parametrize("damage", [truncate, damage_magic, damage_length, damage_stream],
                         ids=lambda f: f.__name__)
def test_damaged_package_shows_bad_crc_starts_nothing_and_leaves_nothing(wine, tmp_path, damage):
    files = make_files(tmp_path / "in", 3)
    package, report = build(tmp_path, files)
    package.write_bytes(bytes(damage(bytearray(package.read_bytes()))))
    robot = wine.start(ROBOT, "--timeout=90", "report", "press:1")
    proc = wine.run(package, "/hide", timeout=180)
    box = box_of(robot)
    assert box["caption"] == "Error"
    assert "Bad CRC!" in box["text"]
    assert proc.returncode == 0
    assert not report.exists()
    assert working_folders(wine) == []


def test_entry_that_would_leave_the_folder_is_one_failed_write(wine, tmp_path):
    files = make_files(tmp_path / "in", 2)
    package, report = build(tmp_path, files)
    data = add_entry(bytearray(package.read_bytes()), b"|..\\evil.txt|0|", b"outside")
    data = add_entry(data, b"|..\\evil.exe*|0|", b"never started")
    package.write_bytes(bytes(reseal(data)))
    robot = wine.start(ROBOT, "--timeout=90", "report", "press:1")
    proc = wine.run(package, "/hide", timeout=180)
    box = box_of(robot)
    assert box["caption"] == "Error"
    assert "Unable to save Extracted File!" in box["text"]
    assert "..\\evil.txt" in box["text"]
    assert proc.returncode == 0
    # The rest of the package was extracted and its own setup ran.
    got = read_report(report)
    assert {f["name"] for f in got["files"]} >= {f.name for f in files}
    assert not list(wine.temp_dir.rglob("evil*"))
    assert not list(tmp_path.rglob("evil*"))
    assert working_folders(wine) == []


def write_settings(folder, keep_links_flag="1"):
    """The product's two settings files beside the stub, naming two links."""
    links = [folder / "StartUp.lnk", folder / "Check for updates.lnk"]
    for link in links:
        link.write_bytes(b"link")
    (folder / "demo.original").write_text(
        "[UnInstall]\r\n"
        f"StartUpLink={win_path(links[0])}\r\n"
        f"CheckforNewUpdateLink={win_path(links[1])}\r\n")
    (folder / "demo.info").write_text(
        "[NewSetup]\r\n"
        f"RemoveStartUpShortcut={keep_links_flag}\r\n"
        f"RemoveCheckForNewUpdateShortcut={keep_links_flag}\r\n")
    return links


@pytest.mark.parametrize("keep_atom", [False, True])
def test_links_go_only_when_the_setup_completes_the_hand_shake(wine, tmp_path, keep_atom):
    files = make_files(tmp_path / "in", 1)
    package, report = build(tmp_path, files, setup_args="--keep-atom" if keep_atom else "",
                            extra=["--settings-name", "demo.ini"])
    links = write_settings(package.parent)
    proc = wine.run(package, "/hide", timeout=180)
    assert proc.returncode == 0
    got = read_report(report)
    assert got["atom_at_start"] is True
    # A setup that leaves the atom has not completed: the run fails and the
    # product's links stay; one that removes it has, and the links go.
    assert [link.exists() for link in links] == [keep_atom, keep_atom]
    assert working_folders(wine) == []


def test_closing_the_window_twice_during_extraction_ends_the_run(wine, tmp_path):
    folder = tmp_path / "in"
    folder.mkdir()
    names = []
    # Large, incompressible files, so that extraction takes a while.
    for i in range(24):
        path = folder / f"big{i:02d}.bin"
        path.write_bytes(os.urandom(8 << 20))
        names.append(path)
    package, report = build(tmp_path, names)
    go = tmp_path / "close.go"
    poke = wine.start(POKE, f"--class={win_path(package)}", "--timeout=120", f"hold:{win_path(go)}",
                      "post:16", "sleep:200", "post:16", "wait-gone")
    run = wine.start(package, "/hide")
    try:
        assert wait_for(lambda: any(p.is_dir() and any(p.iterdir())
                                    for p in wine.temp_dir.glob("SETUP_*")), timeout=120)
        go.write_text("go")
        out, _ = poke.communicate(timeout=120)
        assert poke.returncode == 0, out
    finally:
        run_out, _ = run.communicate(timeout=120)
    assert run.returncode == 0
    assert not report.exists()
    # The run ended by itself: no error box for files that could no longer
    # be written holds it, and nothing is left in the temporary folder.
    assert working_folders(wine) == []
