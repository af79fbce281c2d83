#!/usr/bin/env python3
"""Checks the real Orvane window under Wine on an X display (run-window-test.sh
provides the display and, where possible, a Wine server of its own).

Modes:
  screenshot       start Orvane.exe in an empty directory, capture the screen
                   and check colours at layout points, the button looks and
                   that the Chinese captions are drawn with real glyphs
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
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE = os.environ.get("ORVANE_WINE", "wine")

TITLE = "Kaimor游戏下载/诊断器"
NOTICE_CAPTION = "提示"
NOTICE_TEXT = "Kaimor 下载器已经在运行了\\n\\n已切换到已打开的窗口"  # as the probe escapes it
OUTER_SIZE = (780, 600)

BACKGROUND = (32, 36, 46)
PANEL = (48, 52, 66)
ALTERNATE_ROW = (44, 48, 62)
HEADER_ROW = (38, 42, 54)
BORDER = (60, 64, 80)
SECONDARY_TEXT = (150, 155, 170)
ACCENT = (66, 133, 244)
NEUTRAL = (90, 95, 110)
WHITE = (255, 255, 255)

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
        self.exe = exe
        self.probe = probe
        self.artifacts = artifacts
        self.started = []
        self.app_dir = tempfile.mkdtemp(prefix="orvane-ui-")
        shutil.copy(exe, os.path.join(self.app_dir, "Orvane.exe"))

    def start(self, *args, **kwargs):
        process = subprocess.Popen([WINE, *args], **kwargs)
        self.started.append(process)
        return process

    def start_app(self, name):
        log = open(os.path.join(self.artifacts, f"{name}.log"), "wb")
        return self.start(os.path.join(self.app_dir, "Orvane.exe"), cwd=self.app_dir,
                          stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

    def probe_facts(self, *args, timeout=STEP_TIMEOUT_S + 30):
        """Runs the probe; returns its key=value lines as a dict (found=0 when it failed).

        Its output goes through a file, not a pipe: a Wine helper process that the
        probe happens to start (the desktop) inherits the output and outlives it."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                code = subprocess.run([WINE, self.probe, *args], stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=err, timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                return {"found": "0", "error": f"probe {' '.join(args)} did not answer in {timeout} s"}
            out.seek(0)
            err.seek(0)
            text, errors = out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")
        facts = {}
        for line in text.splitlines():
            key, sep, value = line.partition("=")
            if sep:
                facts[key] = value
        if code != 0:
            facts.setdefault("found", "0")
            facts["error"] = errors.strip()
        return facts

    def start_cover(self):
        """Starts the probe's cover window; returns the process once it is shown, or None."""
        path = os.path.join(self.artifacts, "cover.out")
        with open(path, "wb") as out:
            cover = self.start(self.probe, "cover", stdin=subprocess.DEVNULL, stdout=out,
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


def pair(text):
    a, b = text.split(",")
    return int(a), int(b)


# ------------------------------------------------------------------ screen capture

class Screen:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])


def capture(path):
    subprocess.run(["import", "-window", "root", path], check=True, capture_output=True)
    return load_image(path)


def load_image(path):
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True,
                          capture_output=True, text=True).stdout.split()
    rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                         capture_output=True).stdout
    return Screen(int(size[0]), int(size[1]), rgb)


def near(colour, want, tolerance=3):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, want))


# ------------------------------------------------------------------ glyphs

def ink_mask(screen, box, fg, bg):
    """Pixels of box (left, top, right, bottom; screen coordinates) at least half-way
    from the fill colour bg to the text colour fg."""
    left, top, right, bottom = box
    span = [f - b for f, b in zip(fg, bg)]
    norm = sum(s * s for s in span)
    mask = set()
    for y in range(top, bottom):
        for x in range(left, right):
            p = screen.at(x, y)
            t = sum((c - b) * s for c, b, s in zip(p, bg, span)) / norm
            if t >= 0.5:
                mask.add((x, y))
    return mask


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

def table_columns(client_width):
    w = client_width - 32
    iw = w - 20
    e = iw / 728.0
    c1, c2, c3, c4 = int(80 * e), int(150 * e), int(110 * e), int(36 * e)
    c5 = iw - c1 - c2 - c3 - c4
    x1 = 26 + c1
    x2 = x1 + c2
    x3 = x2 + c3
    x4 = x3 + c4
    return {"w": w, "c1": c1, "c2": c2, "c3": c3, "c4": c4, "c5": c5, "x1": x1, "x2": x2, "x3": x3, "x4": x4}


def check_window_facts(facts, failures, capture_size):
    failures.check(facts.get("title") == TITLE, f"title {facts.get('title')!r}, want {TITLE!r}")
    x, y, w, h = (int(v) for v in facts["window"].split(","))
    failures.check((w, h) == OUTER_SIZE, f"outer size {w}x{h}, want 780x600")
    screen = pair(facts["screen"])
    failures.check(screen == capture_size, f"the program sees a {screen[0]}x{screen[1]} screen, "
                   f"the display is {capture_size[0]}x{capture_size[1]}")
    want = ((screen[0] - OUTER_SIZE[0]) // 2, (screen[1] - OUTER_SIZE[1]) // 2)
    failures.check((x, y) == want, f"window at {x},{y}, want centred at {want[0]},{want[1]}")
    failures.check(facts.get("visible") == "1" and facts.get("iconic") == "0",
                   f"window not shown normally: visible={facts.get('visible')} iconic={facts.get('iconic')}")


def screenshot_checks(screen, origin, size, failures):
    ox, oy = origin
    W, H = size
    L = table_columns(W)
    w = L["w"]

    def expect(name, x, y, colour, tolerance=0):
        got = screen.at(ox + x, oy + y)
        failures.check(near(got, colour, tolerance),
                       f"{name} at client ({x}, {y}): {got}, want {colour}")

    # Flat fills are exact on a 24-bit display.
    # Background: margins and the gaps between the blocks.
    for x, y in ((6, 6), (W - 6, 6), (W // 2, 80), (W // 2, 401), (W // 2, 440), (6, H - 40)):
        expect("background", x, y, BACKGROUND)
    # Table panel around the header and rows, status panel inside its outline.
    for x, y in ((20, 200), (W // 2, 92), (W - 20, 340), (W - 40, 376)):
        expect("panel", x, y, PANEL)
    expect("status panel outline", W // 2, 356, BORDER)
    # Header band, with the four column separators.
    expect("header band", w + 2, 101, HEADER_ROW)
    expect("header band", L["x1"] + L["c2"] // 2, 101, HEADER_ROW)
    for name in ("x1", "x2", "x3", "x4"):
        expect(f"header separator {name}", L[name], 101, BORDER)

    # Rows: alternating fills (sampled in the empty result and advice columns),
    # separators, and a grey dot of radius 9 at each row's status centre.
    for i in range(7):
        top = 126 + 30 * i
        fill = PANEL if i % 2 == 0 else ALTERNATE_ROW
        label = "even row" if i % 2 == 0 else "odd row"
        expect(f"{label} {i}", L["x1"] + L["c2"] // 2, top + 15, fill)
        expect(f"{label} {i}", L["x4"] + L["c5"] - 10, top + 4, fill)
        for name in ("x1", "x2", "x3", "x4"):
            expect(f"row {i} separator {name}", L[name], top + 15, BORDER)
        cx, cy = L["x3"] + L["c4"] // 2, top + 15
        for dx, dy in ((0, 0), (-6, 0), (6, 0), (0, -6), (0, 6)):
            expect(f"row {i} status dot", cx + dx, cy + dy, NEUTRAL)
        for dx, dy in ((-8, -8), (8, 8), (-13, 0), (13, 0)):
            expect(f"row {i} around the dot", cx + dx, cy + dy, fill)

    # Buttons: the blue start button and the disabled game button.
    x0 = (W - 376) // 2
    buttons = (("start button", x0, ACCENT), ("game button", x0 + 196, PANEL))
    for name, left, fill in buttons:
        for x, y in ((left + 8, H - 58), (left + 172, H - 58), (left + 90, H - 74), (left + 90, H - 41)):
            expect(f"{name} fill", x, y, fill)
        expect(f"left of the {name}", left - 4, H - 58, BACKGROUND)

    # Captions: white on the start button, neutral grey on the disabled one.
    def caption_pixels(left):
        return [screen.at(ox + x, oy + y) for y in range(H - 72, H - 44) for x in range(left + 10, left + 170)]

    start_caption = caption_pixels(x0)
    failures.check(sum(near(p, WHITE, 24) for p in start_caption) >= 40,
                   "start button caption is not drawn in white")
    game_caption = caption_pixels(x0 + 196)
    failures.check(sum(near(p, NEUTRAL, 12) for p in game_caption) >= 40,
                   "disabled game button caption is not drawn in the neutral grey")
    failures.check(max(max(p) for p in game_caption) < 130,
                   "disabled game button caption has pixels brighter than the neutral grey")
    failures.check(not any(near(p, ACCENT, 20) for p in game_caption),
                   "disabled game button shows the accent colour")

    # Real glyphs, not boxes: both captions and the first row's name.
    texts = (
        ("start button caption", (x0 + 10, H - 72, x0 + 170, H - 44), WHITE, ACCENT, 4, 14),
        ("game button caption", (x0 + 206, H - 72, x0 + 366, H - 44), NEUTRAL, PANEL, 4, 14),
        ("first row name", (31, 127, 21 + L["c1"], 155), SECONDARY_TEXT, PANEL, 4, 13),
    )
    for name, (l, t, r, b), fg, bg, count, em in texts:
        for problem in glyph_problems(screen, (ox + l, oy + t, ox + r, oy + b), fg, bg, count, em):
            failures.check(False, f"{name}: {problem}")


# ------------------------------------------------------------------ modes

def run_screenshot(session):
    failures = Failures()
    for name in ("setup.ini", "config.ini"):
        failures.check(not os.path.exists(os.path.join(session.app_dir, name)), f"{name} present")
    session.start_app("orvane")
    facts = session.probe_facts("wait-window", str(START_TIMEOUT_S * 1000), timeout=START_TIMEOUT_S + 30)
    if facts.get("found") != "1":
        failures.check(False, f"main window did not appear: {facts.get('error', '')}")
        return failures.report()
    # The pointer away from the window, so no button is hovered.
    subprocess.run(["xdotool", "mousemove", "0", "0"], check=True)

    path = os.path.join(session.artifacts, "main-window.png")
    origin, size = pair(facts["client_origin"]), pair(facts["client_size"])
    # Wait (bounded) until the window has painted its background.
    deadline = time.monotonic() + STEP_TIMEOUT_S
    while True:
        screen = capture(path)
        painted = near(screen.at(origin[0] + 6, origin[1] + 6), BACKGROUND)
        if painted or time.monotonic() > deadline:
            break
        time.sleep(0.25)
    print(f"screenshot: {path}")
    print(f"client area at {origin[0]},{origin[1]}, {size[0]}x{size[1]}")
    check_window_facts(facts, failures, (screen.width, screen.height))
    inside = (origin[0] >= 0 and origin[1] >= 0 and origin[0] + size[0] <= screen.width
              and origin[1] + size[1] <= screen.height)
    if failures.check(inside, "the client area is not entirely on the display"):
        screenshot_checks(screen, origin, size, failures)

    session.probe_facts("close")
    return failures.report()


def another_copy_round(session, failures, home, minimised):
    """With the first window minimised or merely covered by another window, a
    further copy must bring it back in front, show its notice and exit with 0."""
    state = "minimised" if minimised else "covered"
    if minimised:
        facts = session.probe_facts("minimize", str(STEP_TIMEOUT_S * 1000))
        if not failures.check(facts.get("iconic") == "1", "the first window could not be minimised"):
            return False
    # Another window in front, so that "brought in front" can be seen.
    cover = session.start_cover()
    if not failures.check(cover is not None, "cover window did not start"):
        return False
    facts = session.probe_facts("info")
    failures.check(facts.get("iconic") == ("1" if minimised else "0") and facts.get("on_top") == "0"
                   and facts.get("foreground") == "0",
                   f"{state}: before the next copy the first window should be {state} and behind the "
                   f"cover, got iconic={facts.get('iconic')} on_top={facts.get('on_top')} "
                   f"foreground={facts.get('foreground')}")

    other = session.start_app(f"copy-while-{state}")
    notice = session.probe_facts("wait-dialog", NOTICE_CAPTION, str(STEP_TIMEOUT_S * 1000))
    if not failures.check(notice.get("found") == "1", f"{state}: the next copy showed no notice"):
        return False
    failures.check(notice.get("text") == NOTICE_TEXT,
                   f"{state}: notice text {notice.get('text')!r}, want {NOTICE_TEXT!r}")
    failures.check(notice.get("ok_button") == "1", f"{state}: notice has no OK button")
    facts = session.probe_facts("info")
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
    session.probe_facts("close", "OrvaneProbeCover")
    failures.check(wait_exit(cover) == 0, "cover window did not close")
    # Dismiss the notice with a click on its OK button.
    ok_x, ok_y = pair(notice["ok_centre"])
    subprocess.run(["xdotool", "mousemove", str(ok_x), str(ok_y), "click", "1"], check=True)
    code = wait_exit(other)
    failures.check(code == 0, f"{state}: the next copy's exit code {code}, want 0")

    facts = session.probe_facts("info")
    failures.check(facts.get("iconic") == "0", f"{state}: first window minimised again after the notice")
    failures.check(facts.get("on_top") == "1" and facts.get("foreground") == "1",
                   f"{state}: first window not in front after the notice: on_top={facts.get('on_top')} "
                   f"foreground={facts.get('foreground')}")
    return True


def run_single_instance(session):
    failures = Failures()
    first = session.start_app("first")
    facts = session.probe_facts("wait-window", str(START_TIMEOUT_S * 1000), timeout=START_TIMEOUT_S + 30)
    if not failures.check(facts.get("found") == "1", f"first window did not appear: {facts.get('error', '')}"):
        return failures.report()
    home = facts["window"]

    if another_copy_round(session, failures, home, minimised=True):
        another_copy_round(session, failures, home, minimised=False)

    facts = session.probe_facts("close")
    failures.check(facts.get("posted") == "WM_CLOSE", "could not ask the first window to close")
    code = wait_exit(first)
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
    if len(argv) != 5 or argv[1] not in ("screenshot", "single-instance"):
        print(__doc__.strip().splitlines()[-2].strip(), file=sys.stderr)
        return 2
    mode, exe, probe, artifacts = argv[1:]
    os.makedirs(artifacts, exist_ok=True)
    session = Session(exe, probe, artifacts)
    try:
        existing = session.probe_facts("info", timeout=STEP_TIMEOUT_S + 30)
        if existing.get("found") == "1":
            print("window-test: skipped, another Orvane window is open on this Wine server")
            return 77
        if mode == "screenshot":
            return run_screenshot(session)
        return run_single_instance(session)
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
