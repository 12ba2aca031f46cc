"""Shared fixtures of the end-to-end scenarios: paths of the built programs,
Wine prefixes of their own, and running Windows programs under Wine."""
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

TOP = Path(__file__).resolve().parents[2]
BUILD = TOP / "build"
# KORVAN_ARTIFACTS: another tree with host/, win32/ and win64/ builds, so that
# a scenario can run programs built apart from build/.
ARTIFACTS = Path(os.environ.get("KORVAN_ARTIFACTS", str(BUILD)))
PACK = ARTIFACTS / "host" / "korvan-pack"
STUB = ARTIFACTS / "win64" / "stub.exe"
STUB32 = ARTIFACTS / "win32" / "stub.exe"
TESTKIT = ARTIFACTS / "win64" / "testkit"
WINE_RUN = TOP / "scripts" / "wine-run"
# The prefix that wine-run makes and uses, which the scenarios clone.
TEMPLATE_PREFIX = Path(os.environ.get("KORVAN_WINEPREFIX") or
                       Path(os.environ.get("KORVAN_STATE_DIR") or BUILD) / "wineprefix")
SCREENS = BUILD / "screens"
DATA = TOP / "tests" / "data"
FIXTURES = DATA / "fixtures"


def win_path(path):
    """The Windows form of a host path (Wine maps Z: to /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def _ensure_template():
    subprocess.run([str(WINE_RUN), "--init"], check=True)


class Wine:
    """One Wine prefix, cloned from the project's template prefix with hard
    links (the DLLs are only read; the registry files are copied, since Wine
    rewrites them). Programs started here see only this prefix's wineserver,
    atoms, window classes and temporary folder."""

    def __init__(self, root, lc_all=None):
        self.root = Path(root)
        self.prefix = self.root / "prefix"
        self.root.mkdir(parents=True, exist_ok=True)
        _ensure_template()
        subprocess.run(["cp", "-al", str(TEMPLATE_PREFIX), str(self.prefix)], check=True)
        for reg in TEMPLATE_PREFIX.glob("*.reg"):
            target = self.prefix / reg.name
            target.unlink()
            shutil.copy2(reg, target)
        self.env = dict(os.environ)
        self.env["KORVAN_WINEPREFIX"] = str(self.prefix)
        # A display of its own as well (wine-run starts one Xvfb per state
        # folder): two Wine servers on one X display take the input focus
        # from each other's windows, so a box of one scenario would lose its
        # activation whenever a window of a scenario beside it showed.
        if not os.environ.get("KORVAN_DISPLAY"):
            self.env["KORVAN_STATE_DIR"] = str(self.root / "state")
        if lc_all:
            self.env["LC_ALL"] = lc_all
            self.env["LANG"] = lc_all

    @property
    def temp_dir(self):
        """The prefix's temporary folder as a host path."""
        users = self.prefix / "drive_c" / "users"
        for name in (os.environ.get("USER", "root"), "root"):
            candidate = users / name / "AppData" / "Local" / "Temp"
            if candidate.is_dir():
                return candidate
        found = list(users.glob("*/AppData/Local/Temp")) or list(users.glob("*/Temp"))
        return found[0] if found else users / "root" / "Temp"

    def command(self, program, *args):
        return [str(WINE_RUN), str(program), *[str(a) for a in args]]

    def run(self, program, *args, timeout=120, check=False, env=None, cwd=None):
        e = dict(self.env)
        if env:
            e.update(env)
        proc = subprocess.run(self.command(program, *args), env=e, cwd=cwd, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        proc.out = proc.stdout.decode("latin-1")
        if check and proc.returncode != 0:
            raise AssertionError(f"{program} exited {proc.returncode}:\n{proc.out}\n{proc.stderr.decode('latin-1')}")
        return proc

    def start(self, program, *args, env=None, cwd=None):
        e = dict(self.env)
        if env:
            e.update(env)
        return subprocess.Popen(self.command(program, *args), env=e, cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def reg(self, *args, check=False):
        """Wine's reg tool. Now and then, on a loaded machine, Wine fails to
        start it in a freshly cloned prefix ("ShellExecuteEx failed"); that
        start is tried again, while what reg itself answers is kept."""
        for attempt in range(3):
            proc = self.run("reg", *args)
            if "ShellExecuteEx failed" not in proc.out + proc.stderr.decode("latin-1"):
                break
            time.sleep(1 + attempt)
        if check and proc.returncode != 0:
            raise AssertionError(f"reg exited {proc.returncode}:\n{proc.out}\n{proc.stderr.decode('latin-1')}")
        return proc

    def reg_query(self, key, value):
        """A registry value as text, or None when it is missing."""
        proc = self.reg("query", key, "/v", value)
        for line in proc.out.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == value.lower() and parts[1].startswith("REG_"):
                return parts[2].strip() if len(parts) > 2 else ""
        return None

    def reg_add(self, key, value, data, kind="REG_SZ"):
        self.reg("add", key, "/v", value, "/t", kind, "/d", data, "/f", check=True)

    @property
    def display(self):
        """The X display of this prefix's programs."""
        return subprocess.run([str(WINE_RUN), "--display"], env=self.env, stdout=subprocess.PIPE,
                              text=True, check=True).stdout.strip()

    def shutdown(self):
        subprocess.run(["/usr/lib/wine/wineserver64" if os.path.exists("/usr/lib/wine/wineserver64")
                        else "wineserver", "-k"], env={**self.env, "WINEPREFIX": str(self.prefix)},
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if "KORVAN_STATE_DIR" in self.env and self.env["KORVAN_STATE_DIR"] != os.environ.get("KORVAN_STATE_DIR"):
            subprocess.run([str(WINE_RUN), "--stop-display"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@pytest.fixture
def wine(tmp_path):
    w = Wine(tmp_path / "wine")
    yield w
    w.shutdown()


@pytest.fixture
def wine_factory(tmp_path):
    """Prefixes started with a locale, e.g. wine_factory("fr_FR.UTF-8")."""
    made = []

    def make(lc_all=None, name=None):
        w = Wine(tmp_path / (name or f"wine{len(made)}"), lc_all=lc_all)
        made.append(w)
        return w

    yield make
    for w in made:
        w.shutdown()


def pack(*args, check=True):
    """Runs the host korvan-pack."""
    proc = subprocess.run([str(PACK), *[str(a) for a in args]], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)
    if check and proc.returncode != 0:
        raise AssertionError(f"korvan-pack {' '.join(map(str, args))} exited {proc.returncode}:\n"
                             f"{proc.stdout}\n{proc.stderr}")
    return proc


def screenshot(name, wine):
    """Saves a picture of the Xvfb screen of a prefix under build/screens/."""
    SCREENS.mkdir(parents=True, exist_ok=True)
    out = SCREENS / f"{name}.png"
    subprocess.run(["import", "-display", wine.display, "-window", "root", str(out)], check=True)
    return out


def wait_for(predicate, timeout=30, step=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()
