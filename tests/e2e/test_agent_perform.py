"""The update under Wine, in test mode (folder source): the running product
stopped by each shut-down method, the update's setup run with the information
file's path, the new version recorded, the product and the agent restarted."""
import json
import re
import shutil

import pytest

from agent_kit import PRODUCT, ROBOT, NotifyTarget, Product, build_setup, write_info
from agent_kit import nothing_left_in_temp  # noqa: F401 (the temporary folder checked after each test)
from conftest import wait_for, win_path

METHODS = ["Using WM_CLOSE", "Using WM_QUIT", "Using Terminate Process", "Issue a Message Box",
           "Don't Shut Down"]


def start_product(wine, p):
    exe = p.dir / "Prod.exe"
    shutil.copy(PRODUCT, exe)
    log = p.dir / "Prod.exe.log"
    proc = wine.start(exe, win_path(log), "--title", "Prod main", "--timeout", 150)
    assert wait_for(lambda: log.exists() and "READY" in log.read_text(), timeout=60)
    return exe, log, proc


@pytest.mark.parametrize("method", METHODS, ids=["wm-close", "wm-quit", "terminate", "message-box", "no-shutdown"])
def test_update_stops_the_product_runs_the_setup_and_restarts(wine, tmp_path, method):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": 0},
                                          "AutoUpdate": {"s15": "Please close PROG_NAME"}})
    p.test_mode()
    report = tmp_path / "report.json"
    update = build_setup(tmp_path, "update.exe", setup_args=f"--report={win_path(report)}")
    p.start_viewer()
    exe, log, _ = start_product(wine, p)
    p.publish(update, ShutDownMethod=method, RunningProcess=win_path(exe), RestartProcess=1,
              BackgroundUpdate=1, InformFinish=0)
    robot = None
    if method == "Issue a Message Box":
        hold = tmp_path / "hold"
        robot = wine.start(ROBOT, "--timeout=90", "report", "press:1", "next", "report", f"hold:{win_path(hold)}",
                           "press:1")
    assert p.launch("/DELAY=0") == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30)
    old = p.copy_pids()[0]

    if robot:
        # The notice comes back while the product runs; it goes once the
        # user has closed the product.
        first = json.loads(robot.stdout.readline())
        second = json.loads(robot.stdout.readline())
        assert first["caption"] == "Attention" and "Please close Prod.exe" in first["text"], first
        assert second["text"] == first["text"]
        p.poke("post:16:0:0", cls="KorvanProductWindow")
        assert wait_for(lambda: "EXIT" in log.read_text(), timeout=30)
        hold.write_text("")
        robot.wait(timeout=60)

    # The update's setup ran with the information file's path in quotes.
    assert wait_for(lambda: report.exists() and report.stat().st_size > 0, timeout=90), p.lines()[-20:]
    assert wait_for(lambda: p.ended(old), timeout=60), p.lines()[-20:]
    got = json.loads(report.read_text(encoding="latin-1"))
    info = win_path(p.dir / p.info_name)
    assert got["args"].startswith(f'/OriginalInfoFile="{info}" --report='), got["args"]
    assert got["args"].endswith(" /AutoUpdateProg")
    assert p.setting("OriginalSetup", "VersionOriginal") == "2"
    assert p.setting("OriginalSetup", "Stamp") == "7"
    lines = p.lines_of(old)
    assert [l for l in lines if "DoPerform-" in l] == [f" ==== DoPerform-{i} ====" for i in range(1, 10)]

    product_log = log.read_text()
    stopped = {"Using WM_CLOSE": "WM_CLOSE 15 255", "Using WM_QUIT": "WM_QUIT 15 255"}
    for m, line in stopped.items():
        assert (line in product_log) == (m == method), product_log
    if method == "Don't Shut Down":
        # Left running, so not restarted.
        assert "EXIT" not in product_log
        assert product_log.count("READY") == 1
    else:
        # Stopped, then started again (without arguments it logs beside itself).
        assert wait_for(lambda: log.read_text().count("READY") == 2, timeout=30), log.read_text()

    # The agent program was started anew and made a new copy, with the
    # overrides of the old one.
    restart = re.compile(r'\d+ ==== STUB START ====>"[^"]*ProdAgent\.exe" /_ZZ=99 /WAIT=3 '
                         r'/TRANSIENT=\|255\|255\|255\|255\|255\|255\|<')
    assert wait_for(lambda: any(restart.fullmatch(l) for l in p.lines()), timeout=30)
    assert wait_for(lambda: len(p.copy_pids()) == 2, timeout=60), p.lines()[-20:]
    new = p.copy_pids()[1]
    start = next(l for l in p.lines() if l.startswith(new + " ==== STUB START"))
    assert start.endswith('X_ProdAgent.exe" /TRANSIENTx=|255|255|255|255|255|255|<'), start
    assert wait_for(lambda: p.ticks(new), timeout=30)
    # Nothing of the update is left: the update file, the working folder.
    assert not (p.dir / "update.exe").exists()
    assert not list(wine.temp_dir.glob("SETUP_*"))
    p.query(30, 0)
    p.wait_copy_gone(new)
    assert not (wine.temp_dir / "_DEL_ME_.BAT").exists() or wait_for(
        lambda: not (wine.temp_dir / "_DEL_ME_.BAT").exists(), timeout=30)
    p.stop_viewer()


def test_update_from_the_web_server(wine, tmp_path):
    from httpserver import LoopbackServer

    with LoopbackServer() as server:
        p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": 0}},
                    update_url=server.url)
        report = tmp_path / "report.json"
        update = build_setup(tmp_path, "update.exe", setup_args=f"--report={win_path(report)}")
        info = write_info(tmp_path / "prod.info", update, VersionNew=2, Stamp=3, DownloadURL_UPDATE=server.url,
                          ShutDownMethod="Don't Shut Down", BackgroundUpdate=1)
        server.add("prod.info", info)
        server.add("update.exe", update.read_bytes())
        p.start_viewer()
        target = NotifyTarget(wine, tmp_path)
        # Two ticks of delay: the target is registered before the check.
        assert p.launch("/DELAY=2", target.switch()) == 0
        assert wait_for(lambda: p.copy_pids(), timeout=30)
        old = p.copy_pids()[0]
        assert wait_for(lambda: p.ended(old), timeout=90), p.lines()[-20:]
        assert wait_for(lambda: (43, 0) in target.received(), timeout=30)
        window = target.received()[0][1]
        assert target.received() == [(50, window), (51, 1125), (40, 1), (40, 2), (41, 1), (41, 2), (42, 1),
                                     (42, 2), (43, 0)]
        target.stop()
        got = json.loads(report.read_text(encoding="latin-1"))
        assert got["args"].startswith(f'/OriginalInfoFile="{win_path(p.dir / p.info_name)}"')
        assert p.setting("OriginalSetup", "VersionOriginal") == "2"
        assert [r["status"] for r in server.requests_for("prod.info")] == [200]
        assert 200 in [r["status"] for r in server.requests_for("update.exe")]
        assert not (p.dir / "update.exe").exists()
        assert not (p.dir / "prod.info").exists()
        assert wait_for(lambda: len(p.copy_pids()) == 2, timeout=60)
        p.query(30, 0)
        p.wait_copy_gone(p.copy_pids()[1])
        p.stop_viewer()


def test_failed_setup_keeps_the_version_and_the_agent(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": 0}})
    p.test_mode()
    report = tmp_path / "report.json"
    # The setup keeps its hand-shake atom: the stub takes it as failed.
    update = build_setup(tmp_path, "update.exe", setup_args=f"--keep-atom --report={win_path(report)}")
    p.start_viewer()
    exe, log, _ = start_product(wine, p)
    p.publish(update, ShutDownMethod="Using WM_CLOSE", RunningProcess=win_path(exe), RestartProcess=1,
              BackgroundUpdate=1, InformFinish=1)
    assert p.launch("/DELAY=0", "/STOP=12") == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30)
    old = p.copy_pids()[0]
    p.wait_copy_gone(old, timeout=90)
    assert report.exists()
    assert p.setting("OriginalSetup", "VersionOriginal") == "1"
    # The product is started again all the same; the agent is not.
    assert wait_for(lambda: log.read_text().count("READY") == 2, timeout=30), log.read_text()
    assert not any("/_ZZ=99" in l for l in p.lines())
    assert p.copy_pids() == [old]
    assert not (p.dir / "update.exe").exists()
    assert not list(wine.temp_dir.glob("SETUP_*"))
    p.stop_viewer()


def test_declined_install_deletes_the_update_file_and_stops_nothing(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": 0},
                                          "AutoUpdate": {"s14": "Install the update of PROG_NAME now?"}})
    p.test_mode()
    report = tmp_path / "report.json"
    update = build_setup(tmp_path, "update.exe", setup_args=f"--report={win_path(report)}")
    p.start_viewer()
    exe, log, _ = start_product(wine, p)
    p.publish(update, ShutDownMethod="Using WM_CLOSE", RunningProcess=win_path(exe), RestartProcess=1,
              RequestConfirmationBeforeInstall=1)
    robot = wine.start(ROBOT, "--timeout=90", "report", "press-caption:&No")
    assert p.launch("/DELAY=0", "/STOP=8") == 0
    out, _ = robot.communicate(timeout=120)
    box = json.loads(out.decode("latin-1").splitlines()[0])
    assert box["caption"] == "Confirm" and "Install the update of" in box["text"], box
    assert wait_for(lambda: p.copy_pids(), timeout=30)
    p.wait_copy_gone(p.copy_pids()[0], timeout=90)
    # Fetched, asked, declined: the file that came goes, nothing else happens.
    assert not (p.dir / "update.exe").exists()
    assert not report.exists()
    assert p.setting("OriginalSetup", "VersionOriginal") == "1"
    assert "WM_CLOSE" not in log.read_text() and "EXIT" not in log.read_text()
    p.stop_viewer()
