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
import os
import random
import shutil
import subprocess
import sys

from orvane_game import (BASE_ARCHIVE, LOCALE_ARCHIVE, add_dotnet8, differing_files, files_below,
                         in_private_network, make_game, publish, read, read_setup_ini, setup_saved,
                         write)
from orvane_window import ACCENT, SUCCESS, Failure, Program, Screenshots, wait_until

BASE_URL = "http://update.kaimor.com/files/"


def say(text):
    print("demo: " + text, flush=True)


def prepare(args):
    for name in ["game", "client", "portal", "screenshots"]:
        shutil.rmtree(os.path.join(args.dir, name), ignore_errors=True)
    game = os.path.join(args.dir, "game")
    client = os.path.join(args.dir, "client")

    make_game(game, args.orvane, args.launcher, {
        "wow.exe": b"MZ demo game executable, release 1\n",
        BASE_ARCHIVE: b"MPQ\x1a demo base archive\n",
        LOCALE_ARCHIVE: b"MPQ\x1a demo locale archive\n",
    })
    write(client, "wow.exe", b"MZ demo game executable, release 2\n")
    write(client, BASE_ARCHIVE, read(game, BASE_ARCHIVE))
    write(client, "Data/zhCN/patch-zhCN-5.MPQ", random.Random(2).randbytes(8 * 1024 * 1024))
    write(client, "Data/zhCN/更新说明.txt", "第二版: 新的补丁档案\r\n".encode("utf-8"))
    write(client, "Interface/AddOns/Kaimor/Kaimor.toc", b"## Interface: 30300\n## Title: Kaimor\n")
    try:
        said = publish(client, os.path.join(args.dir, "portal"), BASE_URL, args.key)
    except Failure as e:
        sys.exit("demo: %s" % e)
    say(said + " (signed with %s)" % args.key)


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
    command = [sys.executable, os.path.abspath(__file__), "--inside",
               "--orvane", args.orvane, "--launcher", args.launcher, "--probe", args.probe,
               "--key", args.key, "--dir", args.dir] + ([] if display else ["--headless"])
    return in_private_network(command, www=os.path.join(args.dir, "portal"),
                              access_log=os.path.join(args.dir, "access.log"), xvfb=not display)


# ---- inside the namespace ---------------------------------------------------

def drive(orvane, game, shots):
    """The clicks a player makes, for a display nobody watches."""
    shots.save("started")
    orvane.click("left")
    say('clicked "开始检测"')
    saved = wait_until(lambda: setup_saved(game), 60)
    say("diagnosis passed, results saved in setup.ini" if saved else "the diagnosis did not pass")
    try:
        orvane.wait_button("right", SUCCESS, 60)
    except Failure:
        shots.save("no-update-offered")
        return False
    shots.save("update-offered")
    orvane.click("right")
    say('clicked "更新游戏"')
    # "更新完成!" stays about a second before the launcher starts.
    try:
        orvane.wait_button("right", ACCENT, 60)
        shots.save("updated")
    except Failure:
        pass
    return True


def report(args, code):
    game = os.path.join(args.dir, "game")
    client = os.path.join(args.dir, "client")
    differing = differing_files(client, game)
    for rel in files_below(client):
        say("  %s: %s" % ("NOT updated" if rel in differing else "same as the portal's", rel))
    good = not differing
    record = os.path.join(game, "launcher-started.txt")
    # Orvane exits as soon as the launcher has started; give it time to record
    # itself before this namespace, and everything started in it, ends.
    if code == 0 and wait_until(lambda: os.path.exists(record), 30):
        with open(record, encoding="utf-8") as f:
            say("launcher started: " + f.read().strip().replace("\n", "; "))
    else:
        say("the launcher was not started")
        good = False
    setup = read_setup_ini(game)
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
    add_dotnet8()
    shots = Screenshots(os.path.join(args.dir, "screenshots"), say)
    orvane = Program(os.path.join(game, "Orvane.exe"), args.probe, cwd=game)
    code = None
    try:
        orvane.start()
        if args.headless:
            if drive(orvane, game, shots):
                try:
                    code = orvane.wait_exit(120)
                except Failure:
                    pass
        else:
            say('click "开始检测", then "更新游戏"; Orvane closes itself after starting the launcher')
            code = orvane.process.wait()
    except Failure as e:
        say(str(e))
    finally:
        if orvane.running():
            shots.save("still-running")
            orvane.kill()
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
