"""A product installed the way a customer gets it: the real stub, built with
--creates-agent, extracts its files and the agent program and runs the setup,
which installs the agent and its installation settings into the product's
folder; the installed agent program then makes its copy, which reads those
settings."""
import json

from agent_kit import AGENT, COPY_CLASS, Product, agent_bytes, build_setup, read_ini
from agent_kit import nothing_left_in_temp  # noqa: F401 (the temporary folder checked after each test)
from conftest import wait_for, win_path


def test_setup_installs_the_agent_whose_copy_reads_the_installed_settings(wine, tmp_path):
    folder = tmp_path / "product"
    report = tmp_path / "install.json"
    package = build_setup(tmp_path, "setup.exe",
                          setup_args=f"--report={win_path(report)} --install={win_path(folder)} "
                                     f"--agent={AGENT} --original=prod.original --interval=3600")
    proc = wine.run(package, "/hide", timeout=120)
    assert proc.returncode == 0
    got = json.loads(report.read_text(encoding="latin-1"))
    assert got["installed"] is True, got
    # The setup found the agent program beside itself in the working folder.
    assert AGENT in [f["name"] for f in got["files"]]
    # Started by the stub, not by an agent's update.
    assert "/AutoUpdateProg" not in got["args"], got["args"]
    # What the setup installed: the agent program as the stub wrote it, and
    # the installation settings with the first version.
    assert (folder / AGENT).read_bytes() == agent_bytes(package)
    settings = read_ini(folder / "prod.original")
    assert settings.get("OriginalSetup", "VersionOriginal") == "1"
    assert settings.get("Directories", "TargetDir") == win_path(folder)
    # The stub's working folder went with the run.
    assert not list(wine.temp_dir.glob("SETUP_*"))

    p = Product(wine, tmp_path, installed_by=package)
    p.start_viewer()
    # A long start delay: no check while the settings are queried.
    assert p.launch("/DELAY=60") == 0
    assert wait_for(lambda: p.copy_pids(), timeout=30), p.lines()
    pid = p.copy_pids()[0]
    assert p.copy.exists()
    assert p.copy_window(), f"no window of class {COPY_CLASS}"
    assert p.query(4) == 1        # VersionOriginal
    assert p.query(8) == 3600     # ProbeSecondsInterval
    p.query(30, 0)
    p.wait_copy_gone(pid)
    # The installed program stays; only the copy removed itself.
    assert (folder / AGENT).exists()
    p.stop_viewer()
