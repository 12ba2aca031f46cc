"""Web stubs under Wine: an internet-mode package made by korvan-pack fetches
its setup package from the loopback server (or from nginx), checks its token,
extracts it, runs its setup and removes the download; resume after a dropped
connection, servers that misbehave, the consent question, a missing
connection, the window closed mid-way and a setup package lying beside the
stub."""
import hashlib
import json
import os
import shutil
import socket
import subprocess
import time

import pytest

from conftest import STUB, TESTKIT, pack, wait_for, win_path
from httpserver import LoopbackServer
from test_extract import ROBOT, make_files, read_report, sha, working_folders
from test_http_probe import dos_stamp

SETUP = TESTKIT / "setup_probe.exe"
POKE = TESTKIT / "window_poke.exe"
TOKEN = "web-token-4711"
MTIME = 1700000000
NAME = "Full.exe"


@pytest.fixture
def server():
    with LoopbackServer() as s:
        yield s


def build_setup(tmp_path, token=TOKEN, count=6, name=NAME, tag="full"):
    """The setup package the web stub names: files, the setup probe, the token."""
    folder = tmp_path / f"in-{tag}"
    files = make_files(folder, count)
    shutil.copy(SETUP, folder / "setup_probe.exe")
    report = tmp_path / f"report-{tag}.json"
    out = tmp_path / f"pkg-{tag}" / name
    out.parent.mkdir()
    pack("build", "--stub", STUB, "--out", out, "--dir", folder,
         "--setup", f"setup_probe.exe*--report={win_path(report)}", "--download-token", token,
         *[f.name for f in files])
    return out, files, report


def build_web(tmp_path, url, setup, *extra, name="WebSetup.exe"):
    folder = tmp_path / "web"
    folder.mkdir(exist_ok=True)
    out = folder / name
    pack("build", "--stub", STUB, "--out", out, "--download-url", url, "--download-package", setup,
         "--download-token", TOKEN, *extra)
    return out


def extracted_intact(report, files):
    got = {f["name"]: f["sha256"] for f in read_report(report)["files"]}
    return all(got.get(f.name) == sha(f) for f in files)


def partial_files(wine):
    return sorted(p.name for p in wine.temp_dir.glob(NAME + ".*"))


def partial_name(length, mtime=MTIME):
    total = (length + dos_stamp(mtime)) & 0xFFFFFFFF
    return f"{NAME}.{total - (1 << 32) if total >= 1 << 31 else total}"


def run_answered(wine, program, *steps, args=(), env=None, timeout=180):
    """Runs PROGRAM while the robot answers its boxes; returns the run and the boxes reported."""
    robot = wine.start(ROBOT, "--timeout=90", *steps, env=env)
    proc = wine.run(program, *args, timeout=timeout, env=env)
    out, _ = robot.communicate(timeout=120)
    boxes = [json.loads(line) for line in out.decode("latin-1").splitlines() if line.startswith("{")]
    return proc, boxes, robot.returncode


def test_web_stub_downloads_checks_extracts_runs_and_removes(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path)
    server.add(NAME, setup.read_bytes(), mtime=MTIME)
    web = build_web(tmp_path, server.url, setup)
    proc = wine.run(web, timeout=180)
    assert proc.returncode == 0
    assert extracted_intact(report, files)
    assert read_report(report)["token"]
    # One plain request, the download gone, no partial file, no working folder.
    assert [(r["range"], r["status"]) for r in server.requests_for(NAME)] == [(None, 200)]
    assert not (wine.temp_dir / NAME).exists()
    assert partial_files(wine) == []
    assert working_folders(wine) == []


def test_the_progress_window_shows_and_its_bar_moves_during_the_download(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path, count=2)
    server.add(NAME, setup.read_bytes(), mtime=MTIME, mode="slow", chunk=8192, delay=0.2)
    web = build_web(tmp_path, server.url, setup)
    # One watcher samples the window all through the run (a Wine start per
    # sample would be too slow on a loaded machine): whether it shows, and
    # its bar's position (PBM_GETPOS), every 100 ms until the window goes.
    watch = wine.start(POKE, f"--class={win_path(web)}", "--child=msctls_progress32", "--timeout=120",
                       *(["visible", "send:1032", "sleep:100"] * 600))
    run = wine.start(web)
    try:
        out, _ = watch.communicate(timeout=240)
    finally:
        run.communicate(timeout=180)
    assert run.returncode == 0
    lines = out.decode("latin-1").splitlines()
    positions = [int(b.split("=")[1]) for a, b in zip(lines, lines[1:])
                 if a == "visible 1" and b.startswith("send 1032 =")]
    # Shown while the bytes came, its bar rising through several positions
    # (until it starts again for the extraction).
    download = positions[:next((i for i in range(1, len(positions)) if positions[i] < positions[i - 1]),
                               len(positions))]
    # Positions above 3 can only be the download's: the extraction's range
    # is 0..3 (two files and the setup).
    assert len({p for p in download if p > 3}) >= 3, lines[:40]
    assert extracted_intact(report, files)


def test_dropped_download_resumes_with_a_range_on_the_next_run(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path, count=10)
    data = setup.read_bytes()
    cut = len(data) * 40 // 100
    server.add(NAME, data, mtime=MTIME, mode="drop", drop_after=cut)
    web = build_web(tmp_path, server.url, setup)
    proc, boxes, _ = run_answered(wine, web, "report", "press:1")
    assert proc.returncode == 0
    assert boxes[0]["caption"] == "Error"
    assert f"Download Incomplete: {cut}/{len(data)} Bytes" in boxes[0]["text"]
    assert not report.exists()
    # The partial file stays in the temporary folder under its length-and-stamp name.
    assert partial_files(wine) == [partial_name(len(data))]
    assert (wine.temp_dir / partial_name(len(data))).read_bytes() == data[:cut]

    proc = wine.run(web, timeout=180)
    assert proc.returncode == 0
    last = server.requests_for(NAME)[-1]
    assert (last["range"], last["status"], last["sent"]) == (f"bytes={cut}-", 206, len(data) - cut)
    assert extracted_intact(report, files)
    assert partial_files(wine) == [] and not (wine.temp_dir / NAME).exists()


@pytest.mark.parametrize("change", ["ignore-range", "stamp", "length"])
def test_without_a_usable_range_the_download_starts_again(wine, server, tmp_path, change):
    setup, files, report = build_setup(tmp_path, count=8)
    data = setup.read_bytes()
    server.add(NAME, data, mtime=MTIME, mode="drop", drop_after=len(data) // 3)
    web = build_web(tmp_path, server.url, setup)
    run_answered(wine, web, "press:1")
    old = partial_files(wine)
    assert old == [partial_name(len(data))]
    if change == "ignore-range":
        server.add(NAME, data, mtime=MTIME, mode="ignore-range")
    elif change == "stamp":
        server.add(NAME, data, mtime=MTIME + 7200)
    else:
        setup, files, report = build_setup(tmp_path, count=9, tag="longer")
        server.add(NAME, setup.read_bytes(), mtime=MTIME)
    proc = wine.run(web, timeout=180)
    assert proc.returncode == 0
    assert extracted_intact(report, files)
    last = server.requests_for(NAME)[-1]
    if change == "ignore-range":
        # Asked for the rest, got the whole file, took it from byte 0.
        assert (last["range"], last["status"]) == (f"bytes={len(data) // 3}-", 200)
    else:
        # Another version: the old partial file went, no range was asked.
        assert last["range"] is None
    assert partial_files(wine) == []


@pytest.mark.parametrize("mode, expected", [
    ("html", "404 File Not Found..."),
    ("zero", "File Not Found !"),
])
def test_server_error_answers_show_their_text_with_the_url(wine, server, tmp_path, mode, expected):
    setup, files, report = build_setup(tmp_path, count=2)
    server.add(NAME, setup.read_bytes(), mtime=MTIME, mode=mode)
    web = build_web(tmp_path, server.url, setup)
    proc, boxes, _ = run_answered(wine, web, "report", "press:1")
    assert proc.returncode == 0
    assert boxes[0]["caption"] == "Error"
    assert expected in boxes[0]["text"]
    assert f"{server.url}/{NAME}" in boxes[0]["text"]
    assert not report.exists()
    assert not (wine.temp_dir / NAME).exists() and partial_files(wine) == []


def test_a_package_of_another_product_is_rejected_and_deleted(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path, count=2)
    other, _, other_report = build_setup(tmp_path, token="another-product", count=2, tag="other")
    server.add(NAME, other.read_bytes(), mtime=MTIME)
    web = build_web(tmp_path, server.url, setup)
    proc, boxes, _ = run_answered(wine, web, "report", "press:1")
    assert proc.returncode == 0
    assert boxes[0]["text"].splitlines()[-1] == "Bad Secret Token!"  # under the box heading
    assert not report.exists() and not other_report.exists()
    assert not (wine.temp_dir / NAME).exists() and partial_files(wine) == []


def test_closing_the_window_during_a_slow_download_aborts_and_keeps_the_partial(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path, count=4)
    data = setup.read_bytes()
    server.add(NAME, data, mtime=MTIME, mode="slow", chunk=4096, delay=0.2)
    web = build_web(tmp_path, server.url, setup)
    go = tmp_path / "go"
    poke = wine.start(POKE, f"--class={win_path(web)}", "--timeout=120", f"hold:{win_path(go)}", "post:16")
    robot = wine.start(ROBOT, "--timeout=150", "report", "press:1")
    run = wine.start(web)
    try:
        partial = wine.temp_dir / partial_name(len(data))
        assert wait_for(lambda: partial.exists() and partial.stat().st_size > 0, timeout=120)
        go.write_text("go")
        assert poke.communicate(timeout=120)[0] and poke.returncode == 0
        out, _ = robot.communicate(timeout=150)
    finally:
        run.communicate(timeout=120)
    box = json.loads(out.decode("latin-1").splitlines()[0])
    assert box["text"].splitlines()[-1] == "Download Aborted"
    assert run.returncode == 0
    kept = partial.read_bytes()
    assert 0 < len(kept) < len(data) and kept == data[:len(kept)]
    assert not report.exists()


@pytest.mark.parametrize("answer", ["&No", "&Yes"])
def test_consent_question_shows_the_size_in_megabytes(wine, server, tmp_path, answer):
    setup, files, report = build_setup(tmp_path, count=3)
    server.add(NAME, setup.read_bytes(), mtime=MTIME)
    web = build_web(tmp_path, server.url, setup, "--ask-before-download")
    proc, boxes, robot_rc = run_answered(wine, web, "report", f"press-caption:{answer}")
    assert proc.returncode == 0
    assert boxes[0]["caption"] == "Confirm"
    mb = setup.stat().st_size / 1048576
    decimals = 1 if mb > 10 else 2 if mb >= 1 else 3
    assert f"Size: {mb:.{decimals}f} MB" in boxes[0]["text"]
    assert [b["caption"] for b in boxes[0]["buttons"]] == ["&Yes", "&No"]
    if answer == "&No":
        # No ends quietly: no request, no setup, nothing left.
        assert server.log == [] and not report.exists()
    else:
        assert extracted_intact(report, files)
    assert working_folders(wine) == [] and partial_files(wine) == []


def test_without_a_connection_the_s12_error_shows_even_after_no(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path, count=2)
    server.add(NAME, setup.read_bytes(), mtime=MTIME)
    web = build_web(tmp_path, server.url, setup, "--ask-before-download")
    # Wine always reports a LAN connection; without the library the
    # connection test answers no, as on a machine without one.
    env = {"WINEDLLOVERRIDES": "wininet=d"}
    proc, boxes, _ = run_answered(wine, web, "report", "press-caption:&No", "next", "report", "press:1", env=env)
    assert proc.returncode == 0
    assert [b["caption"] for b in boxes] == ["Confirm", "Error"]
    assert "No valid Internet Connection." in boxes[1]["text"]
    assert "Can not Download File!" in boxes[1]["text"]
    assert server.log == [] and not report.exists()


def test_a_setup_package_beside_the_stub_is_used_without_download_and_kept(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path, count=3)
    web = build_web(tmp_path, server.url, setup, "--ask-before-download")
    beside = web.parent / NAME
    shutil.copy(setup, beside)
    # No question comes and nothing is asked of the server: the run needs no robot.
    proc = wine.run(web, timeout=180, env={"WINEDLLOVERRIDES": "wininet=d"})
    assert proc.returncode == 0
    assert extracted_intact(report, files)
    assert server.log == []
    assert beside.read_bytes() == setup.read_bytes()
    assert working_folders(wine) == []


# ---- nginx ---------------------------------------------------------------------

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture
def nginx(tmp_path):
    if not os.path.exists(NGINX):
        pytest.skip("nginx is not installed (scripts/deps.sh installs it)")
    root = tmp_path / "nginx"
    www = root / "www"
    www.mkdir(parents=True)
    port = free_port()
    conf = root / "nginx.conf"
    conf.write_text(f"""
daemon off;
master_process off;
worker_processes 1;
pid {root}/nginx.pid;
error_log {root}/error.log;
events {{ worker_connections 64; }}
http {{
    client_body_temp_path {root}/body;
    proxy_temp_path {root}/proxy;
    fastcgi_temp_path {root}/fastcgi;
    uwsgi_temp_path {root}/uwsgi;
    scgi_temp_path {root}/scgi;
    log_format ranges '$request_uri|$http_range|$status|$body_bytes_sent';
    access_log {root}/access.log ranges;
    types {{ application/octet-stream exe; }}
    server {{
        listen 127.0.0.1:{port};
        root {www};
    }}
}}
""")
    proc = subprocess.Popen([NGINX, "-p", str(root), "-c", str(conf)], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)

    def up():
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            return False

    assert wait_for(up, timeout=20), proc.stderr.read1().decode() if proc.poll() is not None else "no answer"

    class Nginx:
        url = f"http://127.0.0.1:{port}"
        folder = www

        @staticmethod
        def log():
            path = root / "access.log"
            return [line.split("|") for line in path.read_text().splitlines()] if path.exists() else []

    yield Nginx
    proc.terminate()
    proc.wait(timeout=20)


def test_download_from_nginx_works_and_resumes(wine, nginx, tmp_path):
    setup, files, report = build_setup(tmp_path, count=8)
    data = setup.read_bytes()
    served = nginx.folder / NAME
    served.write_bytes(data)
    os.utime(served, (MTIME, MTIME))
    web = build_web(tmp_path, nginx.url, setup)
    assert wine.run(web, timeout=180).returncode == 0
    assert extracted_intact(report, files)
    assert not (wine.temp_dir / NAME).exists()

    # A run that ended after 40 % left its partial file under the name the
    # server's length and Last-Modified give.
    report.unlink()
    cut = len(data) * 40 // 100
    (wine.temp_dir / partial_name(len(data))).write_bytes(data[:cut])
    assert wine.run(web, timeout=180).returncode == 0
    assert extracted_intact(report, files)
    uri, rng, status, sent = wait_for(lambda: len(nginx.log()) >= 2 and nginx.log(), timeout=10)[-1]
    assert (uri, rng, status, int(sent)) == (f"/{NAME}", f"bytes={cut}-", "206", len(data) - cut)
    assert partial_files(wine) == [] and not (wine.temp_dir / NAME).exists()


def test_web_stub_that_creates_the_agent_writes_it_before_the_download(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path, count=2)
    server.add(NAME, setup.read_bytes(), mtime=MTIME)
    web = build_web(tmp_path, server.url, setup, "--creates-agent", "--agent-name", "WebAgent.exe",
                    "--agent-token", "tok")
    assert wine.run(web, timeout=180).returncode == 0
    got = {f["name"]: f for f in read_report(report)["files"]}
    # The whole web stub with the agent byte of its header set, beside the setup.
    agent = bytearray(web.read_bytes())
    agent[len(agent) - 5] = 1
    assert got["WebAgent.exe"]["sha256"] == hashlib.sha256(bytes(agent)).hexdigest()
    assert extracted_intact(report, files)


def test_a_foreign_package_beside_the_stub_is_rejected_and_left_in_place(wine, server, tmp_path):
    setup, files, report = build_setup(tmp_path, count=2)
    other, _, other_report = build_setup(tmp_path, token="another-product", count=2, tag="other")
    web = build_web(tmp_path, server.url, setup)
    beside = web.parent / NAME
    shutil.copy(other, beside)
    proc, boxes, _ = run_answered(wine, web, "report", "press:1")
    assert proc.returncode == 0
    assert boxes[0]["text"].splitlines()[-1] == "Bad Secret Token!"
    assert beside.read_bytes() == other.read_bytes()
    assert server.log == [] and not other_report.exists()
