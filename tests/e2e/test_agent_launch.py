"""The agent program as launcher under Wine: it makes "X_" + its name beside
itself and starts that copy hidden, forwards its switches to the running copy
as window messages, and the copy ends when told to."""
import re

from agent_kit import COPY_CLASS, NOTIFY_MSG, NotifyTarget, Product
from agent_kit import nothing_left_in_temp  # noqa: F401 (the temporary folder checked after each test)
from conftest import wait_for


def test_launch_makes_the_copy_and_a_second_start_only_forwards(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": -1}})
    p.start_viewer()
    assert p.launch() == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30), p.lines()
    first = p.copy_pids()[0]
    assert p.copy.read_bytes() == p.agent.read_bytes()
    window = p.copy_window()
    assert window, "no window of class " + COPY_CLASS
    launcher_lines = [l for l in p.lines() if "CreateAndRun_X_Exe" in l]
    assert re.fullmatch(r"\d+ CreateAndRun_X_Exe-1 ", launcher_lines[0])
    assert re.fullmatch(r"\d+ CreateAndRun_X_Exe-2", launcher_lines[1])

    # A second start finds the copy's window: no copy is made, the stop goes
    # through, and the one copy ends.
    assert p.launch("/STOP=1") == 0
    second = [l for l in p.lines() if "CreateAndRun_X_Exe" in l][2:]
    assert len(second) == 1 and second[0].endswith("CreateAndRun_X_Exe-1 "), second
    assert any(re.fullmatch(r'\d+ ==1== .*ProdAgent\.exe"? /STOP=1', l) for l in p.lines())
    p.wait_copy_gone(first)
    assert p.copy_pids() == [first]
    p.stop_viewer()
    assert not (wine.temp_dir / "_DEL_ME_.BAT").exists()


def test_zz99_starts_a_copy_that_finds_the_running_one_and_ends(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": -1}})
    p.start_viewer()
    assert p.launch() == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30)
    first = p.copy_pids()[0]
    assert p.copy_window()
    assert p.launch("/_ZZ=99") == 0
    assert wait_for(lambda: len(p.copy_pids()) == 2, timeout=30), p.lines()
    second = p.copy_pids()[1]
    assert any(l.endswith("CreateAndRun_X_Exe-1 99") for l in p.lines())
    # The second copy sees the first one's window and ends without a tick.
    assert wait_for(lambda: p.ended(second), timeout=30)
    assert p.ticks(second) == []
    assert not p.ended(first)
    ticks_before = len(p.ticks(first))
    assert wait_for(lambda: len(p.ticks(first)) > ticks_before + 1, timeout=30)
    p.query(30, 0)  # ticks to live 0: ends at its next tick
    p.wait_copy_gone(first)
    p.stop_viewer()


def test_stop_two_ends_the_copy_two_ticks_later(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": -1}})
    p.start_viewer()
    assert p.launch() == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30)
    pid = p.copy_pids()[0]
    assert p.copy_window()
    assert p.launch("/STOP=2") == 0
    p.wait_copy_gone(pid)
    lines = p.lines()
    sent = max(i for i, l in enumerate(lines) if l.endswith(" ==2=="))
    after = [l for l in lines[sent:] if l.startswith(pid + " AutoUpdateTimerCount=")]
    # Two ticks count down to 0 and the third ends the loop; a tick that was
    # already under way when the message came may show up as one more line.
    assert len(after) in (3, 4), lines[sent:]
    assert p.ticks(pid) == list(range(-2, -2 + len(p.ticks(pid))))
    p.stop_viewer()


def test_wm_msg_registers_a_target_that_hears_from_the_copy(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": -1}})
    target = NotifyTarget(wine, tmp_path)
    p.start_viewer()
    # A fresh copy: the launcher waits for its window before it posts.
    assert p.launch(target.switch(), "/STOP=3") == 0
    assert wait_for(lambda: len(target.received()) >= 2, timeout=30), target.log.read_text()[-2000:]
    pid = p.copy_pids()[0]
    window = p.copy_window()
    assert target.received()[:2] == [(50, window), (51, 1125)]
    p.wait_copy_gone(pid)
    # The end of the loop is reported too.
    assert wait_for(lambda: (43, 0) in target.received(), timeout=30)
    assert target.received()[-1] == (43, 0)
    target.stop()
    p.stop_viewer()


def test_transient_and_delay_reach_the_copy(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": -1}})
    p.start_viewer()
    assert p.launch("/TRANSIENT=|1|0|255|255|0|1|", "/DELAY=0", "/STOP=2") == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30)
    pid = p.copy_pids()[0]
    start = next(l for l in p.lines() if l.startswith(pid + " ==== STUB START ====>"))
    assert start.endswith('X_ProdAgent.exe" /TRANSIENTx=|1|0|255|255|0|1| /SleepX=0<'), start
    p.wait_copy_gone(pid)
    # "/SleepX=0": the counter starts at 0, so the first tick is 1.
    assert p.ticks(pid)[0] == 1
    p.stop_viewer()


def test_queries_read_and_write_the_settings(wine, tmp_path):
    p = Product(wine, tmp_path, original={"OriginalSetup": {"ProbeSecondsInterval": -1,
                                                            "ReAskSecondsInterval": 600}})
    p.start_viewer()
    assert p.launch() == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30)
    pid = p.copy_pids()[0]
    assert p.copy_window()
    assert p.query(4) == 1     # VersionOriginal
    assert p.query(5) == 0     # VersionNew: no information file
    assert p.query(7) == 0     # idle
    assert p.query(8) == -1    # ProbeSecondsInterval, signed
    assert p.query(9) == 600
    # Writes take the value sign-extended.
    assert p.query(13, -5) == 0
    assert p.setting("OriginalSetup", "ReAskSecondsInterval") == "-5"
    assert p.query(14, 123456) == 0
    assert p.query(10) == 123456
    assert p.setting("OriginalSetup", "ProbeSecondsLast") == "123456"
    assert p.query(15, 77) == 0 and p.query(11) == 77
    assert p.query(12, 3600) == 0 and p.query(8) == 3600
    # A code not in the table answers 0 and changes nothing.
    before = p.original.read_text()
    assert p.query(99, 5) == 0
    assert p.original.read_text() == before
    assert p.query(30, 0) == 0  # ticks to live 0: ends at the next tick
    p.wait_copy_gone(pid)
    p.stop_viewer()
