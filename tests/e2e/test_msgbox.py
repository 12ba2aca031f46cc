"""The message box under Wine: msgbox_show opens one box from its arguments,
msgbox_robot reads it from another process and answers it."""
import json
import os
import subprocess
from pathlib import Path

import pytest

from conftest import SCREENS, TESTKIT as BUILT_TESTKIT, screenshot, win_path

# A helper's own build may stand in for the shared one.
TESTKIT = Path(os.environ.get("KORVAN_TESTKIT_DIR", str(BUILT_TESTKIT)))
SHOW = TESTKIT / "msgbox_show.exe"
ROBOT = TESTKIT / "msgbox_robot.exe"

FRENCH = "|&D'accord|&Annuler|&Oui|&Non|&Abandonner|&Recommencer|&Ignorer|"
FRENCH_CAPTIONS = ["&D'accord", "&Annuler", "&Oui", "&Non", "&Abandonner", "&Recommencer", "&Ignorer"]
# (caption index, identifier) left to right for each button set
BUTTON_SETS = {
    0: [(0, 1)],
    1: [(0, 1), (1, 2)],
    2: [(4, 3), (5, 4), (6, 5)],
    3: [(2, 6), (3, 7), (1, 2)],
    4: [(2, 6), (3, 7)],
    5: [(5, 4), (1, 2)],
}

pytestmark = pytest.mark.skipif(not (SHOW.exists() and ROBOT.exists()),
                                reason="test kit not built")


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.strip().startswith("{")]


def unmanaged(wine):
    """Wine draws the caption itself and maps windows at once: under a bare
    Xvfb a window-manager-managed window takes seconds to appear and shows no
    title bar in the pictures."""
    wine.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
    return wine


@pytest.fixture
def box_wine(wine):
    return unmanaged(wine)


class Session:
    """One msgbox_show run answered by one msgbox_robot run."""

    def __init__(self, wine, text, *show_args, steps=("report", "press:1"), hold=None):
        self.show = wine.start(SHOW, *show_args, text)
        try:
            robot_args = ["--timeout=40", *steps]
            if hold is None:
                proc = wine.run(ROBOT, *robot_args, timeout=120)
                self.robot_out = proc.out
                self.robot_rc = proc.returncode
            else:
                self.robot_out, self.robot_rc = hold(wine.start(ROBOT, *robot_args), wine)
            out, err = self.show.communicate(timeout=60)
        except BaseException:
            self.show.kill()
            raise
        self.show_lines = json_lines(out.decode("latin-1"))
        self.robot_lines = json_lines(self.robot_out)
        assert self.robot_rc == 0, self.robot_out
        self.reports = [line for line in self.robot_lines if "caption" in line]
        self.expected = [line for line in self.show_lines if "plain" in line]
        self.results = [line for line in self.show_lines if "plain" not in line]

    @property
    def report(self):
        return self.reports[0]


def trimmed(plain, ranges):
    """Bold ranges without their trailing line breaks, as the robot reads
    them (a line break has no face of its own)."""
    out = []
    for start, end in ranges:
        while end > start and plain[end - 1] in "\r\n":
            end -= 1
        out.append([start, end])
    return out


def assert_text_as_composed(report, expected):
    assert report["text"] == expected["plain"]
    assert report["bold"] == trimmed(expected["plain"], expected["bold"])


def assert_layout(report):
    """Size and place of the box and its text from the text control's size."""
    m = report["metrics"]
    x, y, wt, ht = report["text_rect"]
    hm = 64 if wt < 200 else 32
    vm = 45 if ht < 39 else 32
    left, top, right, bottom = report["window"]
    width, height = right - left, bottom - top
    assert width == max(wt + 54 + 2 * hm + 2 * m["cxframe"], 360)
    assert height == ht + 36 + 2 * vm + 2 * m["cyframe"] + m["cycaption"]
    assert left == (m["cxscreen"] - width) // 2 and top == (m["cyscreen"] - height) // 2
    cw, ch = report["client"]
    assert x == int((cw - 54 - wt) / 2) + 54
    assert y == int((ch - 36 - ht) / 2)
    n = len(report["buttons"])
    for k, button in enumerate(report["buttons"]):
        assert button["rect"] == [cw - 80 - 70 * (n - 1 - k), ch - 29, 70, 23]
    assert report["topmost"]


def held(tmp_path, name):
    """Robot steps that stop after the report until the picture is taken."""
    go = tmp_path / f"{name}.go"

    def hold(robot, wine):
        first = robot.stdout.readline().decode("latin-1")
        try:
            if first.strip():
                screenshot(name, wine)
        finally:
            go.write_text("go")
        # Longer than the robot's own bounds (its hold and its settle after the
        # key each wait up to --timeout), so that a stuck box is reported by
        # the robot's message rather than by a bare timeout here.
        rest, _ = robot.communicate(timeout=150)
        return first + rest.decode("latin-1"), robot.returncode

    return win_path(go), hold


@pytest.mark.parametrize("button_set", sorted(BUTTON_SETS))
def test_each_button_set_with_language_captions_returns_its_identifiers(box_wine, button_set):
    expected = BUTTON_SETS[button_set]
    steps = []
    for k in range(len(expected)):
        steps += ["report", f"press:{k + 1}"] + (["next"] if k + 1 < len(expected) else [])
    s = Session(box_wine, "Choisissez.", f"--flags={button_set}", f"--buttons={FRENCH}",
                f"--count={len(expected)}", "--owner=1", steps=steps)
    assert [r["result"] for r in s.results] == [ident for _, ident in expected]
    assert len(s.reports) == len(expected)
    for report in s.reports:
        assert [b["caption"] for b in report["buttons"]] == [FRENCH_CAPTIONS[i] for i, _ in expected]
        assert [b["id"] for b in report["buttons"]] == [ident for _, ident in expected]
        assert report["default"] == 0 and report["focus"] == 0
        assert_layout(report)


def test_set_without_buttons_ends_only_by_the_close_box(box_wine):
    s = Session(box_wine, "Nothing to press.", "--flags=0x6", steps=("report", "enter", "alt:o", "report", "sysclose"))
    assert [r["buttons"] for r in s.reports] == [[], []]
    assert s.results == [{"result": 0}]


@pytest.mark.parametrize("entry,close", [("yesno", "sysclose"), ("okcancel", "close"), ("yesno", "altf4")])
def test_closing_without_a_button_answers_no(box_wine, entry, close):
    s = Session(box_wine, "Continue?", f"--entry={entry}", f"--buttons={FRENCH}", steps=("report", close))
    assert s.results == [{"answer": False}]
    ids = [b["id"] for b in s.report["buttons"]]
    assert ids == ([6, 7] if entry == "yesno" else [1, 2])


def test_yes_and_ok_answer_true(box_wine):
    s = Session(box_wine, "Continue?", "--entry=yesno", "--count=2", steps=("alt:y", "next", "alt:n"))
    assert s.results == [{"answer": True}, {"answer": False}]
    s = Session(box_wine, "Insert disk 2", "--entry=okcancel", steps=("enter",))
    assert s.results == [{"answer": True}]


def test_alt_picks_the_caption_after_its_ampersand(box_wine):
    s = Session(box_wine, "Accelerators", "--flags=1", "--count=3",
                steps=("alt:o", "next", "alt:c", "next", "alt:x", "report", "press:2"))
    # Alt+X matches nothing: the box stays and the later click answers it.
    assert [r["result"] for r in s.results] == [1, 2, 2]
    s = Session(box_wine, "Plain captions", "--flags=1",
                "--buttons=|OK|Cancel|Yes|No|Abort|Retry|Ignore|", steps=("alt:k",))
    assert s.results == [{"result": 1}]


def test_default_button_from_the_flags_and_the_arrow_keys(box_wine):
    s = Session(box_wine, "Delete it?", "--flags=0x124", "--count=2",
                steps=("report", "enter", "next", "key:left", "report", "key:left", "report",
                       "key:right", "report", "enter"))
    first, left1, left2, right = s.reports
    assert [b["caption"] for b in first["buttons"]] == ["&Yes", "&No"]
    assert first["default"] == 1 and first["focus"] == 1
    # Two buttons: an arrow passes over the empty third slot.
    assert (left1["default"], left2["default"], right["default"]) == (0, 1, 0)
    assert [sum(b["default"] for b in r["buttons"]) for r in s.reports] == [1, 1, 1, 1]
    assert [r["result"] for r in s.results] == [7, 6]


def test_owner_zero_shows_the_caption_as_a_bold_header(box_wine):
    s = Session(box_wine, "Setup needs <b>20 MB</b> more.", "--caption=Attention",
                steps=("report", "command:1"))
    r = s.report
    assert r["caption"] == "Attention"
    assert r["text"].startswith("ATTENTION\r\n\r\nSetup needs")
    assert r["text"].endswith("more.\r\n")
    assert r["bold"][0] == [0, len("ATTENTION")]
    assert r["owner"] == 0
    assert_text_as_composed(r, s.expected[0])
    assert s.results == [{"result": 1}]


def test_owner_one_and_owner_window_show_no_header(box_wine):
    s = Session(box_wine, "Plain <b>body</b>", "--caption=Attention", "--owner=1")
    assert s.report["text"] == "Plain body"
    assert s.report["bold"] == [[6, 10]]
    s = Session(box_wine, "Owned body", "--caption=Attention", "--owner=window")
    r = s.report
    assert r["text"] == "Owned body"
    assert r["owner_caption"] == "msgbox_show owner"
    assert r["owner_enabled"] is False
    assert s.results == [{"result": 1}, {"owner_enabled": True, "owner_active": True}]


@pytest.mark.parametrize("charset,rtl", [(178, True), (177, True), (0, False), (161, False)])
def test_hebrew_and_arabic_charsets_read_right_to_left(box_wine, charset, rtl):
    r = Session(box_wine, "Which way?", f"--charset={charset}").report
    assert (r["right"], r["rtl"]) == (rtl, rtl)
    assert r["align"] == (2 if rtl else 1)  # the control's paragraphs: PFA_RIGHT / PFA_LEFT


def test_short_text_gets_wide_margins_and_the_minimum_width(box_wine):
    s = Session(box_wine, "Done.", "--owner=1")
    r = s.report
    _, _, wt, ht = r["text_rect"]
    assert wt < 200 and ht < 39
    left, top, right, bottom = r["window"]
    m = r["metrics"]
    assert right - left == 360
    assert bottom - top == ht + 36 + 2 * 45 + 2 * m["cyframe"] + m["cycaption"]
    assert_layout(r)
    assert_text_as_composed(r, s.expected[0])


def test_line_wider_than_600_pixels_wraps_in_the_height(box_wine):
    unit = "Lorem ipsum dolor sit amet "
    short = Session(box_wine, unit.strip() + "x", "--owner=1").report
    _, _, unit_wt, line_height = short["text_rect"]
    # The unit is measured with its last blank replaced by one letter; the
    # long line is the unit repeated, so its width is known to the pixel
    # within what one blank and one letter differ.
    s = Session(box_wine, unit * 12, "--owner=1")
    r = s.report
    _, _, wt, ht = r["text_rect"]
    assert wt == 610
    approx = (unit_wt - 10) * 12
    assert ht in {(w // 600 + 1) * line_height for w in range(approx - 24, approx + 25)}
    assert ht >= 2 * line_height
    assert_layout(r)
    assert_text_as_composed(r, s.expected[0])


def test_text_and_bold_ranges_are_those_of_the_markup(box_wine):
    text = ("Please insert <B>DISK #2</B> and press OK to continue<P>"
            "Tabs<T>and\\\\tescapes\\\\nand <b>bold over<p>a break</b>, <SIZE> untouched, "
            "a\\nsingle backslash kept")
    s = Session(box_wine, text, "--caption=Disk", "--flags=0x31", steps=("report", "press:2"))
    r = s.report
    assert r["text_class"] == "RICHEDIT"
    assert_text_as_composed(r, s.expected[0])
    assert "DISK #2" in r["text"] and "<SIZE>" in r["text"] and "a\\nsingle" in r["text"]
    assert len(r["bold"]) == 3
    assert s.results == [{"result": 2}]


def test_without_the_rich_text_library_a_plain_edit_control_shows_the_text(box_wine):
    s = Session(box_wine, "Keep <b>going</b>?<P>Second line", "--caption=Question",
                "--entry=yesno", "--richedit=NO_SUCH_RICHED.DLL", f"--buttons={FRENCH}",
                steps=("report", "alt:o"))
    r = s.report
    assert r["text_class"] == "Edit"
    assert r["text"] == "QUESTION\r\n\r\nKeep going?\r\nSecond line\r\n"
    assert [b["caption"] for b in r["buttons"]] == ["&Oui", "&Non"]
    assert s.results == [{"answer": True}]
    assert_layout(r)


# ---- Pictures -----------------------------------------------------------------

def test_picture_error_box(box_wine, tmp_path):
    path, hold = held(tmp_path, "msgbox-error")
    s = Session(box_wine, "The file <b>Setup.exe</b> could not be written.<P>Check the free space "
                "on drive C: and try again.", "--caption=Error", "--entry=error", "--owner=1",
                steps=("report", f"hold:{path}", "enter"), hold=hold)
    assert s.results == [{"done": True}]
    assert (SCREENS / "msgbox-error.png").exists()


def test_picture_question_with_header(box_wine, tmp_path):
    path, hold = held(tmp_path, "msgbox-question")
    s = Session(box_wine, "A new version of <b>Korvan</b> is available.<P>Do you want to "
                "download and install it now?", "--caption=Confirm", "--entry=yesno",
                steps=("report", f"hold:{path}", "press:2"), hold=hold)
    assert s.results == [{"answer": False}]


def test_picture_arabic_right_to_left(wine_factory, tmp_path):
    wine = unmanaged(wine_factory("ar_SA.UTF-8", name="arabic"))
    path, hold = held(tmp_path, "msgbox-arabic")
    text = "هل تريد <b>متابعة</b> التثبيت؟<P>سيتم تنزيل الملفات الآن."
    s = Session(wine, text, "--caption=تأكيد", "--charset=178", "--entry=yesno",
                "--buttons=|&موافق|&إلغاء|&نعم|&لا|&إنهاء|&إعادة|&تجاهل|",
                steps=("report", f"hold:{path}", "press:1"), hold=hold)
    r = s.report
    assert r["right"] and r["rtl"]
    assert "متابعة" in r["text"]
    assert_text_as_composed(r, s.expected[0])
    assert [b["caption"] for b in r["buttons"]] == ["&نعم", "&لا"]
    assert s.results == [{"answer": True}]


def test_picture_long_text(box_wine, tmp_path):
    path, hold = held(tmp_path, "msgbox-long")
    body = ("<b>Limited Free Space on your Temp Drive! (C:)</b><P>" +
            "The setup needs more room than the drive has left. " * 6 +
            "<P><P>Required:<T>120 MB<P>Available:<T>80 MB<P><P>"
            "Free some space and press Retry, or Cancel to stop.")
    s = Session(box_wine, body, "--caption=Attention", "--flags=0x35",
                steps=("report", f"hold:{path}", "press:2"), hold=hold)
    r = s.report
    # Bold widens the text in steps of 10 from the 600 pixels it was measured at.
    assert r["text_rect"][2] in {600 + 10 * i for i in range(22)}
    assert_layout(r)
    assert_text_as_composed(r, s.expected[0])
    assert s.results == [{"result": 2}]
