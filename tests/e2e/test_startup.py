"""Start-up of the real stub under Wine: its trace lines, the role it takes
from its header and file name, and the language chosen for the user."""
import re
import shutil
import struct

import pytest

from conftest import FIXTURES, STUB, TESTKIT, pack, wait_for, win_path

DYN_KEY = r"HKEY_CURRENT_USER\Software\Korvan_Dyn_Data"


def trace_lines(out):
    return [line for line in out.replace("\r\n", "\n").split("\n") if line]


def build_package(tmp_path, name="setup.exe", lang=None, extra=()):
    files = tmp_path / "files"
    files.mkdir(exist_ok=True)
    (files / "Setup.exe").write_bytes(b"MZ fake setup")
    (files / "readme.txt").write_text("hello\n")
    args = ["build", "--stub", STUB, "--out", tmp_path / name, "--dir", files, "--setup", "Setup.exe",
            *extra, "readme.txt"]
    if lang:
        ini = tmp_path / "lang.ini"
        ini.write_text(lang)
        args += ["--lang", ini]
    pack(*args)
    return tmp_path / name


def set_is_agent(path):
    data = bytearray(path.read_bytes())
    end = struct.unpack_from("<I", data, 252)[0]
    data[end - 5] = 1
    path.write_bytes(bytes(data))


def test_stub_writes_its_start_and_end_lines_behind_its_process_id(wine, tmp_path):
    package = build_package(tmp_path)
    proc = wine.run(package, "/hide", "foo bar")
    assert proc.returncode == 0
    lines = trace_lines(proc.out)
    start = re.fullmatch(r'(\d+) ==== STUB START ====>(.*)<', lines[0])
    assert start, lines
    pid, command_line = start.groups()
    assert command_line.endswith('/hide "foo bar"') and "setup.exe" in command_line
    assert f"{pid} ThisIs_AutoUpdateProg=FALSE" in lines
    assert f"{pid} ==== STUB END ====>{command_line}<" in lines
    # The stub role records where it was started from.
    assert wine.reg_query(DYN_KEY, "OriginDir") == win_path(tmp_path)
    assert wine.reg_query(DYN_KEY, "OriginExe") == win_path(package)


def test_agent_byte_and_agent_name_make_the_agent_program(wine, tmp_path):
    package = build_package(tmp_path, extra=["--agent-name", "ProdAgent.exe", "--agent-token", "tok"])
    set_is_agent(package)
    agent = tmp_path / "ProdAgent.exe"
    shutil.copy(package, agent)
    # The agent program starts its copy, which shares this output; /STOP=0
    # ends the copy at its first tick so that the run comes to an end.
    proc = wine.run(agent, "/STOP=0")
    assert re.search(r"^\d+ ThisIs_AutoUpdateProg=TRUE\r?$", proc.out, re.M), proc.out


def test_stub_without_a_package_reports_a_bad_package_and_ends(wine):
    robot = wine.start(TESTKIT / "msgbox_robot.exe", "--timeout=60", "report", "press:1")
    proc = wine.run(STUB, "x")
    out, _ = robot.communicate(timeout=60)
    assert "Bad CRC!" in out.decode("latin-1")
    assert proc.returncode == 0
    assert "ThisIs_AutoUpdateProg=FALSE" in proc.out
    assert "==== STUB END ====>" in proc.out


LANG_EN_FR = """[English]
Charset=0
s0=English caption
Error=Error

[French]
Charset=0
s0=Sous-titre
Error=Erreur
"""


@pytest.mark.parametrize("locale, expected", [
    ("C.UTF-8", {"language": "ENGLISH", "s0": "English caption", "Error": "Error"}),
    ("fr_FR.UTF-8", {"language": "FRENCH", "s0": "Sous-titre", "Error": "Erreur"}),
])
def test_language_section_follows_the_users_locale(wine_factory, tmp_path, locale, expected):
    package = build_package(tmp_path, lang=LANG_EN_FR)
    w = wine_factory(locale)
    proc = w.run(TESTKIT / "package_probe.exe", win_path(package), "s0", "Error", "s9", check=True)
    seen = dict(line.split("=", 1) for line in trace_lines(proc.out))
    for key, value in expected.items():
        assert seen[key] == value
    assert seen["s9"] == "<default>"


def test_french_only_package_gives_defaults_on_an_english_system(wine, tmp_path):
    package = build_package(tmp_path, lang="[French]\nCharset=0\ns0=Sous-titre\n")
    proc = wine.run(TESTKIT / "package_probe.exe", win_path(package), "s0", check=True)
    seen = dict(line.split("=", 1) for line in trace_lines(proc.out))
    assert seen["language"] == "ENGLISH"
    assert seen["s0"] == "<default>"
    assert seen["charset"] == "0"


def test_fixture_languages_under_an_arabic_prefix(wine_factory):
    w = wine_factory("ar_SA.UTF-8")
    proc = w.run(TESTKIT / "package_probe.exe", win_path(FIXTURES / "local-three-languages.pkg"), "s0",
                 check=True)
    seen = dict(line.split("=", 1) for line in trace_lines(proc.out))
    assert seen["s0"] == "Arabic caption"
    assert seen["charset"] == "178"
