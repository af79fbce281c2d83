#!/usr/bin/env python3
"""Checks the real Orvane window under Wine on an X display (run-window-test.sh
provides the display and, where possible, a Wine server of its own).

Modes:
  screenshot       start Orvane.exe in an empty directory, capture the screen
                   and check colours at layout points, the button looks and
                   that the Chinese captions are drawn with real glyphs
  screenshot-win7-fonts  the same where only Windows 7's "Microsoft YaHei" is
                   installed (run-window-test.sh maps the fonts): real glyphs
  screenshot-dpiN  the same with the display scaled to N DPI (run-window-test.sh
                   sets the Wine prefix's LogPixels): the window at its scaled
                   size and every point, line and glyph scaled
  screenshot-taskbar-WxH-dpiN  the same on a W x H screen at N DPI less a
                   40-pixel taskbar: the window centred in the work area, no
                   taller than it, wholly inside it with every check passing
  single-instance  with a first copy minimised, and again with it merely covered
                   by another window, start a further copy: the first is
                   restored and brought in front, the further copy shows its
                   notice and exits with 0; closing the first ends it with 0
  glyph-selftest   the glyph check against a stored capture of text drawn
                   without a Chinese font (boxes) must fail; needs no display

Usage: window_test.py MODE Orvane.exe orvane_window_probe.exe ARTIFACT_DIR
       window_test.py glyph-selftest
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts"))
from orvane_window import (ACCENT, ALTERNATE_ROW, BACKGROUND, BORDER, DESIGN_DPI,  # noqa: E402
                           HEADER_ROW, NEUTRAL, PANEL, SECONDARY_TEXT, WHITE, Failure, Probe,
                           Program, button_rect, capture, dot_centre, hide_keyboard_cues, ink_mask,
                           load_image, move_pointer, near, pair, scaled, table_columns, wine)

TITLE = "Kaimor游戏下载/诊断器"
NOTICE_CAPTION = "提示"
NOTICE_TEXT = "Kaimor 下载器已经在运行了\\n\\n已切换到已打开的窗口"  # as the probe escapes it
OUTER_SIZE = (780, 600)

START_TIMEOUT_S = 90  # a Wine server of its own starts cold on a busy 2-core machine
STEP_TIMEOUT_S = 30


class Failures:
    def __init__(self):
        self.items = []

    def check(self, ok, message):
        if not ok:
            self.items.append(message)
        return ok

    def report(self):
        for item in self.items:
            print("FAIL", item)
        return 1 if self.items else 0


# ------------------------------------------------------------------ processes

class Session:
    """Programs started by this test; whatever is still running at the end is killed."""

    def __init__(self, exe, probe, artifacts):
        self.probe = Probe(probe)
        self.artifacts = artifacts
        self.started = []
        self.app_dir = tempfile.mkdtemp(prefix="orvane-ui-")
        shutil.copy(exe, os.path.join(self.app_dir, "Orvane.exe"))

    def start(self, *args, **kwargs):
        process = subprocess.Popen([wine(args[0]), *args], **kwargs)
        self.started.append(process)
        return process

    def start_app(self, name):
        """A copy of the program with its output in ARTIFACTS/NAME.log (not waited for)."""
        log = open(os.path.join(self.artifacts, f"{name}.log"), "wb")
        program = Program(os.path.join(self.app_dir, "Orvane.exe"), self.probe, self.app_dir, log)
        self.started.append(program.launch())
        return program

    def start_cover(self):
        """Starts the probe's cover window; returns the process once it is shown, or None."""
        path = os.path.join(self.artifacts, "cover.out")
        with open(path, "wb") as out:
            cover = self.start(self.probe.exe, "cover", stdin=subprocess.DEVNULL, stdout=out,
                               stderr=subprocess.STDOUT)
        deadline = time.monotonic() + STEP_TIMEOUT_S
        while time.monotonic() < deadline and cover.poll() is None:
            with open(path, "rb") as f:
                if b"ready=1" in f.read():
                    return cover
            time.sleep(0.1)
        return None

    def close(self):
        for process in self.started:
            if process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(self.app_dir, ignore_errors=True)


def wait_exit(process, timeout=STEP_TIMEOUT_S):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


# ------------------------------------------------------------------ glyphs

def glyph_problems(screen, box, fg, bg, count, em):
    """Why the text in box does not look like `count` distinct square (CJK) glyphs
    of about `em` pixels, or [] when it does.

    A character the font cannot draw comes out as the same hollow box every time.
    So each character cell must carry ink inside its own outline (a stroke that is
    not on the cell's border) and the cells of different characters must differ."""
    ink = ink_mask(screen, box, fg, bg)
    if not ink:
        return ["no text drawn"]
    x0 = min(x for x, _ in ink)
    x1 = max(x for x, _ in ink) + 1
    width = x1 - x0
    problems = []
    if not 0.6 * count * em <= width <= 1.4 * count * em:
        problems.append(f"text is {width} px wide, want about {count * em} for {count} characters")
    cells = []
    for k in range(count):
        left = x0 + round(k * width / count)
        right = x0 + round((k + 1) * width / count)
        cell = {(x - left, y) for x, y in ink if left <= x < right}
        if not cell:
            problems.append(f"character {k + 1} has no ink")
            cells.append(cell)
            continue
        cx0, cx1 = min(x for x, _ in cell), max(x for x, _ in cell)
        cy0, cy1 = min(y for _, y in cell), max(y for _, y in cell)
        inner = [1 for x, y in cell if cx0 + 2 <= x <= cx1 - 2 and cy0 + 2 <= y <= cy1 - 2]
        if len(inner) < 0.15 * len(cell):
            problems.append(f"character {k + 1} is an empty outline ({len(inner)} of {len(cell)} "
                            "ink pixels inside), as drawn for a missing glyph")
        cells.append(cell)
    for i in range(count):
        for j in range(i + 1, count):
            union = cells[i] | cells[j]
            if union and len(cells[i] ^ cells[j]) < 0.25 * len(union):
                problems.append(f"characters {i + 1} and {j + 1} look the same, as missing glyphs do")
    return problems


# ------------------------------------------------------------------ layout

def check_window_facts(facts, failures, capture_size, dpi):
    failures.check(facts.get("title") == TITLE, f"title {facts.get('title')!r}, want {TITLE!r}")
    failures.check(facts.get("system_dpi") == str(dpi), f"system_dpi {facts.get('system_dpi')}, want {dpi}")
    # The window's own DPI as another process reads it (GetDpiForWindow) is
    # not the program's: Wine 8 answers 96 for a window drawn at 120. The
    # program's scale shows in the outer size and the layout checked below.
    print(f"window dpi as another process reads it: {facts.get('dpi')}")
    x, y, w, h = (int(v) for v in facts["window"].split(","))
    screen = pair(facts["screen"])
    failures.check(screen == capture_size, f"the program sees a {screen[0]}x{screen[1]} screen, "
                   f"the display is {capture_size[0]}x{capture_size[1]}")
    wx, wy, ww, wh = (int(v) for v in facts.get("work_area", "0,0,0,0").split(","))
    print(f"work area {wx},{wy} {ww}x{wh}")
    # The designed size where the work area holds it, else no larger than the work area.
    outer = tuple(min(scaled(length, dpi), room) for length, room in zip(OUTER_SIZE, (ww, wh)))
    failures.check((w, h) == outer, f"outer size {w}x{h}, want {outer[0]}x{outer[1]}")
    want = (wx + (ww - outer[0]) // 2, wy + (wh - outer[1]) // 2)
    failures.check((x, y) == want, f"window at {x},{y}, want centred in the work area at {want[0]},{want[1]}")
    failures.check(wx <= x and wy <= y and x + w <= wx + ww and y + h <= wy + wh,
                   f"window {x},{y} {w}x{h} is not inside the work area {wx},{wy} {ww}x{wh}")
    failures.check(facts.get("visible") == "1" and facts.get("iconic") == "0",
                   f"window not shown normally: visible={facts.get('visible')} iconic={facts.get('iconic')}")
    return (wx, wy, ww, wh)


def screenshot_checks(screen, origin, size, failures, dpi):
    """Every point is a design point at 96 DPI, scaled to the window's DPI."""
    ox, oy = origin
    W, H = size
    L = table_columns(W, dpi)
    w = L["w"]

    def s(length):
        return scaled(length, dpi)

    def expect(name, x, y, colour, tolerance=0):
        got = screen.at(ox + x, oy + y)
        failures.check(near(got, colour, tolerance),
                       f"{name} at client ({x}, {y}): {got}, want {colour}")

    # Flat fills are exact on a 24-bit display.
    # Background: margins and the gaps between the blocks.
    for x, y in ((s(6), s(6)), (W - s(6), s(6)), (W // 2, s(80)), (W // 2, s(401)), (W // 2, s(440)),
                 (s(6), H - s(40))):
        expect("background", x, y, BACKGROUND)
    # Table panel around the header and rows, status panel inside its outline.
    for x, y in ((s(20), s(200)), (W // 2, s(92)), (W - s(20), s(340)), (W - s(40), s(376))):
        expect("panel", x, y, PANEL)
    # The outline is a line of the scaled width.
    for dy in range(s(1)):
        expect("status panel outline", W // 2, s(356) + dy, BORDER)
    expect("status panel inside its outline", W // 2, s(356) + s(1), PANEL)
    # Header band, with the four column separators.
    expect("header band", w + s(2), s(101), HEADER_ROW)
    expect("header band", L["x1"] + L["c2"] // 2, s(101), HEADER_ROW)
    for name in ("x1", "x2", "x3", "x4"):
        for dx in range(s(1)):
            expect(f"header separator {name}", L[name] + dx, s(101), BORDER)
        expect(f"right of header separator {name}", L[name] + s(1), s(101), HEADER_ROW)

    # Rows: alternating fills (sampled in the empty result and advice columns),
    # separators, and a grey dot of radius 9 at each row's status centre.
    for i in range(7):
        top = s(126 + 30 * i)
        fill = PANEL if i % 2 == 0 else ALTERNATE_ROW
        label = "even row" if i % 2 == 0 else "odd row"
        expect(f"{label} {i}", L["x1"] + L["c2"] // 2, top + s(15), fill)
        expect(f"{label} {i}", L["x4"] + L["c5"] - s(10), top + s(4), fill)
        for name in ("x1", "x2", "x3", "x4"):
            expect(f"row {i} separator {name}", L[name], top + s(15), BORDER)
        cx, cy = dot_centre(size, i, dpi)
        for dx, dy in ((0, 0), (-6, 0), (6, 0), (0, -6), (0, 6)):
            expect(f"row {i} status dot", cx + s(dx), cy + s(dy), NEUTRAL)
        for dx, dy in ((-8, -8), (8, 8), (-13, 0), (13, 0)):
            expect(f"row {i} around the dot", cx + s(dx), cy + s(dy), fill)

    # Buttons: the blue start button and the disabled game button.
    x0 = button_rect(size, "left", dpi)[0]
    x1 = button_rect(size, "right", dpi)[0]
    buttons = (("start button", x0, ACCENT), ("game button", x1, PANEL))
    for name, left, fill in buttons:
        for x, y in ((left + s(8), H - s(58)), (left + s(172), H - s(58)), (left + s(90), H - s(74)),
                     (left + s(90), H - s(41))):
            expect(f"{name} fill", x, y, fill)
        # Nothing around it: no focus mark before the keyboard is used.
        for dx in (2, 3, 4):
            expect(f"left of the {name}", left - s(dx), H - s(58), BACKGROUND)

    # Captions: white on the start button, neutral grey on the disabled one.
    def caption_box(left):
        return (left + s(10), H - s(72), left + s(170), H - s(44))

    def caption_pixels(left):
        l, t, r, b = caption_box(left)
        return [screen.at(ox + x, oy + y) for y in range(t, b) for x in range(l, r)]

    start_caption = caption_pixels(x0)
    failures.check(sum(near(p, WHITE, 24) for p in start_caption) >= 40,
                   "start button caption is not drawn in white")
    game_caption = caption_pixels(x1)
    failures.check(sum(near(p, NEUTRAL, 12) for p in game_caption) >= 40,
                   "disabled game button caption is not drawn in the neutral grey")
    failures.check(max(max(p) for p in game_caption) < 130,
                   "disabled game button caption has pixels brighter than the neutral grey")
    failures.check(not any(near(p, ACCENT, 20) for p in game_caption),
                   "disabled game button shows the accent colour")

    # Real glyphs, not boxes: both captions and the first row's name.
    texts = (
        ("start button caption", caption_box(x0), WHITE, ACCENT, 4, s(14)),
        ("game button caption", caption_box(x1), NEUTRAL, PANEL, 4, s(14)),
        ("first row name", (s(31), s(127), s(21) + L["c1"], s(155)), SECONDARY_TEXT, PANEL, 4, s(13)),
    )
    for name, (l, t, r, b), fg, bg, count, em in texts:
        for problem in glyph_problems(screen, (ox + l, oy + t, ox + r, oy + b), fg, bg, count, em):
            failures.check(False, f"{name}: {problem}")


# ------------------------------------------------------------------ modes

def run_screenshot(session, dpi, face, work_area=None):
    failures = Failures()
    for name in ("setup.ini", "config.ini"):
        failures.check(not os.path.exists(os.path.join(session.app_dir, name)), f"{name} present")
    # As on Windows, where focus marks wait for the keyboard (this Wine server's
    # prefix is a throwaway overlay or copy).
    hide_keyboard_cues()
    program = session.start_app("orvane")
    try:
        facts = program.find(START_TIMEOUT_S)
    except Failure as e:
        failures.check(False, str(e))
        return failures.report()
    # The pointer away from the window, so no button is hovered.
    move_pointer(0, 0)
    log = os.path.join(session.app_dir, "Orvane.log")
    logged = open(log, encoding="utf-8").read() if os.path.exists(log) else ""
    failures.check(f"Font face: {face}\n" in logged, f"the window does not draw with {face!r}: {logged!r}")

    path = os.path.join(session.artifacts, "main-window.png")
    origin, size = program.origin, program.size
    # Wait (bounded) until the window has painted its background.
    deadline = time.monotonic() + STEP_TIMEOUT_S
    while True:
        screen = capture(path)
        painted = near(screen.at(origin[0] + 6, origin[1] + 6), BACKGROUND, 3)
        if painted or time.monotonic() > deadline:
            break
        time.sleep(0.25)
    print(f"screenshot: {path}")
    print(f"client area at {origin[0]},{origin[1]}, {size[0]}x{size[1]}")
    wx, wy, ww, wh = check_window_facts(facts, failures, (screen.width, screen.height), dpi)
    if work_area:
        failures.check((wx, wy, ww, wh) == work_area,
                       f"the program sees the work area {wx},{wy} {ww}x{wh}, the display's is "
                       f"{work_area[0]},{work_area[1]} {work_area[2]}x{work_area[3]}")
    inside = (origin[0] >= wx and origin[1] >= wy and origin[0] + size[0] <= wx + ww
              and origin[1] + size[1] <= wy + wh)
    if failures.check(inside, "the client area is not entirely inside the work area"):
        screenshot_checks(screen, origin, size, failures, dpi)

    program.ask_close()
    return failures.report()


def another_copy_round(session, failures, home, minimised):
    """With the first window minimised or merely covered by another window, a
    further copy must bring it back in front, show its notice and exit with 0."""
    state = "minimised" if minimised else "covered"
    if minimised:
        facts = session.probe.facts("minimize", str(STEP_TIMEOUT_S * 1000))
        if not failures.check(facts.get("iconic") == "1", "the first window could not be minimised"):
            return False
    # Another window in front, so that "brought in front" can be seen.
    cover = session.start_cover()
    if not failures.check(cover is not None, "cover window did not start"):
        return False
    facts = session.probe.facts("info")
    failures.check(facts.get("iconic") == ("1" if minimised else "0") and facts.get("on_top") == "0"
                   and facts.get("foreground") == "0",
                   f"{state}: before the next copy the first window should be {state} and behind the "
                   f"cover, got iconic={facts.get('iconic')} on_top={facts.get('on_top')} "
                   f"foreground={facts.get('foreground')}")

    other = session.start_app(f"copy-while-{state}")
    notice = session.probe.facts("wait-dialog", NOTICE_CAPTION, str(STEP_TIMEOUT_S * 1000))
    if not failures.check(notice.get("found") == "1", f"{state}: the next copy showed no notice"):
        return False
    failures.check(notice.get("text") == NOTICE_TEXT,
                   f"{state}: notice text {notice.get('text')!r}, want {NOTICE_TEXT!r}")
    failures.check(notice.get("ok_button") == "1", f"{state}: notice has no OK button")
    facts = session.probe.facts("info")
    failures.check(facts.get("windows") == "1",
                   f"{state}: {facts.get('windows')} main windows, want 1 (a further copy opens none)")
    failures.check(facts.get("iconic") == "0", f"{state}: first window still minimised while the notice is shown")
    failures.check(facts.get("window") == home,
                   f"{state}: first window at {facts.get('window')}, want {home} as before")
    failures.check(facts.get("on_top") == "1",
                   f"{state}: first window not brought in front of the window that was in front")
    path = os.path.join(session.artifacts, f"notice-while-{state}.png")
    capture(path)
    print(f"screenshot: {path}")

    # The cover goes before the notice does: which window Wine (without a window
    # manager) activates when a message box closes is Wine's choice, not the program's.
    session.probe.facts("close", "OrvaneProbeCover")
    failures.check(wait_exit(cover) == 0, "cover window did not close")
    # Dismiss the notice with a click on its OK button.
    Program.dismiss(notice)
    code = wait_exit(other.process)
    failures.check(code == 0, f"{state}: the next copy's exit code {code}, want 0")

    facts = session.probe.facts("info")
    failures.check(facts.get("iconic") == "0", f"{state}: first window minimised again after the notice")
    failures.check(facts.get("on_top") == "1" and facts.get("foreground") == "1",
                   f"{state}: first window not in front after the notice: on_top={facts.get('on_top')} "
                   f"foreground={facts.get('foreground')}")
    return True


def run_single_instance(session):
    failures = Failures()
    first = session.start_app("first")
    try:
        facts = first.find(START_TIMEOUT_S)
    except Failure as e:
        failures.check(False, f"first window: {e}")
        return failures.report()
    home = facts["window"]

    if another_copy_round(session, failures, home, minimised=True):
        another_copy_round(session, failures, home, minimised=False)

    failures.check(first.ask_close(), "could not ask the first window to close")
    code = wait_exit(first.process)
    failures.check(code == 0, f"first copy exit code {code} after WM_CLOSE, want 0")
    return failures.report()


def run_glyph_selftest():
    """The stored capture shows ten characters drawn without a Chinese font."""
    screen = load_image(os.path.join(HERE, "fixtures", "missing-glyphs.png"))
    box = (0, 0, screen.width, screen.height)
    problems = glyph_problems(screen, box, (0, 0, 0), screen.at(0, 0), 10, 12)
    print("glyph check on boxes:", problems)
    if not any("empty outline" in p for p in problems) or not any("look the same" in p for p in problems):
        print("FAIL the glyph check accepts boxes drawn for missing glyphs")
        return 1
    return 0


def main(argv):
    if len(argv) == 2 and argv[1] == "glyph-selftest":
        return run_glyph_selftest()
    scale = (re.fullmatch(r"screenshot(?:-dpi(\d+)|-win7-fonts|-taskbar-(\d+)x(\d+)-dpi(\d+))?", argv[1])
             if len(argv) > 1 else None)
    if len(argv) != 5 or not (scale or argv[1] == "single-instance"):
        print(__doc__.strip().splitlines()[-2].strip(), file=sys.stderr)
        return 2
    mode, exe, probe, artifacts = argv[1:]
    os.makedirs(artifacts, exist_ok=True)
    session = Session(exe, probe, artifacts)
    try:
        existing = session.probe.facts("info", timeout=STEP_TIMEOUT_S + 30)
        if existing.get("found") == "1":
            print("window-test: skipped, another Orvane window is open on this Wine server")
            return 77
        if scale:
            # Windows 7 has "Microsoft YaHei" but not its UI variant.
            face = "Microsoft YaHei" if mode.endswith("win7-fonts") else "Microsoft YaHei UI"
            if scale.group(2):
                # run-window-test.sh leaves a 40-pixel taskbar at the bottom.
                width, height = int(scale.group(2)), int(scale.group(3))
                return run_screenshot(session, int(scale.group(4)), face, (0, 0, width, height - 40))
            return run_screenshot(session, int(scale.group(1) or DESIGN_DPI), face)
        return run_single_instance(session)
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
