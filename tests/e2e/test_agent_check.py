"""The agent copy's check under Wine, in test mode (the information and update
files come from a folder named in the registry): when it checks, what it
writes, and the cases in which no update is offered."""
import datetime
import json
import re

import pytest

from agent_kit import ROBOT, Product, build_setup
from agent_kit import nothing_left_in_temp  # noqa: F401 (the temporary folder checked after each test)
from conftest import wait_for


def now_seconds():
    delta = datetime.datetime.now() - datetime.datetime(1899, 12, 30)
    return round(delta.total_seconds())


def fire_ticks(p, pid):
    """The counter value of the tick in which each check started."""
    ticks, last = [], None
    for line in p.lines_of(pid):
        if line.startswith(" AutoUpdateTimerCount="):
            last = int(line.split("=")[1])
        elif line.startswith(" Fire  "):
            ticks.append(last)
    return ticks


def run_copy(p, *args, timeout=60):
    assert p.launch(*args) == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30), p.lines()
    pid = p.copy_pids()[0]
    p.wait_copy_gone(pid, timeout=timeout)
    return pid


@pytest.mark.parametrize("args, first", [((), 1), (("/DELAY=0",), 1)], ids=["fourth-tick", "sleepx-0"])
def test_first_check_and_probe_seconds_last(wine, tmp_path, args, first):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": 0}})
    p.test_mode()
    p.publish(VersionNew=1)
    p.start_viewer()
    before = now_seconds()
    pid = run_copy(p, *args, "/STOP=6")
    ticks = p.ticks(pid)
    # Counter -3 moves to 1 on the fourth tick; with /SleepX=0 on the first.
    assert ticks[0] == (-2 if not args else 1)
    # Interval 0: one check in this run, on the tick whose counter is 1.
    assert fire_ticks(p, pid) == [first]
    assert re.fullmatch(r" Fire  \d\d-\d\d-\d{4}  \d\d:\d\d:\d\d",
                        next(l for l in p.lines_of(pid) if l.startswith(" Fire")))
    last = int(p.setting("OriginalSetup", "ProbeSecondsLast"))
    assert before - 5 <= last <= now_seconds() + 5
    # The information file exists only during the check.
    assert not (p.dir / p.info_name).exists()
    p.stop_viewer()


def test_never_with_minus_one_and_every_five_seconds_in_test_mode(wine, tmp_path):
    never = Product(wine, tmp_path / "never", original={"OriginalSetup": {"ProbeSecondsInterval": -1}})
    never.test_mode()
    never.publish(VersionNew=1)
    never.start_viewer()
    pid = run_copy(never, "/DELAY=0", "/STOP=7")
    assert len(never.ticks(pid)) >= 7
    assert fire_ticks(never, pid) == []
    assert never.setting("OriginalSetup", "ProbeSecondsLast") is None
    never.stop_viewer()

    hourly = Product(wine, tmp_path / "hourly", original={"OriginalSetup": {"ProbeSecondsInterval": 3600}})
    hourly.test_mode()
    hourly.publish(VersionNew=1)
    hourly.trace = tmp_path / "hourly-trace.txt"
    hourly.start_viewer()
    pid = run_copy(hourly, "/DELAY=0", "/STOP=13", timeout=90)
    fired = fire_ticks(hourly, pid)
    # Test mode: five seconds whatever the settings say.
    assert len(fired) >= 2 and fired[0] == 1, fired
    assert all(b - a >= 4 for a, b in zip(fired, fired[1:])), fired
    hourly.stop_viewer()


def cut_short(p):
    """The update at the source is not complete: the size announced is not its size."""
    at_source = p.source / "update.exe"
    at_source.write_bytes(at_source.read_bytes()[:-100])


NO_UPDATE = {
    "version-not-above": ({"VersionNew": 1}, {}, None),
    "outside-valid-versions": ({"ValidVersions": "3,4,7", "VersionNew": 8}, {}, None),
    "size-unlike": ({}, {}, cut_short),
    "not-installed": ({}, {"VersionOriginal": 0}, None),
}


@pytest.mark.parametrize("case", list(NO_UPDATE), ids=list(NO_UPDATE))
def test_no_update_is_offered(wine, tmp_path, case):
    info, original, after = NO_UPDATE[case]
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": 0, **original}})
    p.test_mode()
    update = build_setup(tmp_path, "update.exe")
    p.publish(update, ShutDownMethod="Using Terminate Process", **info)
    if after:
        after(p)
    p.start_viewer()
    pid = run_copy(p, "/DELAY=0", "/STOP=3")
    assert fire_ticks(p, pid) == [1]
    assert not any("Perform Update" in l or "DoPerform" in l for l in p.lines_of(pid))
    # Nothing fetched, the offer not recorded.
    assert not (p.dir / "update.exe").exists()
    assert p.setting("OriginalSetup", "Stamp") is None
    p.stop_viewer()


def test_declined_download_is_not_offered_again_with_the_same_stamp(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": 3600,
                                                            "ReAskSecondsInterval": 0},
                                          "AutoUpdate": {"s11": "Get PROG_NAME?"}})
    p.test_mode()
    update = build_setup(tmp_path, "update.exe")
    p.publish(update, RequestConfirmationBeforeDownload=1, Stamp=9)
    p.start_viewer()
    robot = wine.start(ROBOT, "--timeout=60", "report", "press:2")  # No
    pid = run_copy(p, "/DELAY=0", "/STOP=12", timeout=90)
    out, _ = robot.communicate(timeout=60)
    box = json.loads(out.decode("latin-1").splitlines()[0])
    assert box["caption"] == "Confirm" and "Get Prod?" in box["text"], box
    lines = p.lines_of(pid)
    # The test-mode interval brings a second check; the stamp is the one
    # offered already, so it ends without an offer.
    assert len(fire_ticks(p, pid)) >= 2
    assert lines.count(" ==== Perform Update-1 ====") == 1
    assert " ==== DoPerform-3 ====" not in lines
    assert p.setting("OriginalSetup", "Stamp") == "9"
    assert int(p.setting("OriginalSetup", "ReAskSecondsLast")) > 0
    assert not (p.dir / "update.exe").exists()
    p.stop_viewer()


# An update with stamp 9 that was offered before and declined: the installed
# stamp is 9 already. ReAskSecondsLast is set relative to now.
REASK = {
    # case: (ReAskSecondsInterval, seconds since the last offer, launcher switches, offered)
    "before-the-interval": (3600, 0, ("/DELAY=0", "/STOP=3"), False),
    "after-the-interval": (60, 3600, ("/DELAY=0", "/STOP=3"), True),
    "never-with-zero": (0, 10 ** 6, ("/DELAY=0", "/STOP=3"), False),
    "manual-check": (0, 0, ("/TEST=2",), True),
}


@pytest.mark.parametrize("case", list(REASK), ids=list(REASK))
def test_declined_update_is_offered_again_only_after_the_reask_interval(wine, tmp_path, case):
    interval, ago, switches, offered = REASK[case]
    manual = "/TEST=2" in switches
    last = now_seconds() - ago
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": -1 if manual else 3600,
                                                            "ReAskSecondsInterval": interval,
                                                            "ReAskSecondsLast": last, "Stamp": 9},
                                          "AutoUpdate": {"s11": "Get PROG_NAME?"}})
    p.test_mode()
    # Should the update run, its setup reports failure: nothing is installed.
    update = build_setup(tmp_path, "update.exe", setup_args="--keep-atom")
    p.publish(update, RequestConfirmationBeforeDownload=1, Stamp=9, BackgroundUpdate=1)
    p.start_viewer()
    robot = None
    if offered:
        # Periodic: the download question, declined. Manual: the check
        # question, answered yes; then no download question is asked.
        robot = wine.start(ROBOT, "--timeout=60", "report", "press:1" if manual else "press:2")
    before = now_seconds()
    pid = run_copy(p, *switches, timeout=90)
    lines = p.lines_of(pid)
    assert fire_ticks(p, pid) == [1]
    assert lines.count(" ==== Perform Update-1 ====") == (1 if offered else 0), lines
    reask_last = int(p.setting("OriginalSetup", "ReAskSecondsLast"))
    if offered:
        out, _ = robot.communicate(timeout=60)
        box = json.loads(out.decode("latin-1").splitlines()[0])
        if manual:
            assert "NEW UPDATE" in box["text"], box
            assert " ==== DoPerform-7 ====" in lines
        else:
            assert box["caption"] == "Confirm" and "Get Prod?" in box["text"], box
            assert " ==== DoPerform-3 ====" not in lines
        # The offer is recorded.
        assert reask_last >= before - 5
    else:
        assert not any("DoPerform" in l for l in lines), lines
        assert reask_last == last
    assert p.setting("OriginalSetup", "Stamp") == "9"
    assert p.setting("OriginalSetup", "VersionOriginal") == "1"
    assert not (p.dir / "update.exe").exists()
    p.stop_viewer()


def test_update_of_another_product_is_rejected_and_deleted(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": 0}})
    p.test_mode()
    other = build_setup(tmp_path, "update.exe", token="someone-else")
    p.publish(other)
    p.start_viewer()
    robot = wine.start(ROBOT, "--timeout=60", "report", "press:1")
    pid = run_copy(p, "/DELAY=0", "/STOP=3", timeout=90)
    out, _ = robot.communicate(timeout=60)
    box = json.loads(out.decode("latin-1").splitlines()[0])
    assert box["caption"] == "Error" and "Bad Secret Token!" in box["text"], box
    assert " ==== DoPerform-9 ====" in p.lines_of(pid)
    assert " ==== DoPerform-4 ====" not in p.lines_of(pid)
    assert not (p.dir / "update.exe").exists()
    assert p.setting("OriginalSetup", "VersionOriginal") == "1"
    p.stop_viewer()


def test_manual_check_from_the_launcher_ends_with_the_notice(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": -1}})
    p.test_mode()
    p.publish(VersionNew=1)
    p.start_viewer()
    robot = wine.start(ROBOT, "--timeout=60", "report", "press:1", "next", "report", "press:1")
    # No copy runs: the launcher starts one for this check, which ends after it.
    pid = run_copy(p, "/TEST=2", timeout=90)
    out, _ = robot.communicate(timeout=60)
    question, notice = [json.loads(l) for l in out.decode("latin-1").splitlines()[:2]]
    assert question["caption"] == "Confirm" and "NEW UPDATE" in question["text"] and "Prod" in question["text"]
    # The source is a folder: no hint about the internet connection.
    assert "Internet connection" not in question["text"]
    assert notice["text"].strip() == "Nothing new", notice
    assert fire_ticks(p, pid) == [1]
    assert any(l == " TRUE TRUE" or l == " TRUE FALSE" for l in p.lines_of(pid)), p.lines_of(pid)
    p.stop_viewer()
