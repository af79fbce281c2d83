#!/usr/bin/env python3
"""The demonstration behind scripts/run.sh: Orvane.exe updates a small game
directory from a signed portal and starts the launcher.

  demo.py --orvane EXE --launcher EXE --probe EXE --key PRIVATE.pem --dir DIR

In DIR it makes
  game/      a client directory: wow.exe, Data/zhCN with the two archives
             (small stand-ins, so the integrity row reports an incomplete
             client, which does not block), Orvane.exe, config.ini and a stand-in
             launcher "Kaimor登录器.exe" that records its start;
  client/    the newer client the operator publishes;
  portal/    client/ published by scripts/portal.py and signed with the key;
then serves portal/ with nginx on 127.0.0.1:80 inside a private network
namespace where the service's host names lead to 127.0.0.1
(scripts/netns-portal.sh) and starts Orvane there under Wine.

With a local X display ($DISPLAY=:N) the window opens on it and you click:
"开始检测", then "更新游戏". Without one it runs on a private Xvfb display,
the clicks are made for you and screenshots are saved in DIR/screenshots.
Either way the outcome is checked and printed at the end.
"""

import argparse
import configparser
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LAUNCHER_NAME = "Kaimor登录器.exe"
BASE_URL = "http://update.kaimor.com/files/"
SUCCESS = (52, 199, 89)
ACCENT = (66, 133, 244)


def write(root, rel, data):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(root, rel):
    with open(os.path.join(root, *rel.split("/")), "rb") as f:
        return f.read()


def say(text):
    print("demo: " + text, flush=True)


def prepare(args):
    for name in ["game", "client", "portal", "screenshots"]:
        shutil.rmtree(os.path.join(args.dir, name), ignore_errors=True)
    game = os.path.join(args.dir, "game")
    client = os.path.join(args.dir, "client")

    write(game, "wow.exe", b"MZ demo game executable, release 1\n")
    write(game, "Data/zhCN/base-zhCN.MPQ", b"MPQ\x1a demo base archive\n")
    write(game, "Data/zhCN/lichking-locale-zhCN.MPQ", b"MPQ\x1a demo locale archive\n")
    shutil.copy(args.orvane, os.path.join(game, "Orvane.exe"))
    shutil.copy(args.launcher, os.path.join(game, LAUNCHER_NAME))
    write(game, "config.ini", b"[Server]\r\nPortalUrl=http://update.kaimor.com/\r\n")

    write(client, "wow.exe", b"MZ demo game executable, release 2\n")
    write(client, "Data/zhCN/base-zhCN.MPQ", read(game, "Data/zhCN/base-zhCN.MPQ"))
    write(client, "Data/zhCN/patch-zhCN-5.MPQ", random.Random(2).randbytes(8 * 1024 * 1024))
    write(client, "Data/zhCN/更新说明.txt", "第二版: 新的补丁档案\r\n".encode("utf-8"))
    write(client, "Interface/AddOns/Kaimor/Kaimor.toc", b"## Interface: 30300\n## Title: Kaimor\n")

    result = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "portal.py"), "publish",
                             client, os.path.join(args.dir, "portal"), "--base-url", BASE_URL,
                             "--sign", args.key], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("demo: publishing failed: " + result.stderr)
    say(result.stdout.strip() + " (signed with %s)" % args.key)


def local_display():
    """The user's display, when it can be reached from inside the namespace:
    a local one (":N"), through its socket in /tmp/.X11-unix."""
    display = os.environ.get("DISPLAY", "")
    if not display.startswith(":"):
        return None
    ok = subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return display if ok.returncode == 0 else None


def outside(args):
    prepare(args)
    display = local_display()
    if display:
        say("Orvane opens on your display %s" % display)
    else:
        say("no local display: Orvane runs on a private Xvfb display, clicked by the demo")
    command = ["bash", os.path.join(ROOT, "scripts", "netns-portal.sh"),
               "--www", os.path.join(args.dir, "portal"),
               "--access-log", os.path.join(args.dir, "access.log"), "--wine"]
    if not display:
        command.append("--xvfb")
    command += ["--", sys.executable, os.path.abspath(__file__), "--inside",
                "--orvane", args.orvane, "--launcher", args.launcher, "--probe", args.probe,
                "--key", args.key, "--dir", args.dir] + ([] if display else ["--headless"])
    return subprocess.run(command).returncode


# ---- inside the namespace ---------------------------------------------------

class Window:
    def __init__(self, probe, shots):
        self.probe_exe = probe
        self.shots = shots
        self.count = 0
        self.origin = self.size = None

    def probe(self, *arguments):
        with tempfile.TemporaryFile() as output:
            subprocess.run([os.environ["ORVANE_WINE"], self.probe_exe] + list(arguments),
                           stdout=output, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
            output.seek(0)
            lines = output.read().decode("utf-8", "replace").splitlines()
        return dict(line.partition("=")[::2] for line in lines)

    def find(self):
        facts = self.probe("wait-window", "60000")
        if facts.get("found") != "1":
            raise RuntimeError("the window did not appear")
        self.origin = [int(v) for v in facts["client_origin"].split(",")]
        self.size = [int(v) for v in facts["client_size"].split(",")]

    def screenshot(self, name):
        os.makedirs(self.shots, exist_ok=True)
        self.count += 1
        path = os.path.join(self.shots, "%d-%s.png" % (self.count, name))
        subprocess.run(["import", "-window", "root", path], check=True)
        say("screenshot: " + path)

    def button(self, which):
        width, height = self.size
        left = (width - 376) // 2 + (0 if which == "left" else 196)
        return left, height - 78

    def click(self, which):
        left, top = self.button(which)
        x, y = self.origin[0] + left + 90, self.origin[1] + top + 20
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
        subprocess.run(["xdotool", "mousemove", str(self.origin[0] + 10),
                        str(self.origin[1] + self.size[1] - 100)], check=True)

    def colour(self, which):
        left, top = self.button(which)
        x, y = self.origin[0] + left + 12, self.origin[1] + top + 8
        text = subprocess.run(["import", "-window", "root", "-crop", "1x1+%d+%d" % (x, y),
                               "-depth", "8", "txt:-"], capture_output=True, text=True).stdout
        # "0,0: (52,199,89)  #34C759  srgb(52,199,89)"
        values = text.splitlines()[-1].split("(", 1)[1].split(")", 1)[0].split(",")
        return tuple(int(float(v)) for v in values[:3])

    def wait_colour(self, which, colour, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if all(abs(a - b) <= 12 for a, b in zip(self.colour(which), colour)):
                return True
            time.sleep(0.3)
        return False


def wait(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.2)
    return False


def read_setup(game):
    path = os.path.join(game, "setup.ini")
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    try:
        parser.read_string(data[2:].decode("utf-16-le") if data[:2] == b"\xff\xfe"
                           else data.decode("latin-1"))
    except configparser.Error:
        return None
    return parser


def drive(window, game):
    """The clicks a player makes, for a display nobody watches."""
    window.screenshot("started")
    window.click("left")
    say('clicked "开始检测"')
    saved = wait(lambda: read_setup(game) is not None
                 and read_setup(game).has_option("Launcher", "SetupComplete"), 60)
    say("diagnosis passed, results saved in setup.ini" if saved else "the diagnosis did not pass")
    if not window.wait_colour("right", SUCCESS, 60):
        window.screenshot("no-update-offered")
        return False
    window.screenshot("update-offered")
    window.click("right")
    say('clicked "更新游戏"')
    # "更新完成!" stays about a second before the launcher starts.
    if window.wait_colour("right", ACCENT, 60):
        window.screenshot("updated")
    return True


def report(args, code):
    game = os.path.join(args.dir, "game")
    client = os.path.join(args.dir, "client")
    good = True
    published = sorted(os.path.relpath(os.path.join(current, name), client).replace(os.sep, "/")
                       for current, _, files in os.walk(client) for name in files)
    for rel in published:
        expected = hashlib.md5(read(client, rel)).hexdigest()
        try:
            actual = hashlib.md5(read(game, rel)).hexdigest()
        except FileNotFoundError:
            actual = "missing"
        good &= actual == expected
        say("  %s: %s" % ("same as the portal's" if actual == expected else "NOT updated", rel))
    record = os.path.join(game, "launcher-started.txt")
    if os.path.exists(record):
        with open(record, encoding="utf-8") as f:
            say("launcher started: " + f.read().strip().replace("\n", "; "))
    else:
        say("the launcher was not started")
        good = False
    setup = read_setup(game)
    if setup is not None:
        say("setup.ini: SetupComplete=%s, FileListVersion=%s" % (
            setup.get("Launcher", "SetupComplete", fallback="?"),
            setup.get("Update", "FileListVersion", fallback="(none)")))
    say("Orvane exited with %s" % code)
    say("game directory: %s" % game)
    return 0 if good and code == 0 else 1


def inside(args):
    game = os.path.join(args.dir, "game")
    # The demo's throwaway copy of the Wine prefix gets a .NET 8 runtime folder:
    # without .NET the diagnosis stops, as on a PC that lacks it.
    os.makedirs(os.path.join(os.environ["WINEPREFIX"], "drive_c", "Program Files", "dotnet", "shared",
                             "Microsoft.NETCore.App", "8.0.11"), exist_ok=True)
    process = subprocess.Popen([os.environ["ORVANE_WINE"], os.path.join(game, "Orvane.exe")],
                               cwd=game, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    window = Window(args.probe, os.path.join(args.dir, "screenshots"))
    code = None
    try:
        window.find()
        if args.headless:
            if drive(window, game):
                try:
                    code = process.wait(120)
                except subprocess.TimeoutExpired:
                    pass
        else:
            say('click "开始检测", then "更新游戏"; Orvane closes itself after starting the launcher')
            code = process.wait()
    finally:
        if process.poll() is None:
            window.screenshot("still-running")
            process.kill()
    return report(args, code)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--orvane", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--headless", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    args.dir = os.path.abspath(args.dir)
    return inside(args) if args.inside else outside(args)


if __name__ == "__main__":
    sys.exit(main())
