"""Drives Orvane's window under Wine on an X display, for the demo
(scripts/demo.py), the end-to-end tests (tests/e2e/e2e.py) and the window tests
(tests/ui/window_test.py).

What a screenshot cannot tell (where the client area is, message boxes, the
window's state) comes from orvane_window_probe (tests/ui/WindowProbe.cpp);
clicks go through xdotool, screenshots through ImageMagick's `import`. Points
inside the window are client-area coordinates of its fixed layout
(src/ui/Layout.cpp, src/ui/MainWindow.cpp).

  Probe(exe).facts(*args)          one probe command, its key=value lines
  Program(exe, probe, cwd)         a running copy of the program and its window:
    .launch() .start() .running() .wait_exit(s) .close() .kill()
    .click(which) .button_colour(which) .wait_button(which, colour, s)
    .pixel(image, point) .status_is_red() .dialog(caption) .dismiss(box)
    .accessible() .accessible_do(child) .focus_mark_around(image, rect)
  grab(), capture(path), load_image(path) -> Image (.at(x, y) is RGB)
  press_keys(*keys)                keys through xdotool
  hide_keyboard_cues()             the Wine prefix's focus cues as Windows ships them
  Screenshots(folder).save(name)   numbered screenshots kept as artifacts
  wait_for / wait_until, near, ink_mask, the palette's colours
"""

import os
import subprocess
import sys
import tempfile
import time

# The window's colours (src/ui/Palette.h), RGB.
BACKGROUND = (32, 36, 46)
PANEL = (48, 52, 66)
ALTERNATE_ROW = (44, 48, 62)
HEADER_ROW = (38, 42, 54)
BORDER = (60, 64, 80)
SECONDARY_TEXT = (150, 155, 170)
ACCENT = (66, 133, 244)
SUCCESS = (52, 199, 89)
WARNING = (255, 159, 10)
DANGER = (255, 69, 58)
NEUTRAL = (90, 95, 110)
WHITE = (255, 255, 255)
FOCUS = (255, 255, 255)  # the keyboard focus ring

# The layout is designed at 96 DPI and scaled to the window's DPI.
DESIGN_DPI = 96

MAIN_WINDOW_CLASS = "OrvaneMainWindow"


class Failure(Exception):
    """Something the driver waited for or expected did not happen."""


def pe_machine(path):
    """The machine field of the Windows program at `path` (0x14C for 32-bit
    x86, 0x8664 for x86-64); 0 when it is not a PE file."""
    with open(path, "rb") as f:
        header = f.read(4096)
    if header[:2] != b"MZ":
        return 0
    offset = int.from_bytes(header[60:64], "little")
    return int.from_bytes(header[offset + 4:offset + 6], "little")


def wine(program=None):
    """The Wine loader for `program` (a Windows program's path, or one of
    Wine's own tools when None): 64-bit programs and Wine's tools go to the
    64-bit loader directly, which under qemu-user saves the 32-bit loader's
    start (scripts/wine-env.sh)."""
    loader64 = os.environ.get("ORVANE_WINE64", "wine64")
    if program is not None and os.path.isfile(program) and pe_machine(program) == 0x14C:
        return os.environ.get("ORVANE_WINE", "wine")
    return loader64


def wait_until(predicate, timeout, interval=0.2):
    """Polls predicate until it returns something true and returns that; None
    after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


def wait_for(what, predicate, timeout, interval=0.2):
    """wait_until, failing with Failure after timeout seconds."""
    value = wait_until(predicate, timeout, interval)
    if not value:
        raise Failure("timed out after %g s waiting for %s" % (timeout, what))
    return value


def near(colour, want, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, want))


def pair(text):
    a, b = text.split(",")
    return int(a), int(b)


# ---- X: pointer and screen ------------------------------------------------------

def click_screen(x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def move_pointer(x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], check=True)


# HKCU\Control Panel\Desktop\UserPreferencesMask as Windows 10 ships it: focus
# marks hidden until the keyboard is used (bit 0x20 of the first byte clear).
# Wine's own default has that bit set, so windows show their marks at once.
WINDOWS_USER_PREFERENCES_MASK = "9E1E078012000000"


def hide_keyboard_cues():
    """Sets the current Wine prefix's user preferences to Windows' default, for
    programs started afterwards (use on a throwaway prefix only)."""
    subprocess.run([wine(), "reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "UserPreferencesMask",
                    "/t", "REG_BINARY", "/d", WINDOWS_USER_PREFERENCES_MASK, "/f"],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def press_keys(*keys):
    """Keys as the keyboard sends them to the focused window, e.g. "Tab",
    "Return", "alt+F4"."""
    subprocess.run(["xdotool", "key", "--delay", "150", *keys], check=True)


class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])


def _ppm(data):
    """A binary PPM (P6 <w> <h> <max> <pixels>, 8 bits) as an Image."""
    fields = []
    position = 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        start = position
        while not data[position:position + 1].isspace():
            position += 1
        fields.append(data[start:position])
    if fields[0] != b"P6":
        raise ValueError("not a binary PPM image")
    return Image(int(fields[1]), int(fields[2]), data[position + 1:])


def grab():
    """The whole screen now."""
    return _ppm(subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], check=True,
                               capture_output=True).stdout)


def load_image(path):
    return _ppm(subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                               capture_output=True).stdout)


def capture(path):
    """Saves the whole screen to path and returns what was saved."""
    subprocess.run(["import", "-window", "root", path], check=True, capture_output=True)
    return load_image(path)


class Screenshots:
    """Numbered screenshots in one folder, kept for whoever looks later."""

    def __init__(self, folder, announce=None):
        self.folder = folder
        self.announce = announce
        self.index = 0

    def save(self, name):
        os.makedirs(self.folder, exist_ok=True)
        self.index += 1
        path = os.path.join(self.folder, "%02d-%s.png" % (self.index, name))
        subprocess.run(["import", "-window", "root", path], check=True, capture_output=True)
        if self.announce:
            self.announce("screenshot: " + path)
        return path


def ink_mask(image, box, fg, bg):
    """Pixels of box (left, top, right, bottom; screen coordinates) at least
    half-way from the fill colour bg to the text colour fg."""
    left, top, right, bottom = box
    span = [f - b for f, b in zip(fg, bg)]
    norm = sum(s * s for s in span)
    mask = set()
    for y in range(top, bottom):
        for x in range(left, right):
            t = sum((c - b) * s for c, b, s in zip(image.at(x, y), bg, span)) / norm
            if t >= 0.5:
                mask.add((x, y))
    return mask


# ---- the probe ----------------------------------------------------------------------

class Probe:
    """orvane_window_probe.exe under Wine."""

    def __init__(self, exe):
        self.exe = exe

    # Commands that only read: asked again when a run of the probe says
    # nothing at all, which Wine now and then makes of one.
    READING = {"info", "accessible"}

    def facts(self, *args, timeout=120):
        """Runs one probe command; its key=value lines as a dict (found=0 and
        error when it failed or did not answer in time)."""
        facts, silent = self._run(args, timeout)
        if silent and args and args[0] in self.READING:
            print("orvane_window: probe %s said nothing (%s); asked again" % (args[0], facts.get("error", "")),
                  file=sys.stderr)
            facts, silent = self._run(args, timeout)
            if silent:
                facts = {"found": "0", "error": "the probe said nothing twice"}
        return facts

    def _run(self, args, timeout):
        """One run of the probe: its facts, and whether it printed nothing at
        all. Its output goes through a file, not a pipe: a Wine helper process that
        the probe happens to start inherits the output and outlives it."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                code = subprocess.run([wine(self.exe), self.exe, *args], stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=err, timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                return {"found": "0", "error": "probe %s did not answer in %g s" % (" ".join(args), timeout)}, False
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
            facts["error"] = errors.strip() or "the probe exited with %#x, saying nothing" % (code & 0xFFFFFFFF)
        silent = not text.strip() and not errors.strip()
        return facts, silent


# ---- the window's fixed layout (client coordinates) ------------------------------------

def scaled(length, dpi=DESIGN_DPI):
    """A design length (pixels at 96 DPI) at dpi, rounded half up as the window
    rounds (Scaled in src/ui/Layout.h)."""
    return (2 * length * dpi + DESIGN_DPI) // (2 * DESIGN_DPI)


def table_columns(client_width, dpi=DESIGN_DPI):
    """The results table's column widths (c1..c5) and separators (x1..x4)."""
    w = client_width - scaled(32, dpi)
    inner = w - scaled(20, dpi)
    e = inner / 728.0
    c1, c2, c3, c4 = int(80 * e), int(150 * e), int(110 * e), int(36 * e)
    c5 = inner - c1 - c2 - c3 - c4
    x1 = scaled(26, dpi) + c1
    x2 = x1 + c2
    x3 = x2 + c3
    x4 = x3 + c4
    return {"w": w, "c1": c1, "c2": c2, "c3": c3, "c4": c4, "c5": c5, "x1": x1, "x2": x2, "x3": x3, "x4": x4}


def button_rect(size, which, dpi=DESIGN_DPI):
    """"left" (start) or "right" (game) button: (left, top, right, bottom)."""
    width, height = size
    left = (width - scaled(376, dpi)) // 2
    button = scaled(180, dpi)
    if which != "left":
        left += scaled(376, dpi) - button
    return (left, height - scaled(78, dpi), left + button, height - scaled(38, dpi))


def dot_centre(size, row, dpi=DESIGN_DPI):
    """The centre of a table row's status dot."""
    columns = table_columns(size[0], dpi)
    return (columns["x3"] + columns["c4"] // 2, scaled(126 + 30 * (row + 1), dpi) - scaled(15, dpi))


# ---- the program ------------------------------------------------------------------------

class Program:
    """One copy of Orvane.exe under Wine, and its main window once shown."""

    def __init__(self, exe, probe, cwd, output=None):
        self.exe = exe
        self.probe = probe if isinstance(probe, Probe) else Probe(probe)
        self.cwd = cwd
        self.output = output          # a file for its output, else none is kept
        self.process = None
        self.facts = {}
        self.origin = self.size = None
        self.dpi = DESIGN_DPI

    # The process.
    def launch(self):
        """Starts the program; returns its process."""
        self.process = subprocess.Popen(
            [wine(self.exe), self.exe], cwd=self.cwd, stdin=subprocess.DEVNULL,
            stdout=self.output or subprocess.DEVNULL,
            stderr=subprocess.STDOUT if self.output else subprocess.DEVNULL)
        return self.process

    def start(self, timeout=60):
        """Starts the program and waits until its window is shown."""
        self.launch()
        self.find(timeout)

    def find(self, timeout=60):
        facts = self.probe.facts("wait-window", str(int(timeout * 1000)), timeout=timeout + 60)
        if facts.get("found") != "1":
            raise Failure("the main window did not appear: %s" % facts.get("error", ""))
        self.facts = facts
        self.origin = pair(facts["client_origin"])
        self.size = pair(facts["client_size"])
        # dpi is 0 where the system has no per-window DPI: the system DPI applies.
        self.dpi = int(facts.get("dpi") or 0) or int(facts.get("system_dpi") or DESIGN_DPI)
        return facts

    def running(self):
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("Orvane did not exit within %g s" % timeout) from None

    def ask_close(self, window_class=MAIN_WINDOW_CLASS):
        """Posts WM_CLOSE to the window, as its close box or Alt+F4 do."""
        return self.probe.facts("close", window_class).get("posted") == "WM_CLOSE"

    def close(self, timeout=20):
        """Asks the window to close; kills the program if it has not ended in time."""
        if self.running():
            self.ask_close()
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.kill()

    def kill(self):
        if self.running():
            self.process.kill()
            self.process.wait()

    # The window.
    def to_screen(self, point):
        return (self.origin[0] + point[0], self.origin[1] + point[1])

    def click_client(self, point):
        click_screen(*self.to_screen(point))
        # Off the buttons again, so the next screenshot shows no hover colour.
        move_pointer(*self.to_screen((10, self.size[1] - 100)))

    def button_rect(self, which):
        return button_rect(self.size, which, self.dpi)

    def click(self, which):
        left, top, right, bottom = self.button_rect(which)
        self.click_client(((left + right) // 2, (top + bottom) // 2))

    def pixel(self, image, point):
        return image.at(*self.to_screen(point))

    def button_colour(self, which, image=None):
        """The button's fill, sampled beside its rounded corner and caption."""
        left, top, _, _ = self.button_rect(which)
        return self.pixel(image or grab(), (left + scaled(12, self.dpi), top + scaled(8, self.dpi)))

    def wait_button(self, which, colour, timeout):
        return wait_for("the %s button to turn %r" % (which, colour),
                        lambda: near(self.button_colour(which), colour), timeout, 0.3)

    def caption_ink(self, which, image, fg, bg):
        """The button caption's ink, relative to the button: the same text
        gives the same mask in any colours."""
        left, top, right, bottom = self.button_rect(which)
        s = lambda length: scaled(length, self.dpi)  # noqa: E731
        sl, st = self.to_screen((left + s(10), top + s(6)))
        sr, sb = self.to_screen((right - s(10), bottom - s(6)))
        return {(x - sl, y - st) for x, y in ink_mask(image, (sl, st, sr, sb), fg, bg)}

    def dot_point(self, row):
        """A point inside a table row's status dot, beside its mark."""
        x, y = dot_centre(self.size, row, self.dpi)
        return (x - scaled(6, self.dpi), y)

    def progress_share(self, image=None):
        """The share of the progress bar drawn filled, from 0.0 to 1.0."""
        image = image or grab()
        s = lambda length: scaled(length, self.dpi)  # noqa: E731
        left, right, y = s(16), self.size[0] - s(16), s(410)
        filled = sum(1 for x in range(left, right) if near(self.pixel(image, (x, y)), ACCENT, 20))
        return filled / float(right - left)

    def status_is_red(self, image=None):
        """The status line is drawn in the danger colour when a step blocks."""
        image = image or grab()
        s = lambda length: scaled(length, self.dpi)  # noqa: E731
        for y in range(s(366), s(387), 2):
            for x in range(s(28), min(self.size[0] - s(28), s(400))):
                if near(self.pixel(image, (x, y)), DANGER, 40):
                    return True
        return False

    def dialog(self, caption, timeout_ms=30000):
        """Waits for a message box with that caption; its facts (text, ok_centre)."""
        facts = self.probe.facts("wait-dialog", caption, str(timeout_ms), timeout=timeout_ms / 1000 + 60)
        if facts.get("found") != "1":
            raise Failure("no message box %r appeared" % caption)
        return facts

    def accessible(self):
        """The window's client area as a screen reader reads it: its children in
        order, each a dict of role, name, state (a set), action and rect (screen
        left, top, width, height); the focused child's id under "focus"."""
        facts = self.probe.facts("accessible")
        if facts.get("found") != "1":
            raise Failure("no accessible object for the window: %s" % (
                facts.get("error") or "the probe printed %r" % facts))
        children = []
        for i in range(1, int(facts["children"]) + 1):
            children.append({
                "id": i,
                "role": facts["child.%d.role" % i],
                "name": facts["child.%d.name" % i],
                "state": set(facts["child.%d.state" % i].split("+")),
                "action": facts["child.%d.action" % i],
                "rect": tuple(int(v) for v in facts["child.%d.rect" % i].split(",")),
            })
        return {"name": facts.get("name"), "role": facts.get("role"), "children": children,
                "focus": int(facts.get("focus", "-1"))}

    def accessible_do(self, child):
        """A child's default action, as a screen reader does it: the HRESULT."""
        return self.probe.facts("accessible-do", str(child)).get("result")

    def focus_mark_around(self, image, rect):
        """Whether the focus ring is drawn around rect (screen left, top, width,
        height): sampled on its left and right sides, beside the control."""
        left, top, width, height = rect
        gap = scaled(2, self.dpi)
        middle = top + height // 2
        return (near(image.at(left - gap, middle), FOCUS, 24)
                and near(image.at(left + width - 1 + gap, middle), FOCUS, 24))

    @staticmethod
    def dismiss(box):
        """Clicks a message box's OK button."""
        click_screen(*pair(box["ok_centre"]))
