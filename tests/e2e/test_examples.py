"""The examples a vendor starts from, built by their one command
(examples/build.sh) and run under Wine as a customer would: the offline
setup installs the product and starts its update agent, the web installer
downloads its setup package from the loopback server and does the same, and
the published update is picked up by the installed agent."""
import configparser
import json
import os
import subprocess
from pathlib import Path

import pytest

from conftest import ARTIFACTS, PACK, TESTKIT, TOP, wait_for
from httpserver import LoopbackServer

ROBOT = TESTKIT / "msgbox_robot.exe"
POKE = TESTKIT / "window_poke.exe"
AGENT = "KorvanExampleAgent.exe"
COPY_CLASS = ".AutoUpdate.X_KorvanExampleAgent"

pytestmark = pytest.mark.skipif(not (ARTIFACTS / "win64" / "examples" / "example_setup.exe").exists(),
                                reason="examples not built")


def build_examples(out, which, **env):
    """examples/build.sh with the 64-bit stub, which Wine here can run."""
    e = dict(os.environ, ARCH="win64", KORVAN_PACK=str(PACK), KORVAN_EXAMPLE_OUT=str(out), **env)
    proc = subprocess.run(["bash", str(TOP / "examples" / "build.sh"), which], env=e,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert proc.returncode == 0, proc.stdout
    return out / which


def product_dir(wine):
    found = list((wine.prefix / "drive_c" / "users").glob("*/AppData/Local/Korvan Example"))
    return found[0] if found else None


def settings(folder):
    ini = configparser.ConfigParser(interpolation=None)
    ini.optionxform = str
    ini.read(folder / "korvan-example.original", encoding="latin-1")
    return ini


def start_to_file(wine, log, *command):
    """Starts a program whose output goes to a file, not a pipe: the agent
    that the example setup starts keeps the prefix's wineserver alive, and
    that inherited the first program's handles, so a pipe of the robot or of
    the stub would stay open after they have ended."""
    with open(log, "wb") as f:
        return subprocess.Popen(wine.command(*command), env=wine.env, stdout=f, stderr=subprocess.STDOUT)


def answer(wine, tmp_path, *steps):
    log = tmp_path / "robot.json"
    return start_to_file(wine, log, ROBOT, "--timeout=90", *steps), log


def boxes_of(robot):
    proc, log = robot
    proc.wait(timeout=120)
    return [json.loads(l) for l in log.read_text("latin-1").splitlines() if l.startswith("{")]


def run_setup(wine, exe, tmp_path):
    log = tmp_path / (Path(exe).name + ".log")
    rc = start_to_file(wine, log, exe).wait(timeout=180)
    return rc, log.read_text("latin-1")


def assert_installed(wine, version):
    product = wait_for(lambda: product_dir(wine), timeout=30)
    assert product, "no product folder"
    names = {p.name for p in product.iterdir()}
    assert {"readme.txt", "license.txt", AGENT, "korvan-example.original"} <= names, names
    assert settings(product)["OriginalSetup"]["VersionOriginal"] == str(version)
    assert f"Korvan Example {version}" in (product / "readme.txt").read_text()
    return product


def stop_agent(wine, product):
    """The example setup started the installed agent, whose hidden copy runs
    on; /STOP=0 ends it, and with it goes the copy's file."""
    assert wait_for(lambda: (product / ("X_" + AGENT)).exists(), timeout=30)
    found = wine.run(POKE, f"--class={COPY_CLASS}", "--timeout=30")
    assert found.returncode == 0, found.out
    wine.run(product / AGENT, "/STOP=0", timeout=60)
    assert wait_for(lambda: wine.run(POKE, f"--class={COPY_CLASS}", "--timeout=1", timeout=60).returncode != 0,
                    timeout=30), "the agent's copy still runs"
    assert wait_for(lambda: not (product / ("X_" + AGENT)).exists(), timeout=30)


def assert_temp_clean(wine):
    left = wait_for(lambda: not list(wine.temp_dir.glob("SETUP_*")), timeout=30)
    assert left, list(wine.temp_dir.iterdir())


def test_offline_example_installs_the_product_and_its_agent(wine, tmp_path):
    built = build_examples(tmp_path / "examples", "offline")
    setup = built / "KorvanExampleSetup.exe"
    robot = answer(wine, tmp_path, "report", "press-caption:&Yes")
    rc, log = run_setup(wine, setup, tmp_path)
    boxes = boxes_of(robot)
    assert rc == 0, log
    assert boxes and boxes[0]["caption"] == "Confirm" and "Korvan Example will extract" in boxes[0]["text"]
    product = assert_installed(wine, 1)
    stop_agent(wine, product)
    assert_temp_clean(wine)


def test_web_example_downloads_its_setup_package_and_installs(wine, tmp_path):
    with LoopbackServer() as server:
        built = build_examples(tmp_path / "examples", "web", KORVAN_EXAMPLE_DOWNLOAD_URL=server.url)
        full = built / "pub" / "KorvanExampleFull.exe"
        server.add(full.name, full.read_bytes())
        # The download question, then the full package's space question.
        robot = answer(wine, tmp_path, "report", "press-caption:&Yes", "next", "report", "press-caption:&Yes")
        rc, log = run_setup(wine, built / "KorvanExampleWebSetup.exe", tmp_path)
        boxes = boxes_of(robot)
        assert rc == 0, log
        assert [b["caption"] for b in boxes] == ["Confirm", "Confirm"], boxes
        assert "INTERNET DOWNLOAD" in boxes[0]["text"]
        assert any(r["status"] == 200 for r in server.requests_for(full.name)), server.requests_for(full.name)
    product = assert_installed(wine, 1)
    stop_agent(wine, product)
    assert_temp_clean(wine)


def test_published_update_is_installed_by_the_agent(wine, tmp_path):
    with LoopbackServer() as server:
        urls = {"KORVAN_EXAMPLE_UPDATE_URL": server.url}
        built = build_examples(tmp_path / "examples", "offline", **urls)
        published = build_examples(tmp_path / "examples", "update", **urls) / "pub"
        for f in published.iterdir():
            server.add(f.name, f.read_bytes())
        robot = answer(wine, tmp_path, "report", "press-caption:&Yes")
        rc, log = run_setup(wine, built / "KorvanExampleSetup.exe", tmp_path)
        boxes_of(robot)
        assert rc == 0, log
        product = assert_installed(wine, 1)
        # The agent the setup started checks on its fourth tick, finds version
        # 2 for version 1, downloads the update and runs its setup unattended.
        assert wait_for(lambda: settings(product)["OriginalSetup"].get("VersionOriginal") == "2",
                        timeout=120), server.log
        statuses = {r["path"].lstrip("/"): r["status"] for r in server.log}
        assert statuses.get("korvan-example.info") == 200 and statuses.get("KorvanExampleUpdate.exe") == 200, statuses
        assert_installed(wine, 2)
        # The information file goes when the check ends, after the update.
        assert wait_for(lambda: not (product / "korvan-example.info").exists(), timeout=30)
        # The agent restarted itself after the update: its copy runs again.
        assert wait_for(lambda: wine.run(POKE, f"--class={COPY_CLASS}", "--timeout=1", timeout=60).returncode == 0,
                        timeout=60)
    stop_agent(wine, product)
    assert_temp_clean(wine)
    assert not (product / "KorvanExampleUpdate.exe").exists()
