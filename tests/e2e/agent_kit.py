"""What the update-agent scenarios share: an installed product folder with the
agent program and its settings files, a test-mode update source, and runs of
the agent under Wine with its trace lines caught by the debug viewer."""
import configparser
import re
import shutil
import struct
import subprocess
import time
from pathlib import Path

import pytest

from conftest import STUB, TESTKIT, pack, wait_for, win_path

AGENT = "ProdAgent.exe"
COPY = "X_" + AGENT
COPY_CLASS = ".AutoUpdate.X_ProdAgent"
TOKEN = "prod-token"
SETTINGS = "prod.ini"
AUTO_UPDATE_KEY = r"HKEY_CURRENT_USER\Software\Fellmoor\Korvan\AutoUpdate"
NOTIFY_MSG = 0x8000 + 5  # WM_APP + 5, the target's own message number

VIEWER = TESTKIT / "debug_viewer.exe"
POKE = TESTKIT / "window_poke.exe"
PROBE = TESTKIT / "setup_probe.exe"
PRODUCT = TESTKIT / "product_window.exe"
NOTIFY = TESTKIT / "notify_target.exe"
ROBOT = TESTKIT / "msgbox_robot.exe"


def agent_bytes(package):
    """The agent program a stub writes beside the setup: the stub with its
    language and product sections, no files, no package end at 252 and the
    agent byte set. (test_extract checks that the stub writes exactly this.)"""
    data = bytearray(package.read_bytes())
    header = data[len(data) - 74:]
    pos = struct.unpack_from("<I", header, 4)[0]
    for _ in range(2):
        pos += 4 + struct.unpack_from("<I", data, pos)[0]
    agent = bytearray(data[:pos])
    agent[252:256] = b"\0\0\0\0"
    header[69] = 1
    return bytes(agent + header)


def build_setup(tmp_path, name, token=TOKEN, setup_args="", update_url="http://127.0.0.1:9/updates"):
    """A package of this product whose setup is the probe."""
    files = tmp_path / f"{name}-files"
    files.mkdir(parents=True, exist_ok=True)
    shutil.copy(PROBE, files / "setup_probe.exe")
    (files / "readme.txt").write_text(f"{name}\n")
    out = tmp_path / name
    # The probe's report goes outside the temporary folder, which must be
    # left as it was.
    if "--report=" not in setup_args:
        setup_args = f"--report={win_path(tmp_path / (name + '-report.json'))} {setup_args}".strip()
    setup = "setup_probe.exe*" + setup_args
    pack("build", "--stub", STUB, "--out", out, "--dir", files, "--setup", setup, "--agent-name", AGENT,
         "--agent-token", token, "--settings-name", SETTINGS, "--update-url", update_url, "--creates-agent",
         "--silent", "readme.txt")
    return out


@pytest.fixture(autouse=True)
def nothing_left_in_temp(wine):
    """Every agent scenario ends with the prefix's temporary folder as it was
    before: no working folder, no clean-up batch, no downloaded file. The
    clean-up batch deletes itself after the copy has ended, so it is given
    a moment. Test modules import this fixture to have it run."""
    temp = wine.temp_dir
    before = set(temp.iterdir()) if temp.is_dir() else set()
    yield
    left = lambda: sorted(p.name for p in (set(temp.iterdir()) if temp.is_dir() else set()) - before)
    wait_for(lambda: not left(), timeout=30)
    assert not left(), f"left in the temporary folder: {left()}"


def write_ini(path, sections):
    lines = []
    for section, keys in sections.items():
        lines.append(f"[{section}]")
        lines += [f"{k}={v}" for k, v in keys.items()]
        lines.append("")
    path.write_text("\r\n".join(lines), encoding="latin-1")


# Keys of the information file and the korvan-pack info options that write them.
INFO_OPTIONS = {"VersionNew": "--version-new", "Stamp": "--stamp", "ValidVersions": "--valid-versions",
                "ProgramName": "--program-name", "DownloadURL_UPDATE": "--download-url",
                "NameOfUpdateFile": "--update-name", "ShutDownMethod": "--shutdown",
                "RunningProcess": "--running-process"}
INFO_FLAGS = {"RequestConfirmationBeforeDownload": "--request-confirmation-before-download",
              "RequestConfirmationBeforeInstall": "--request-confirmation-before-install",
              "BackgroundUpdate": "--background-update", "RestartProcess": "--restart-process",
              "InformFinish": "--inform-finish", "RemoveStartUpShortcut": "--remove-startup-shortcut",
              "RemoveCheckForNewUpdateShortcut": "--remove-check-for-new-update-shortcut"}


def write_info(out, update, **keys):
    """The information file an agent fetches, written by korvan-pack info from
    the same keys; its size of the update file is that of Update."""
    args = ["info", "--out", out, "--update", update]
    for key, value in keys.items():
        if key in INFO_FLAGS:
            if str(value) == "1":
                args.append(INFO_FLAGS[key])
        else:
            args += [INFO_OPTIONS[key], value]
    pack(*args)
    return Path(out).read_bytes()


def read_ini(path):
    parser = configparser.RawConfigParser(strict=False)
    parser.optionxform = str
    parser.read_string(path.read_text(encoding="latin-1"))
    return parser


class Product:
    """An installed product: the agent program and the installation settings
    file in one folder, an update source folder for test mode beside it."""

    def __init__(self, wine, tmp_path, original=None, update_url="http://127.0.0.1:9/updates", installed_by=None):
        """installed_by: the package whose setup has installed the product into
        tmp_path / "product" already; then nothing is written there."""
        self.wine = wine
        self.tmp = tmp_path
        self.dir = tmp_path / "product"
        self.dir.mkdir(parents=True, exist_ok=True)
        self.source = tmp_path / "source"
        self.source.mkdir(exist_ok=True)
        self.package = installed_by or build_setup(tmp_path, "setup.exe", update_url=update_url)
        self.agent = self.dir / AGENT
        self.copy = self.dir / COPY
        self.original = self.dir / "prod.original"
        self.info_name = "prod.info"
        if not installed_by:
            self.agent.write_bytes(agent_bytes(self.package))
            sections = {"OriginalSetup": {"VersionOriginal": 1, "ProgramName": "Prod"},
                        "AutoUpdate": {"s21": "Nothing new"}}
            for section, keys in (original or {}).items():
                sections.setdefault(section, {}).update(keys)
            write_ini(self.original, sections)
        self.trace = tmp_path / "trace.txt"
        self.viewer = None

    # -- test mode and the source ---------------------------------------------------------
    def test_mode(self, on=True):
        self.wine.reg_add(AUTO_UPDATE_KEY, "TestMode", "1" if on else "0")
        self.wine.reg_add(AUTO_UPDATE_KEY, "TestModeURL", win_path(self.source))

    def publish(self, update=None, **keys):
        """Writes the information file into the source folder with korvan-pack
        info, and puts the update package there when given. Without one the
        product's own package stands in for the name and size, and no file
        lies at the source."""
        values = {"VersionNew": 2, "Stamp": 7, "ProgramName": "Prod", "DownloadURL_UPDATE": "http://127.0.0.1:9/x",
                  "NameOfUpdateFile": "update.exe", "ShutDownMethod": "Don't Shut Down"}
        values.update(keys)
        if update is not None:
            shutil.copy(update, self.source / values["NameOfUpdateFile"])
        write_info(self.source / self.info_name, update if update is not None else self.package, **values)
        return values

    def settings(self):
        return read_ini(self.original)

    def setting(self, section, key, default=None):
        parser = self.settings()
        return parser.get(section, key) if parser.has_option(section, key) else default

    # -- runs --------------------------------------------------------------------------------
    def start_viewer(self):
        """Start it before any other long-lived program of the prefix: the
        wineserver inherits the pipes of the program that starts it, so a
        program read with communicate() must not be the first."""
        self.viewer = self.wine.start(VIEWER, win_path(self.trace), 240)
        assert wait_for(lambda: Path(str(self.trace) + ".ready").exists(), timeout=60), "viewer did not start"

    def stop_viewer(self):
        if self.viewer:
            Path(str(self.trace) + ".stop").write_text("")
            try:
                self.viewer.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.viewer.kill()
            self.viewer = None

    def lines(self):
        if not self.trace.exists():
            return []
        return [l for l in self.trace.read_text(encoding="latin-1").replace("\r\n", "\n").split("\n") if l]

    def launch(self, *args, timeout=120):
        """Runs the agent program (the launcher) to its end. Its output goes to
        a file: the copy it starts inherits the handle and outlives it."""
        out = self.tmp / f"launch{int(time.monotonic() * 1000)}.out"
        with open(out, "wb") as sink:
            proc = subprocess.run(self.wine.command(self.agent, *args), env=self.wine.env, stdout=sink,
                                  stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout)
        return proc.returncode

    def copy_pids(self):
        """Ids of the copy processes in the order they started."""
        pids = []
        for line in self.lines():
            m = re.fullmatch(r'(\d+) ==== STUB START ====>"?[^"]*X_ProdAgent\.exe"?.*<', line)
            if m:
                pids.append(m.group(1))
        return pids

    def ended(self, pid):
        return any(l.startswith(f"{pid} ==== STUB END ====>") for l in self.lines())

    def lines_of(self, pid):
        return [l[len(pid):] for l in self.lines() if l.startswith(pid + " ")]

    def ticks(self, pid):
        return [int(l.split("=")[1]) for l in self.lines_of(pid) if l.startswith(" AutoUpdateTimerCount=")]

    def poke(self, *steps, cls=COPY_CLASS, timeout=30):
        proc = self.wine.run(POKE, f"--class={cls}", f"--timeout={timeout}", *steps, timeout=timeout + 60)
        return proc

    def query(self, code, value=0):
        proc = self.poke(f"send:1125:{code}:{value}")
        m = re.search(r"send 1125 = (-?\d+)", proc.out)
        assert m, proc.out
        return int(m.group(1))

    def copy_window(self):
        proc = self.poke(timeout=20)
        m = re.search(r"found 0x([0-9a-f]+)", proc.out)
        return int(m.group(1), 16) if m else None

    def wait_copy_gone(self, pid, timeout=60):
        """The copy ended and its self-delete batch removed its file."""
        assert wait_for(lambda: self.ended(pid), timeout=timeout), self.lines()[-20:]
        assert wait_for(lambda: not self.copy.exists(), timeout=30), "the copy's file stayed"


class NotifyTarget:
    def __init__(self, wine, tmp_path):
        self.log = tmp_path / "notify.log"
        self.proc = wine.start(NOTIFY, win_path(self.log), "--timeout", 200)
        assert wait_for(lambda: self.log.exists() and "READY" in self.log.read_text(), timeout=60)
        self.window = int(re.search(r"READY (\d+)", self.log.read_text()).group(1))

    def switch(self):
        return f"/WM_MSG={self.window}:{NOTIFY_MSG}"

    def received(self):
        pairs = []
        for line in self.log.read_text().splitlines():
            parts = line.split()
            if len(parts) == 4 and parts[0] == "MSG" and int(parts[1]) == NOTIFY_MSG:
                pairs.append((int(parts[2]), int(parts[3])))
        return pairs

    def stop(self):
        self.proc.kill()
