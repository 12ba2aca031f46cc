"""The internet unit under Wine against the loopback server: http_probe calls
HttpDownload (into a file or into memory), the size probe and the connection
test, and prints what they gave."""
import calendar
import json
import os
import time

import pytest

from conftest import TESTKIT, win_path
from httpserver import LoopbackServer

PROBE = TESTKIT / "http_probe.exe"

pytestmark = pytest.mark.skipif(not PROBE.exists(), reason="test kit not built")

MTIME = 1700000000  # the server's Last-Modified for every file here


@pytest.fixture
def server():
    with LoopbackServer() as s:
        yield s


def probe(wine, *args, env=None):
    proc = wine.run(PROBE, *args, timeout=180, env=env)
    lines = [line for line in proc.out.splitlines() if line.startswith("{")]
    assert lines, f"no report:\n{proc.out}\n{proc.stderr.decode('latin-1')}"
    return json.loads(lines[-1])


def dos_stamp(mtime):
    """Last-Modified as the library hands it over (GMT), packed as a DOS date-time."""
    t = time.gmtime(mtime)
    return ((t.tm_year - 1980) << 25 | t.tm_mon << 21 | t.tm_mday << 16 | t.tm_hour << 11 | t.tm_min << 5
            | t.tm_sec // 2)


def partial_name(target, length, mtime=MTIME, stamped=True):
    total = (length + (dos_stamp(mtime) if stamped else 0)) & 0xFFFFFFFF
    if total >= 1 << 31:
        total -= 1 << 32
    return target.with_name(f"{target.name}.{total}")


def block_of(length):
    return max(1, min(10240, length // 10))


def round_half_even(num, den):
    return round(num / den) if num % den * 2 != den else (num // den) + ((num // den) & 1)


def test_memory_download_is_whole_and_leaves_no_file(wine, server, tmp_path):
    data = os.urandom(300_000)
    server.add("info.bin", data, mtime=MTIME)
    out = tmp_path / "content.bin"
    got = probe(wine, f"--url={server.url}/info.bin", f"--content-out={win_path(out)}")
    assert got["error"] == ""
    assert out.read_bytes() == data
    # 300000 / 10240 = 29.3 blocks: range 29 + 1, starting at 0, one step per block.
    assert got["setup"] == [0, 30, 0, 1]
    assert got["steps"] == 30
    assert got["first_text"] == "0/300000 Bytes   "
    assert got["last_text"].startswith("300000/300000 Bytes   ")
    assert list(tmp_path.glob("*.bin.*")) == []
    # The library asked for the file without a Range header.
    assert [r["range"] for r in server.requests_for("info.bin")] == [None]


@pytest.mark.parametrize("length", [1, 5, 9, 10, 10241, 250_000])
def test_file_download_of_any_length_arrives_whole(wine, server, tmp_path, length):
    data = os.urandom(length)
    server.add("setup.exe", data, mtime=MTIME)
    target = tmp_path / "setup.exe"
    got = probe(wine, f"--url={server.url}/setup.exe", f"--target={win_path(target)}")
    assert got["error"] == ""
    assert target.read_bytes() == data
    block = block_of(length)
    assert got["setup"] == [0, round_half_even(length, block) + 1, 0, 1]
    # A block of at least one byte: short files are still read to the end.
    assert got["steps"] == -(-length // block)
    assert not partial_name(target, length).exists()


def test_dropped_transfer_keeps_its_partial_file_and_resumes_with_a_range(wine, server, tmp_path):
    data = os.urandom(200_000)
    cut = 80_000
    server.add("setup.exe", data, mtime=MTIME, mode="drop", drop_after=cut)
    target = tmp_path / "setup.exe"
    url = f"{server.url}/setup.exe"
    first = probe(wine, f"--url={url}", f"--target={win_path(target)}")
    assert first["error"] == f"{url}<P><P>Download Incomplete: {cut}/200000 Bytes"
    assert not target.exists()
    partial = partial_name(target, len(data))
    assert partial.read_bytes() == data[:cut]

    second = probe(wine, f"--url={url}", f"--target={win_path(target)}")
    assert second["error"] == ""
    assert target.read_bytes() == data
    assert not partial.exists()
    last = server.requests_for("setup.exe")[-1]
    assert (last["range"], last["status"], last["sent"]) == (f"bytes={cut}-", 206, len(data) - cut)
    # The first progress call already stands where the partial file ends.
    assert second["setup"] == [0, round_half_even(200_000, 10240) + 1, round_half_even(cut, 10240), 1]
    assert second["first_text"] == f"{cut}/200000 Bytes   "


def test_a_server_without_last_modified_still_resumes(wine, server, tmp_path):
    data = os.urandom(50_000)
    server.add("setup.exe", data, mode="drop", drop_after=20_000, stamp=False)
    target = tmp_path / "setup.exe"
    url = f"{server.url}/setup.exe"
    probe(wine, f"--url={url}", f"--target={win_path(target)}")
    # No stamp: the partial name carries the length alone.
    assert partial_name(target, len(data), stamped=False).stat().st_size == 20_000
    assert probe(wine, f"--url={url}", f"--target={win_path(target)}")["error"] == ""
    assert target.read_bytes() == data
    assert server.requests_for("setup.exe")[-1]["status"] == 206


def test_a_server_that_ignores_range_restarts_from_zero(wine, server, tmp_path):
    data = os.urandom(120_000)
    target = tmp_path / "setup.exe"
    partial = partial_name(target, len(data))
    # A partial file from an earlier run, but with bytes that a wrong append
    # would leave in the result.
    partial.write_bytes(b"\xAA" * 40_000)
    server.add("setup.exe", data, mtime=MTIME, mode="ignore-range")
    got = probe(wine, f"--url={server.url}/setup.exe", f"--target={win_path(target)}")
    assert got["error"] == ""
    assert target.read_bytes() == data
    log = server.requests_for("setup.exe")
    assert log[-1]["range"] == "bytes=40000-" and log[-1]["status"] == 200
    assert got["setup"][2] == 0


def test_a_range_answer_from_another_offset_is_not_appended(wine, server, tmp_path):
    data = os.urandom(60_000)
    target = tmp_path / "setup.exe"
    partial = partial_name(target, len(data))
    partial.write_bytes(data[:30_000])
    # The server answers every range from a fixed offset of its own.
    server.add("setup.exe", data, mtime=MTIME, mode="wrong-range", start=10_000)
    got = probe(wine, f"--url={server.url}/setup.exe", f"--target={win_path(target)}")
    assert got["error"] == ""
    assert target.read_bytes() == data
    ranges = [(r["range"], r["status"]) for r in server.requests_for("setup.exe")]
    assert ranges == [(None, 200), ("bytes=30000-", 206), (None, 200)]


def test_another_version_on_the_server_deletes_old_partial_files(wine, server, tmp_path):
    target = tmp_path / "setup.exe"
    old_a = target.with_name("setup.exe.12345")
    old_b = target.with_name("SETUP.EXE.-77")
    other = tmp_path / "setup.exe2.5"  # another file's partial: not ours
    for path in (old_a, old_b, other):
        path.write_bytes(b"old bytes")
    data = os.urandom(30_000)
    server.add("setup.exe", data, mtime=MTIME + 3600)
    got = probe(wine, f"--url={server.url}/setup.exe", f"--target={win_path(target)}")
    assert got["error"] == ""
    assert target.read_bytes() == data
    assert not old_a.exists() and not old_b.exists()
    assert other.exists()
    assert [r["range"] for r in server.requests_for("setup.exe")] == [None]


def test_a_complete_partial_file_is_taken_without_reading(wine, server, tmp_path):
    data = os.urandom(25_000)
    target = tmp_path / "setup.exe"
    partial_name(target, len(data)).write_bytes(data)
    server.add("setup.exe", data, mtime=MTIME)
    got = probe(wine, f"--url={server.url}/setup.exe", f"--target={win_path(target)}")
    assert got["error"] == "" and got["steps"] == 0
    assert target.read_bytes() == data


def test_a_short_transfer_into_memory_fails(wine, server, tmp_path):
    server.add("info.txt", os.urandom(40_000), mtime=MTIME, mode="drop", drop_after=15_000, drops=99)
    url = f"{server.url}/info.txt"
    got = probe(wine, f"--url={url}")
    assert got["error"] == f"{url}<P><P>Download Incomplete: 15000/40000 Bytes"
    assert got["content_size"] == 0


@pytest.mark.parametrize("mode", ["zero", "nolength"])
def test_no_length_is_file_not_found(wine, server, tmp_path, mode):
    server.add("setup.exe", b"x" * 500, mtime=MTIME, mode=mode)
    target = tmp_path / "setup.exe"
    url = f"{server.url}/setup.exe"
    got = probe(wine, f"--url={url}", f"--target={win_path(target)}")
    assert got["error"] == f"{url}<P><P>File Not Found !"
    assert list(tmp_path.glob("setup.exe*")) == []
    assert probe(wine, "--size", f"--url={url}")["length"] == (0 if mode == "zero" else -1)


def test_abort_keeps_the_partial_file_for_a_later_run(wine, server, tmp_path):
    data = os.urandom(150_000)
    server.add("setup.exe", data, mtime=MTIME)
    target = tmp_path / "setup.exe"
    url = f"{server.url}/setup.exe"
    got = probe(wine, f"--url={url}", f"--target={win_path(target)}", "--abort-at=50000")
    assert got["error"] == "Download Aborted"
    kept = partial_name(target, len(data)).read_bytes()
    # The loop stops within one block of the request.
    assert 50_000 <= len(kept) < 50_000 + 10240 and kept == data[:len(kept)]
    assert probe(wine, f"--url={url}", f"--target={win_path(target)}")["error"] == ""
    assert target.read_bytes() == data
    assert server.requests_for("setup.exe")[-1]["range"] == f"bytes={len(kept)}-"


def test_size_probe_and_unreachable_url(wine, server):
    server.add("setup.exe", b"y" * 12345, mtime=MTIME)
    assert probe(wine, "--size", f"--url={server.url}/setup.exe")["length"] == 12345
    # A loopback port that nothing listens on.
    closed = LoopbackServer().start()
    dead = closed.url
    closed.stop()
    assert probe(wine, "--size", f"--url={dead}/setup.exe")["length"] == -1
    got = probe(wine, f"--url={dead}/setup.exe")
    assert got["error"] == f"Unable to open URL: {dead}/setup.exe"


def test_without_the_library_every_call_fails_quietly(wine, server):
    server.add("setup.exe", b"z" * 100, mtime=MTIME)
    env = {"WINEDLLOVERRIDES": "wininet=d"}
    assert probe(wine, "--connected", env=env) == {"connected": False}
    assert probe(wine, "--size", f"--url={server.url}/setup.exe", env=env)["length"] == -1
    got = probe(wine, f"--url={server.url}/setup.exe", env=env)
    assert got["error"] == 'Unable to initialize "WinINet.dll"'
    assert server.log == []
    # With the library the connection test answers (Wine always reports a LAN).
    assert probe(wine, "--connected", "--unbind-first") == {"connected": True}
