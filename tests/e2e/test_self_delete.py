"""The self-delete batch: a program that starts it and ends is gone a moment
later, and so is the batch. Each run has a Wine prefix of its own, since the
batch always has the same name in the temporary folder."""
import shutil

from conftest import TESTKIT, wait_for

PROBE = TESTKIT / "selfdelete_probe.exe"


def run_probe(wine, tmp_path, name):
    program = tmp_path / "bin" / name
    program.parent.mkdir()
    shutil.copy2(PROBE, program)
    proc = wine.run(program, check=True)
    # Under Wine the batch's cmd.exe shares this console and echoes its lines
    # after the probe's own.
    first = proc.out.splitlines()[0]
    assert first.startswith("batch=") and first.endswith("\\_DEL_ME_.BAT"), proc.out
    return program


def test_program_and_batch_are_gone_after_the_program_ends(wine, tmp_path):
    program = run_probe(wine, tmp_path, "X_agent.exe")
    batch = wine.temp_dir / "_DEL_ME_.BAT"
    assert wait_for(lambda: not program.exists() and not batch.exists(), timeout=30), \
        (program.exists(), batch.exists())
    # Only the program went: the folder it ran from stays.
    assert program.parent.is_dir()


def test_blanks_in_the_program_path(wine, tmp_path):
    program = run_probe(wine, tmp_path, "agent copy.exe")
    batch = wine.temp_dir / "_DEL_ME_.BAT"
    assert wait_for(lambda: not program.exists() and not batch.exists(), timeout=30), \
        (program.exists(), batch.exists())
