"""The stub runs from a download folder, where a DLL named like a system one
may lie beside it. The libraries it loads must come from the system folder.

Wine prefers its built-in libraries unless told otherwise, which would hide
the fault: WINEDLLOVERRIDES makes it take a native library first, so a
program that searched its own folder would load the planted one."""
import json
import shutil

from conftest import TESTKIT, win_path
from test_extract import ROBOT, build, make_files, read_report

PLANTED = TESTKIT / "planted.dll"
LIBRARIES = ("riched32.dll", "psapi.dll", "shfolder.dll", "wininet.dll")
NATIVE_FIRST = "mscoree,mshtml=;" + ",".join(name[:-4] for name in LIBRARIES) + "=n,b"


def test_libraries_planted_beside_the_stub_are_not_loaded(wine, tmp_path):
    files = make_files(tmp_path / "in", 2)
    package, report = build(tmp_path, files, extra=["--announce-temp-drive"])
    folder = package.parent
    for name in LIBRARIES:
        shutil.copy(PLANTED, folder / name)
    # The planted library leaves its mark when it is loaded: the check at
    # the end can fail.
    robot = wine.start(ROBOT, "--timeout=90", "press:1")
    wine.run(TESTKIT / "msgbox_show.exe", f"--richedit={win_path(folder / 'riched32.dll')}", "Control.",
             env={"WINEDLLOVERRIDES": NATIVE_FIRST}, timeout=120)
    robot.communicate(timeout=120)
    mark = folder / "PLANTED-riched32.dll.txt"
    assert mark.exists()
    mark.unlink()
    robot = wine.start(ROBOT, "--timeout=90", "report", "press-caption:&Yes")
    proc = wine.run(package, env={"WINEDLLOVERRIDES": NATIVE_FIRST}, timeout=180)
    out, _ = robot.communicate(timeout=120)
    box = json.loads(out.decode("latin-1").splitlines()[0])
    assert proc.returncode == 0
    # The question was shown in the system's rich-text control, and the setup
    # ran and was waited for through the process-status library.
    assert box["caption"] == "Confirm"
    assert box["text_class"].upper() == "RICHEDIT"
    assert read_report(report)["token"]
    assert sorted(p.name for p in folder.glob("PLANTED-*")) == []
