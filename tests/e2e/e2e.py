#!/usr/bin/env python3
"""End-to-end runs of Orvane.exe: the real window under Wine on a private Xvfb
display, clicked with xdotool, against a portal made by scripts/portal.py and
served by nginx inside a private network namespace (scripts/netns-portal.sh).

  e2e.py SCENARIO --orvane EXE --launcher EXE --probe EXE --artifacts DIR [--key PEM]

Outside the namespace it lays out the game directory and the portal in
DIR/SCENARIO (kept afterwards with the screenshots, the access log and
Orvane.log), then runs itself inside the namespace for the Wine part.

Results are read from what the program leaves behind: setup.ini, the game
files, the stub launcher's launcher-started.txt, the exit code, the portal's
access log, the connections the probe hosts received, message boxes (found by
orvane_window_probe) and pixels of screenshots (button and status colours).

Exit codes: 0 passed, 1 failed, 77 skipped (no namespace, not root, or a
32-bit build on a machine that cannot run 32-bit programs).
"""

import argparse
import hashlib
import http.client
import json
import os
import random
import re
import shutil
import socket
import ssl
import subprocess
import sys
import threading
import time
import traceback
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "scripts"))
from orvane_game import (BASE_ARCHIVE, LAUNCHER_NAME, LOCALE_ARCHIVE, ROOT,  # noqa: E402
                         add_dotnet8, differing_files, in_private_network, read_setup_ini,
                         setup_saved, windows_path, write)
import orvane_game  # noqa: E402
sys.path.insert(0, os.path.join(ROOT, "tests", "fixtures"))
import md5_twins  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import file_events  # noqa: E402
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import internet_settings  # noqa: E402
from orvane_window import (ACCENT, DANGER, NEUTRAL, PANEL, SUCCESS, WHITE, Failure,  # noqa: E402
                           Program, Screenshots, grab, hide_keyboard_cues, near, pe_machine,
                           press_keys, wait_for)

SKIP = 77
PORTAL_BASE = "http://update.kaimor.com/files/"
PROBE_HOST_ADDRESS = "127.0.0.3"   # a listener that counts the diagnosis' connects
DEAD_ADDRESS = "127.0.0.2"         # nothing listens there
PROBE_HOSTS = ["api.kaimor.com=" + PROBE_HOST_ADDRESS, "game.kaimor.com=" + PROBE_HOST_ADDRESS]


def check(condition, message):
    if not condition:
        raise Failure(message)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


# ---- scenario set-up (outside the namespace) ---------------------------------

class Layout:
    """Paths of one scenario's folder."""

    def __init__(self, base):
        self.base = base
        self.game = os.path.join(base, "魔兽世界 客户端")
        self.client = os.path.join(base, "client")     # what the operator publishes
        self.portal = os.path.join(base, "portal")     # what nginx serves
        self.access_log = os.path.join(base, "access.log")
        self.shots = os.path.join(base, "screenshots")
        self.scratch = os.path.join(base, "cwd")       # Orvane's current directory


def make_game(layout, args, launcher=True):
    """A client directory: wow.exe, Data with the two archives (not the real
    ones, so the integrity row fails, which does not block), Orvane.exe,
    config.ini pointing at the local portal and the stub launcher."""
    orvane_game.make_game(layout.game, args.orvane, args.launcher if launcher else None, {
        "wow.exe": b"MZ old game executable",
        BASE_ARCHIVE: b"MPQ\x1a base",
        LOCALE_ARCHIVE: b"MPQ\x1a locale",
    })


def publish(layout, key=None, base_url=PORTAL_BASE, extra=()):
    orvane_game.publish(layout.client, layout.portal, base_url, key, extra)


def sign_list(key, list_file):
    """Signs a list as scripts/portal.py does: the operator's own signature."""
    subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, "-out", list_file + ".sig",
                    list_file], check=True, capture_output=True)


def publish_same_as_game(layout):
    """A portal whose files all equal the game directory's: nothing to update."""
    for rel in ["wow.exe", BASE_ARCHIVE]:
        write(layout.client, rel, read_bytes(os.path.join(layout.game, *rel.split("/"))))
    publish(layout)


def setup_ini_text(game_dir, game_reachable):
    values = [
        ("System", [("OSName", "Windows 10"), ("OSVersion", "10.0"), ("OSBuild", "19045"),
                    ("Is64Bit", "1"), ("IsWin7", "0"), ("IsWin10OrLater", "1"),
                    ("HasDotNet", "1"), ("DotNetVersion", "8.0.11"), ("HasNet8", "1")]),
        ("Game", [("GameDir", windows_path(game_dir)), ("HasGameDir", "1"), ("HasDataDir", "1"),
                  ("HasWowExe", "1"), ("HasCompleteClient", "0")]),
        ("Server", [("ApiReachable", "1"), ("ApiLatencyMs", "3"),
                    ("GameReachable", "1" if game_reachable else "0"), ("GameLatencyMs", "3")]),
        ("Launcher", [("LauncherType", ""), ("LauncherPath", ""), ("LastCheckDate", ""),
                      ("SetupComplete", "1")]),
    ]
    lines = []
    for section, keys in values:
        lines.append("[%s]" % section)
        lines.extend("%s=%s" % pair for pair in keys)
    return "\r\n".join(lines) + "\r\n"


def write_setup_ini(game_dir, game_reachable):
    """A saved diagnosis as the program writes it: UTF-16 LE with a BOM."""
    data = b"\xff\xfe" + setup_ini_text(game_dir, game_reachable).encode("utf-16-le")
    write(game_dir, "setup.ini", data)


# ---- inside the namespace ---------------------------------------------------

class ProbeHostListener:
    """Accepts TCP connections on PROBE_HOST_ADDRESS:80 and counts them: the
    diagnosis connects there and sends nothing."""

    def __init__(self):
        self.times = []
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind((PROBE_HOST_ADDRESS, 80))
        self.server.listen(16)
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                connection, _ = self.server.accept()
            except OSError:
                return
            self.times.append(time.time())
            connection.close()

    def count(self):
        return len(self.times)

    def wait_count(self, expected, timeout=5):
        """The kernel completes a connect before the listener accepts it: allow
        the count a moment to catch up, then insist on the exact number."""
        try:
            wait_for("%d probe connects" % expected, lambda: self.count() >= expected, timeout, 0.05)
        except Failure:
            pass
        check(self.count() == expected,
              "the probe hosts got %d connects, expected %d" % (self.count(), expected))


class AccessLog:
    def __init__(self, path):
        self.path = path

    def requests(self):
        """(time, status, path) per request, the path unescaped."""
        entries = []
        try:
            with open(self.path, "rb") as f:
                lines = f.read().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return entries
        for line in lines:
            fields = line.split("\t")
            if len(fields) >= 6:
                entries.append((float(fields[0]), int(fields[1]), urllib.parse.unquote(fields[3]),
                                fields[5]))
        return entries

    def paths(self):
        return [path for _, _, path, _ in self.requests()]

    def count(self, path):
        return self.paths().count(path)


class Orvane(Program):
    """The program in the scenario's game directory, started from another
    folder: it must work beside its own exe."""

    def __init__(self, args, layout):
        super().__init__(os.path.join(layout.game, "Orvane.exe"), args.probe, layout.scratch)
        self.args = args

    def launch(self):
        os.makedirs(self.cwd, exist_ok=True)
        return super().launch()

    def start(self, timeout=60):
        super().start(timeout)
        check(self.size[0] >= 700 and self.size[1] >= 500, "odd client size %r" % (self.size,))


# ---- the scenarios ------------------------------------------------------------
# Each has a set-up run outside the namespace (returns in_private_network's
# options: the host mappings, and www=None where the scenario serves the portal
# itself) and a body run inside it.

def wait_saved(game_dir, timeout):
    wait_for("setup.ini", lambda: setup_saved(game_dir), timeout)


def expect_setup(game_dir, **expected):
    ini = read_setup_ini(game_dir)
    check(ini is not None, "setup.ini was not written")
    for key, value in expected.items():
        section = {"GameDir": "Game", "HasWowExe": "Game", "HasGameDir": "Game",
                   "HasCompleteClient": "Game", "GameReachable": "Server",
                   "ApiReachable": "Server", "HasNet8": "System",
                   "SetupComplete": "Launcher"}[key]
        actual = ini.get(section, key, fallback=None)
        check(actual == value, "setup.ini %s=%r, expected %r" % (key, actual, value))


def expect_launcher_started(layout, timeout, game=None):
    game = game or layout.game
    record = os.path.join(game, "launcher-started.txt")
    wait_for("the launcher to start", lambda: os.path.exists(record), timeout)
    lines = dict(line.split("=", 1) for line in
                 read_bytes(record).decode("utf-8").splitlines() if "=" in line)
    # Started in its own directory, whatever Orvane's current directory was.
    check(lines.get("cwd", "").rstrip("\\").lower() == windows_path(game).lower(),
          "launcher's current directory %r, expected the game directory" % lines.get("cwd"))
    return os.path.getmtime(record)


UPDATE_FILES = {
    "wow.exe": b"MZ new game executable " + bytes(range(256)) * 64,
    "Data/zhCN/patch-zhCN-5.MPQ": random.Random(5).randbytes(3 * 1024 * 1024 + 17),
    "Data/zhCN/补丁 说明.txt": "更新说明\r\n".encode("utf-8"),
    "Interface/AddOns/Kaimor/Kaimor.toc": b"## Interface: 30300\n",
}
UNCHANGED = "Data/zhCN/base-zhCN.MPQ"


def setup_fresh_start(layout, args):
    make_game(layout, args)
    for rel, data in UPDATE_FILES.items():
        write(layout.client, rel, data)
    write(layout.client, UNCHANGED, read_bytes(os.path.join(layout.game, *UNCHANGED.split("/"))))
    publish(layout)
    return {"hosts": PROBE_HOSTS}


def run_fresh_start(layout, orvane, screen, log, listener):
    """Diagnosis, saved results, update check, download, launcher, exit 0."""
    add_dotnet8()
    orvane.start()
    screen.save("started")
    check(read_setup_ini(layout.game) is None, "setup.ini exists before any diagnosis")
    check(near(orvane.button_colour("right"), PANEL), "the right button is enabled before a diagnosis")
    check(log.paths() == [], "the portal was asked before a diagnosis: %r" % log.paths())

    orvane.click("left")
    wait_saved(layout.game, 30)
    expect_setup(layout.game, SetupComplete="1", GameDir=windows_path(layout.game), HasWowExe="1",
                 HasGameDir="1", HasNet8="1", ApiReachable="1", GameReachable="1",
                 HasCompleteClient="0")
    listener.wait_count(2)   # one per probe host
    check(not os.path.exists(os.path.join(layout.scratch, "setup.ini")),
          "setup.ini was written into the current directory")

    orvane.wait_button("right", SUCCESS, 30)
    screen.save("update-offered")
    check(log.paths() == ["/url.txt", "/files/filelist.json"],
          "check requests: %r" % log.paths())
    check(all(agent == "Orvane/1.0" for _, _, _, agent in log.requests()), "wrong user agent")
    expect_build_kind(layout, "(build without a file list key: unsigned lists taken)")

    orvane.click("right")
    launched_at = expect_launcher_started(layout, 90)
    code = orvane.wait_exit(30)
    screen.save("after-launch")
    check(code == 0, "Orvane exited with %d" % code)

    for rel, data in UPDATE_FILES.items():
        local = read_bytes(os.path.join(layout.game, *rel.split("/")))
        check(local == data, "%s differs from the portal's copy after the update" % rel)
    check(not [p for p in os.listdir(layout.game) if p.lower().endswith(".tmp")],
          "temporary download files were left behind")
    downloads = [(t, s, p) for t, s, p, _ in log.requests() if p.startswith("/files/")
                 and p != "/files/filelist.json"]
    check(sorted(p for _, _, p in downloads) == sorted("/files/" + r for r in UPDATE_FILES),
          "downloads: %r" % downloads)
    check(all(s == 200 for _, s, _ in downloads), "a download failed: %r" % downloads)
    # The launcher follows the finished update after about a second.
    delay = launched_at - max(t for t, _, _ in downloads)
    check(0.9 <= delay <= 15, "launcher started %.2f s after the last download" % delay)


def setup_blocked_without_dotnet(layout, args):
    make_game(layout, args)
    publish_same_as_game(layout)
    return {"hosts": PROBE_HOSTS}


ROWS = ["operating system", "architecture", ".NET", "game directory", "client integrity",
        "login server", "game server"]


def expect_blocked(layout, orvane, screen, log, listener, failed, passed, connects):
    """"开始检测" blocks at row failed (red dot, red status line) with the rows
    passed in green: nothing saved, no update check, Orvane still running."""
    orvane.start()
    orvane.click("left")
    wait_for("the blocked verdict (red status line)", orvane.status_is_red, 30, 0.3)
    grabbed = grab()
    screen.save("blocked")
    check(near(orvane.pixel(grabbed, orvane.dot_point(failed)), DANGER), "%s row is not failed" % ROWS[failed])
    for row in passed:
        check(near(orvane.pixel(grabbed, orvane.dot_point(row)), SUCCESS), "%s row is not ok" % ROWS[row])
    listener.wait_count(connects)
    check(read_setup_ini(layout.game) is None, "setup.ini was written after a blocked diagnosis")
    check(log.paths() == [], "an update check ran after a blocked diagnosis: %r" % log.paths())
    check(orvane.running(), "Orvane exited after a blocked diagnosis")


def run_blocked_without_dotnet(layout, orvane, screen, log, listener):
    """No .NET at all blocks: nothing saved, no update check, still running."""
    expect_blocked(layout, orvane, screen, log, listener, failed=2, passed=[6], connects=2)


def setup_blocked_game_host_down(layout, args):
    make_game(layout, args)
    publish_same_as_game(layout)
    return {"hosts": ["api.kaimor.com=" + PROBE_HOST_ADDRESS, "game.kaimor.com=" + DEAD_ADDRESS]}


def run_blocked_game_host_down(layout, orvane, screen, log, listener):
    """An unreachable game host blocks; "开始游戏" then refuses to start the launcher."""
    add_dotnet8()
    # The login host only connects; the game host's address has no listener.
    expect_blocked(layout, orvane, screen, log, listener, failed=6, passed=[2, 5], connects=1)

    orvane.click("right")
    box = orvane.dialog("网络异常")
    screen.save("network-message")
    check("无法连接游戏服务器" in box["text"], "message: %r" % box["text"])
    orvane.dismiss(box)
    check(not os.path.exists(os.path.join(layout.game, "launcher-started.txt")),
          "the launcher was started although the game host is down")
    check(orvane.running(), "Orvane exited after the network message")


BROKEN = "Data/zhCN/patch-zhCN-6.MPQ"


def setup_update_failure(layout, args):
    make_game(layout, args)
    write(layout.game, BROKEN, b"the old archive")
    write(layout.client, BROKEN, b"the archive as listed")
    write(layout.client, "wow.exe", read_bytes(os.path.join(layout.game, "wow.exe")))
    publish(layout)
    # The file served never matches the listed digest.
    write(os.path.join(layout.portal, "files"), BROKEN, b"the archive, damaged")
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS}


def expect_update_failed(orvane, screen, path, shot):
    """Starts Orvane, whose check offers an update; the update fails on
    `path` with its message, and "重新检查" is offered."""
    orvane.start()
    orvane.wait_button("right", SUCCESS, 30)
    screen.save("update-offered")
    orvane.click("right")
    box = orvane.dialog("错误", 90000)
    screen.save(shot)
    check(box["text"] == "下载失败: " + path, "message: %r" % box["text"])
    orvane.dismiss(box)
    orvane.wait_button("right", ACCENT, 20)   # "重新检查"


def run_update_failure(layout, orvane, screen, log, listener):
    """A file that never matches: "更新失败", the old file kept, "重新检查" in blue runs a new check."""
    expect_update_failed(orvane, screen, BROKEN, "download-failed-message")
    screen.save("check-again-offered")
    check(log.count("/files/" + BROKEN) == 3, "attempts: %d" % log.count("/files/" + BROKEN))
    check(read_bytes(os.path.join(layout.game, *BROKEN.split("/"))) == b"the old archive",
          "the old file was not kept after the failed download")
    check(log.count("/files/filelist.json") == 1, "lists fetched: %r" % log.paths())

    orvane.click("right")   # "重新检查"
    wait_for("a second list request", lambda: log.count("/files/filelist.json") == 2, 30)
    orvane.wait_button("right", SUCCESS, 30)
    screen.save("update-offered-again")
    check(log.count("/url.txt") == 1, "url.txt was asked again: %r" % log.paths())
    check(log.count("/files/" + BROKEN) == 3, "the check downloaded files")
    check(listener.count() == 0, "saved results were probed again")
    check(orvane.running(), "Orvane exited")


FOLDER_ENTRY = "Data"


def setup_listed_folder(layout, args):
    """A portal whose list also names the client's Data folder as a file,
    served as one."""
    make_game(layout, args)
    write(layout.client, "wow.exe", b"MZ new game executable")
    publish(layout)
    files = os.path.join(layout.portal, "files")
    with open(os.path.join(files, "filelist.json"), encoding="utf-8") as f:
        listed = json.load(f)
    body = b"a file where the client has its Data folder"
    listed["files"].append({"path": FOLDER_ENTRY, "hash": hashlib.md5(body).hexdigest(), "size": len(body)})
    write(files, "filelist.json", json.dumps(listed).encode())
    write(files, FOLDER_ENTRY, body)
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS}


def run_listed_folder(layout, orvane, screen, log, listener):
    """The entry naming a folder fails the update with "下载失败: Data"; the
    folder and its archives stay where they are, nothing is moved aside."""
    data = os.path.join(layout.game, FOLDER_ENTRY)
    before = snapshot(data)
    check(before, "the client has no archives in %s" % data)
    expect_update_failed(orvane, screen, FOLDER_ENTRY, "folder-entry-failed")
    check(os.path.isdir(data) and snapshot(data) == before, "the Data folder changed")
    beside = sorted(n for n in os.listdir(layout.game) if n.lower().startswith(FOLDER_ENTRY.lower() + "."))
    check(not beside, "files beside the folder: %r" % beside)
    check(read_bytes(os.path.join(layout.game, "wow.exe")) == b"MZ new game executable",
          "the file listed before the folder was not updated")
    check(log.count("/files/" + FOLDER_ENTRY) == 0, "the folder's entry was fetched: %r" % log.paths())
    check(orvane.running(), "Orvane exited")


def setup_second_start(layout, args):
    make_game(layout, args)
    publish_same_as_game(layout)
    return {"hosts": PROBE_HOSTS}


def run_second_start(layout, orvane, screen, log, listener):
    """A second start with saved results checks for updates by itself, probes
    nothing, and starts the launcher on "开始游戏"."""
    add_dotnet8()
    orvane.start()
    orvane.click("left")
    wait_saved(layout.game, 30)
    orvane.wait_button("right", ACCENT, 30)   # up to date: "开始游戏"
    screen.save("first-run-up-to-date")
    check(log.paths() == ["/url.txt", "/files/filelist.json"], "requests: %r" % log.paths())
    orvane.close()
    check(not orvane.running(), "Orvane did not close")
    saved = read_bytes(os.path.join(layout.game, "setup.ini"))
    listener.wait_count(2)

    orvane.start()
    wait_for("an update check without a click", lambda: log.count("/files/filelist.json") == 2, 30)
    orvane.wait_button("right", ACCENT, 30)
    screen.save("second-run-up-to-date")
    check(log.count("/url.txt") == 2, "requests: %r" % log.paths())
    listener.wait_count(2)   # none from the second start
    check(read_bytes(os.path.join(layout.game, "setup.ini")) == saved, "setup.ini changed")

    orvane.click("right")
    expect_launcher_started(layout, 30)
    check(orvane.wait_exit(30) == 0, "Orvane did not exit with 0 after starting the launcher")


def setup_launch_errors(layout, args):
    make_game(layout, args, launcher=False)
    publish_same_as_game(layout)
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS}


def run_launch_errors(layout, orvane, screen, log, listener):
    """"开始游戏" without a launcher, and with a saved unreachable game host:
    the message boxes appear and Orvane keeps running."""
    orvane.start()
    orvane.wait_button("right", ACCENT, 30)
    orvane.click("right")
    box = orvane.dialog("错误")
    screen.save("launcher-missing")
    expected = "未找到登录器:\\n%s\\%s\\n\\n请确认 Kaimor登录器.exe 与本程序在同一目录" % (
        windows_path(layout.game), LAUNCHER_NAME)
    check(box["text"] == expected, "message: %r" % box["text"])
    orvane.dismiss(box)
    time.sleep(0.5)
    check(orvane.running(), "Orvane exited after the missing-launcher message")
    orvane.close()

    # Valid saved results that found the game host unreachable: blocked at start.
    write_setup_ini(layout.game, game_reachable=False)
    shutil.copy(orvane.args.launcher, os.path.join(layout.game, LAUNCHER_NAME))
    requests = len(log.paths())
    orvane.start()
    wait_for("the restored blocked verdict", orvane.status_is_red, 30, 0.3)
    orvane.click("right")
    box = orvane.dialog("网络异常")
    screen.save("game-host-unreachable")
    check(box["text"] == "无法连接游戏服务器\\n\\n请检查网络后重新检测, 再开始游戏",
          "message: %r" % box["text"])
    orvane.dismiss(box)
    check(len(log.paths()) == requests, "a blocked start checked for updates")
    check(not os.path.exists(os.path.join(layout.game, "launcher-started.txt")),
          "the launcher was started")
    check(orvane.running(), "Orvane exited after the network message")
    check(listener.count() == 0, "saved results were probed again")


def setup_signed_portal(layout, args):
    make_game(layout, args)
    write(layout.client, "wow.exe", b"MZ release 1")
    publish(layout, args.key)
    return {"hosts": PROBE_HOSTS}


def saved_list_version(game_dir):
    ini = read_setup_ini(game_dir)
    return ini.get("Update", "FileListVersion", fallback=None) if ini else None


def expect_check_refused(orvane, screen, log, message, name):
    """A start whose automatic check ends in a message box, nothing downloaded."""
    before = len(log.paths())
    orvane.start()
    box = orvane.dialog("错误")
    screen.save(name)
    check(box["text"] == message, "message: %r, expected %r" % (box["text"], message))
    orvane.dismiss(box)
    orvane.wait_button("right", ACCENT, 20)   # "重新检查"
    new = log.paths()[before:]
    check("/files/filelist.json.sig" in new, "the signature was not fetched: %r" % new)
    check(all(p in ("/url.txt", "/files/filelist.json", "/files/filelist.json.sig") for p in new),
          "files were downloaded from a refused list: %r" % new)
    orvane.close()


def expect_build_kind(layout, kind):
    """The log's start line says which kind of build wrote it."""
    lines = read_bytes(os.path.join(layout.game, "Orvane.log")).decode("utf-8", "replace").splitlines()
    started = [line for line in lines if " started (" in line]
    check(started and kind in started[0], "Orvane.log's start line: %r" % started[:1])


def run_signed_portal(layout, orvane, screen, log, listener):
    """A program built with a public key takes the lists scripts/portal.py signs
    with its private half, refuses an altered list, an older signed list once
    a newer one was taken, a signed list without the files' SHA-256, a signed
    list of another name, and a file with the listed MD5 and size but not the
    listed SHA-256."""
    add_dotnet8()
    files = os.path.join(layout.portal, "files")
    release1 = os.path.join(layout.base, "portal-release-1")
    shutil.copytree(layout.portal, release1)

    orvane.start()
    orvane.click("left")
    wait_saved(layout.game, 30)
    orvane.wait_button("right", SUCCESS, 30)
    screen.save("release-1-offered")
    check(log.paths() == ["/url.txt", "/files/filelist.json", "/files/filelist.json.sig"],
          "requests: %r" % log.paths())
    check(saved_list_version(layout.game) == "1", "FileListVersion %r" % saved_list_version(layout.game))
    orvane.close()
    expect_build_kind(layout, "(signed file lists only)")

    # One changed byte that keeps the list valid JSON breaks the signature.
    listed = read_bytes(os.path.join(files, "filelist.json"))
    altered = listed.replace(b'"size": 12', b'"size": 13', 1)
    check(altered != listed, "the list has no size 12 to alter")
    write(files, "filelist.json", altered)
    expect_check_refused(orvane, screen, log, "文件列表签名无效", "altered-list-refused")

    # The operator publishes release 2 over the intact release 1.
    shutil.rmtree(layout.portal)
    shutil.copytree(release1, layout.portal)
    write(layout.client, "wow.exe", b"MZ release 2, longer")
    publish(layout, orvane.args.key)
    orvane.start()
    orvane.wait_button("right", SUCCESS, 30)
    screen.save("release-2-offered")
    check(saved_list_version(layout.game) == "2", "FileListVersion %r" % saved_list_version(layout.game))
    orvane.close()

    release2 = os.path.join(layout.base, "portal-release-2")
    shutil.copytree(layout.portal, release2)

    # Release 1 served again, correctly signed but older: refused.
    shutil.rmtree(layout.portal)
    shutil.copytree(release1, layout.portal)
    expect_check_refused(orvane, screen, log, "文件列表版本过旧", "older-list-refused")
    check(saved_list_version(layout.game) == "2", "the older list lowered FileListVersion")
    check(read_bytes(os.path.join(layout.game, "wow.exe")) == b"MZ old game executable",
          "wow.exe changed although no update was started")

    # Release 2 signed again by the operator's key, but without the files' SHA-256:
    # its MD5s alone bind nothing.
    shutil.rmtree(layout.portal)
    shutil.copytree(release2, layout.portal)
    listed = json.loads(read_bytes(os.path.join(files, "filelist.json")))
    check(all("sha256" in entry for entry in listed["files"]) and listed.get("name") == "filelist.json",
          "portal.py signed a list without sha256 or name: %r" % listed)
    for entry in listed["files"]:
        del entry["sha256"]
    write(files, "filelist.json", json.dumps(listed).encode())
    sign_list(orvane.args.key, os.path.join(files, "filelist.json"))
    expect_check_refused(orvane, screen, log, "文件列表签名无效", "list-without-sha256-refused")

    # A newer list the operator signed for another name (a test channel's),
    # served in place of filelist.json: refused, the version not taken.
    shutil.rmtree(layout.portal)
    shutil.copytree(release2, layout.portal)
    beta = os.path.join(layout.base, "portal-beta")
    result = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "portal.py"), "publish",
                             layout.client, beta, "--base-url", PORTAL_BASE, "--sign", orvane.args.key,
                             "--list-name", "filelist-beta.json", "--version", "7"],
                            capture_output=True, text=True)
    check(result.returncode == 0, "portal.py publish: %s" % result.stderr)
    for suffix in ("", ".sig"):
        shutil.copyfile(os.path.join(beta, "files", "filelist-beta.json" + suffix),
                        os.path.join(files, "filelist.json" + suffix))
    expect_check_refused(orvane, screen, log, "文件列表签名无效", "list-of-another-name-refused")
    check(saved_list_version(layout.game) == "2", "the replayed list raised FileListVersion")

    # Release 3 lists wow.exe as one message of a published MD5 collision; the
    # portal serves its twin (same size and MD5, another SHA-256).
    check(md5_twins.proven(), "the MD5 collision fixture does not collide")
    shutil.rmtree(layout.portal)
    shutil.copytree(release2, layout.portal)
    write(layout.client, "wow.exe", md5_twins.LISTED)
    publish(layout, orvane.args.key)
    write(files, "wow.exe", md5_twins.TWIN)
    before = len(log.paths())
    expect_update_failed(orvane, screen, "wow.exe", "md5-twin-refused")
    orvane.close()
    fetched = log.paths()[before:].count("/files/wow.exe")
    check(fetched == 3, "wow.exe fetched %d times, not RetryCount's 3" % fetched)
    check(read_bytes(os.path.join(layout.game, "wow.exe")) == b"MZ old game executable",
          "the MD5 twin replaced wow.exe")
    check(partial_files(layout.game) == [], "partial files left: %r" % partial_files(layout.game))


# ---- a slow portal --------------------------------------------------------------
# tests/fixtures/portal_server.py in place of nginx on 127.0.0.1:80, serving
# what portal.py published, with the file list held back and the files sent
# slowly, as over a poor link: long enough to act while a check or a download
# runs.

LIST_DELAY_S = 8       # the file list's answer is held back this long
FILE_SECONDS = 3       # each file's body is spread over this long


def setup_slow_portal(layout, list_delay=LIST_DELAY_S, file_seconds=FILE_SECONDS):
    """routes.txt for portal_server.py over everything published in layout.portal."""
    routes = []
    for rel in orvane_game.files_below(layout.portal):
        mode = "normal"
        if rel == "files/filelist.json":
            mode = "late=%g" % list_delay if list_delay else "normal"
        elif rel.startswith("files/"):
            mode = "slow=%g" % file_seconds
        routes.append("\t".join(["/" + rel, "200", mode, os.path.join(layout.portal, *rel.split("/"))]))
    write(layout.base, "slow-portal/routes.txt", ("\n".join(routes) + "\n").encode("utf-8"))
    return {"hosts": PROBE_HOSTS, "www": None}


class SlowPortal:
    """portal_server.py on 127.0.0.1:80 inside the namespace; its requests.log
    is read like nginx's access log."""

    def __init__(self, layout):
        self.dir = os.path.join(layout.base, "slow-portal")
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tests", "fixtures", "portal_server.py"),
             "--dir", self.dir, "--listen", "127.0.0.1:80", "--lifetime", "280"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("the slow portal", lambda: os.path.exists(os.path.join(self.dir, "port")), 10, 0.05)

    def paths(self):
        try:
            with open(os.path.join(self.dir, "requests.log"), encoding="utf-8") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def count(self, path):
        return self.paths().count(path)

    def downloads(self):
        return [p for p in self.paths() if p.startswith("/files/") and not p.startswith("/files/filelist")]

    def ranges(self):
        """(path, Range header) of each request that asked for a part."""
        try:
            with open(os.path.join(self.dir, "ranges.log"), encoding="utf-8") as f:
                return [tuple(line.split("\t", 1)) for line in f.read().splitlines()]
        except FileNotFoundError:
            return []

    def concurrency(self):
        """The most requests the portal has been answering at one time."""
        return self._count("concurrency")

    def in_flight(self):
        """The requests the portal is answering now."""
        return self._count("in_flight")

    def _count(self, name):
        try:
            with open(os.path.join(self.dir, name), encoding="utf-8") as f:
                return int(f.read())
        except FileNotFoundError:
            return 0

    def stop(self):
        write(self.dir, "stop", b"")
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def temporary_files(game_dir):
    """Download leftovers (orv*.tmp) anywhere in the game directory."""
    return [rel for rel in orvane_game.files_below(game_dir)
            if os.path.basename(rel).lower().startswith("orv") and rel.lower().endswith(".tmp")]


def partial_files(game_dir):
    """Downloads under way or interrupted (<target>.orvpart), kept for the next run."""
    return [rel for rel in orvane_game.files_below(game_dir) if rel.lower().endswith(".orvpart")]


def aside_files(game_dir):
    """Targets moved aside to make way for their new version (<target>.orvold)."""
    return [rel for rel in orvane_game.files_below(game_dir) if rel.lower().endswith(".orvold")]


def expect_update_complete(layout, orvane):
    """The launcher starts, Orvane exits with 0, every published file has the
    portal's bytes (and so its digest), and no temporary, partial or
    moved-aside file is left."""
    expect_launcher_started(layout, 120)
    code = orvane.wait_exit(30)
    check(code == 0, "Orvane exited with %d" % code)
    differing = differing_files(layout.client, layout.game)
    check(differing == [], "files that differ from the portal's digest: %r" % differing)
    check(temporary_files(layout.game) == [], "temporary files left: %r" % temporary_files(layout.game))
    check(partial_files(layout.game) == [], "partial downloads left: %r" % partial_files(layout.game))
    check(aside_files(layout.game) == [], "files moved aside and left: %r" % aside_files(layout.game))


SLOW_FILES = {
    "wow.exe": b"MZ new game executable " + bytes(range(256)) * 512,
    "Data/zhCN/patch-zhCN-5.MPQ": random.Random(15).randbytes(768 * 1024 + 5),
    "Data/zhCN/patch-zhCN-6.MPQ": random.Random(16).randbytes(512 * 1024 + 3),
    "Interface/AddOns/Kaimor/Kaimor.toc": b"## Interface: 30300\n## Title: Kaimor\n",
}


def setup_redetect_while_busy(layout, args):
    make_game(layout, args)
    for rel, data in SLOW_FILES.items():
        write(layout.client, rel, data)
    publish(layout)
    return setup_slow_portal(layout)


def expect_redetect_inert(orvane, screen, listener, name):
    """While a check or a download runs, "重新检测" is drawn disabled and a
    click on it starts no diagnosis. Returns the screen it was seen on."""
    grabbed = grab()
    screen.save(name)
    problems = []
    fill = orvane.button_colour("left", grabbed)
    if not near(fill, PANEL, 3):
        problems.append("the left button is filled %r, not the disabled %r" % (fill, PANEL))
    connects = listener.count()
    orvane.click("left")
    time.sleep(3)   # a diagnosis reaches the probe hosts within about a second
    screen.save(name + "-after-click")
    if listener.count() != connects:
        problems.append("a click on it started a diagnosis (%d new probe connects)"
                        % (listener.count() - connects))
    check(not problems, "while %s: %s" % (name, "; ".join(problems)))
    return grabbed


def expect_same_caption(orvane, disabled_screen, enabled_screen):
    """The disabled button keeps its caption: its glyphs (neutral grey on the
    panel fill) cover the same pixels as "重新检测" drawn enabled (white on blue)."""
    disabled = orvane.caption_ink("left", disabled_screen, NEUTRAL, PANEL)
    enabled = orvane.caption_ink("left", enabled_screen, WHITE, ACCENT)
    check(len(enabled) > 40, "no caption found on the enabled button")
    union = disabled | enabled
    check(len(disabled ^ enabled) < 0.25 * len(union),
          "the disabled button's caption differs from \"重新检测\" (%d of %d pixels)"
          % (len(disabled ^ enabled), len(union)))


def run_redetect_while_busy(layout, orvane, screen, log, listener):
    """"重新检测" is disabled while an update check runs and while a download
    runs (panel fill, same caption); clicks on it then change nothing, and the
    update completes."""
    portal = SlowPortal(layout)
    try:
        add_dotnet8()
        orvane.start()
        orvane.click("left")   # "开始检测"
        wait_saved(layout.game, 30)
        listener.wait_count(2)
        # The diagnosis passed, the check started at once; its list is held back.
        wait_for("the file list request", lambda: portal.count("/files/filelist.json"), 30, 0.1)
        checking = expect_redetect_inert(orvane, screen, listener, "checking")

        orvane.wait_button("right", SUCCESS, LIST_DELAY_S + 30)
        enabled = grab()
        screen.save("update-offered")
        check(near(orvane.button_colour("left", enabled), ACCENT, 3),
              "the left button is not enabled once the check is over")
        expect_same_caption(orvane, checking, enabled)

        orvane.click("right")   # "更新游戏"
        wait_for("the first download", portal.downloads, 30, 0.1)
        downloading = expect_redetect_inert(orvane, screen, listener, "downloading")
        expect_same_caption(orvane, downloading, enabled)
        check(len(portal.downloads()) < len(SLOW_FILES), "the download was over before the click")

        expect_update_complete(layout, orvane)
        check(portal.count("/files/filelist.json") == 1, "the list was fetched again: %r" % portal.paths())
        check(sorted(portal.downloads()) == sorted("/files/" + r for r in SLOW_FILES),
              "downloads: %r" % portal.downloads())
        listener.wait_count(2)
    finally:
        portal.stop()


CLOSE_FILES = {
    "wow.exe": b"MZ new game executable " + bytes(range(256)) * 1024,
    LOCALE_ARCHIVE: random.Random(25).randbytes(640 * 1024 + 1),
    "Data/zhCN/patch-zhCN-4.MPQ": random.Random(24).randbytes(640 * 1024 + 7),
}
CLOSE_WITHIN_S = 4   # the window must be gone about 2 s after the request; slack for Wine


def setup_close_during_download(layout, args):
    make_game(layout, args)
    write(layout.game, "Data/zhCN/patch-zhCN-4.MPQ", b"MPQ\x1a the old patch 4")
    for rel, data in CLOSE_FILES.items():
        write(layout.client, rel, data)
    publish(layout)
    write_setup_ini(layout.game, game_reachable=True)
    return setup_slow_portal(layout)


def run_close_during_download(layout, orvane, screen, log, listener):
    """Closing the window in the middle of a download ends Orvane quickly; the
    file being replaced keeps its old bytes, no temporary file is left, and the
    next start completes the update."""
    portal = SlowPortal(layout)
    try:
        old = {rel: orvane_game.read(layout.game, rel) for rel in CLOSE_FILES}
        orvane.start()
        orvane.wait_button("right", SUCCESS, LIST_DELAY_S + 30)
        orvane.click("right")   # "更新游戏"
        wait_for("a download in progress", lambda: partial_files(layout.game), 30, 0.05)
        screen.save("downloading")
        started = time.monotonic()
        check(orvane.ask_close(), "could not ask the window to close")
        try:
            orvane.wait_exit(30)
        finally:
            took = time.monotonic() - started
            # The close reaches the program a moment after it is asked for: the
            # file cut short is the last one requested by then.
            in_progress = portal.downloads()[-1][len("/files/"):]
            print("e2e: Orvane ended %.2f s after the close request, during %s" % (took, in_progress))
        check(took <= CLOSE_WITHIN_S, "Orvane took %.2f s to end after the close request" % took)
        for rel, data in old.items():
            now = orvane_game.read(layout.game, rel)
            check(now in (data, CLOSE_FILES[rel]), "%s is neither the old nor the new file" % rel)
        check(orvane_game.read(layout.game, in_progress) == old[in_progress],
              "%s, downloading at the close, changed" % in_progress)
        check(temporary_files(layout.game) == [],
              "temporary files left after the close: %r" % temporary_files(layout.game))
        check(partial_files(layout.game) in ([], [in_progress + ".orvpart"]),
              "partial downloads other than the interrupted one: %r" % partial_files(layout.game))
        check(not os.path.exists(os.path.join(layout.game, "launcher-started.txt")),
              "the launcher was started")

        orvane.start()
        orvane.wait_button("right", SUCCESS, LIST_DELAY_S + 30)
        screen.save("second-start-update-offered")
        orvane.click("right")
        expect_update_complete(layout, orvane)
        check(listener.count() == 0, "saved results were probed again")
    finally:
        portal.stop()


# ---- parallel transfers -----------------------------------------------------------
# A portal whose list allows four connections: eight files of equal size, each
# sent over PARALLEL_FILE_SECONDS, so the first four are under way together
# for that long.

PARALLEL_CONNECTIONS = 4
PARALLEL_FILE_SECONDS = 8
PARALLEL_FILES = {"Data/zhCN/patch-zhCN-%d.MPQ" % (10 + i): random.Random(40 + i).randbytes(256 * 1024)
                  for i in range(8)}


def setup_parallel_transfers(layout, args):
    make_game(layout, args)
    for i, rel in enumerate(PARALLEL_FILES):
        if i % 2:
            write(layout.game, rel, b"MPQ\x1a old " + rel.encode("ascii"))
    for rel, data in PARALLEL_FILES.items():
        write(layout.client, rel, data)
    publish(layout, extra=["--connections", str(PARALLEL_CONNECTIONS)])
    write_setup_ini(layout.game, game_reachable=True)
    return setup_slow_portal(layout, list_delay=0, file_seconds=PARALLEL_FILE_SECONDS)


def run_parallel_transfers(layout, orvane, screen, log, listener):
    """With "connections": 4 in the list, four files arrive at once: the portal
    sees four requests at a time, never more; the progress bar covers all four
    while none has finished; closing the window stops every transfer within
    the usual time, each keeping its part; the next start asks only for the
    rest and ends with every file right."""
    portal = SlowPortal(layout)
    try:
        old = {rel: orvane_game.read(layout.game, rel) if os.path.exists(os.path.join(layout.game, rel)) else None
               for rel in PARALLEL_FILES}
        orvane.start()
        orvane.wait_button("right", SUCCESS, 60)
        orvane.click("right")   # "更新游戏"
        wait_for("four transfers at once", lambda: portal.concurrency() >= PARALLEL_CONNECTIONS, 30, 0.05)
        started = time.monotonic()
        # Halfway through the first four files, none of them finished: one
        # file after the other would show at most 1/8 of the bytes by now.
        time.sleep(PARALLEL_FILE_SECONDS / 2.0)
        image = grab()
        screen.save("four-transfers")
        share = orvane.progress_share(image)
        under_way = len(portal.downloads())
        print("e2e: progress %.2f with %d files requested, %.1f s into the transfers"
              % (share, under_way, time.monotonic() - started))
        check(under_way == PARALLEL_CONNECTIONS,
              "%d files requested before any could finish: %r" % (under_way, portal.downloads()))
        check(0.15 < share < 0.5,
              "the progress bar is %.0f %% full, not the share of four transfers halfway" % (share * 100))

        asked = time.monotonic()
        check(orvane.ask_close(), "could not ask the window to close")
        try:
            orvane.wait_exit(30)
        finally:
            took = time.monotonic() - asked
            print("e2e: Orvane ended %.2f s after the close request" % took)
        check(took <= CLOSE_WITHIN_S, "Orvane took %.2f s to end after the close request" % took)
        # The server sees the closed connections at its next write; until then
        # they would count with the next start's requests.
        wait_for("the portal to end the closed transfers", lambda: portal.in_flight() == 0, 30, 0.05)
        interrupted = sorted(p[len("/files/"):] for p in portal.downloads())
        check(sorted(partial_files(layout.game)) == sorted(rel + ".orvpart" for rel in interrupted),
              "partial downloads %r, for the transfers %r" % (partial_files(layout.game), interrupted))
        for rel in PARALLEL_FILES:
            now = orvane_game.read(layout.game, rel) if os.path.exists(os.path.join(layout.game, rel)) else None
            check(now == old[rel], "%s changed though none finished" % rel)
        check(temporary_files(layout.game) == [], "temporary files left: %r" % temporary_files(layout.game))
        parts = {rel: os.path.getsize(os.path.join(layout.game, *(rel + ".orvpart").split("/")))
                 for rel in interrupted}
        check(all(0 < size < len(PARALLEL_FILES[rel]) for rel, size in parts.items()),
              "partial sizes: %r" % parts)

        orvane.start()
        orvane.wait_button("right", SUCCESS, 60)
        orvane.click("right")
        expect_update_complete(layout, orvane)
        check(sorted(portal.ranges()) == sorted(("/files/" + rel, "bytes=%d-" % size)
                                                for rel, size in parts.items()),
              "ranges asked: %r, parts kept: %r" % (portal.ranges(), parts))
        check(portal.concurrency() == PARALLEL_CONNECTIONS,
              "the portal answered %d requests at once, not %d" % (portal.concurrency(), PARALLEL_CONNECTIONS))
        fetched = sorted(portal.downloads())
        check(fetched == sorted(["/files/" + rel for rel in PARALLEL_FILES] +
                                ["/files/" + rel for rel in interrupted]),
              "downloads: %r" % fetched)
    finally:
        portal.stop()


# ---- a copied client, a client at a drive root, .NET registered by value ------

def copied_game(layout):
    return os.path.join(layout.base, "魔兽世界 副本")


def snapshot(folder):
    return {rel: orvane_game.read(folder, rel) for rel in orvane_game.files_below(folder)}


def setup_copied_client(layout, args):
    """Client A, diagnosed and saved (its setup.ini names A), copied as a
    whole to B; the portal has a newer client."""
    make_game(layout, args)
    write_setup_ini(layout.game, game_reachable=True)
    for rel, data in UPDATE_FILES.items():
        write(layout.client, rel, data)
    publish(layout)
    shutil.copytree(layout.game, copied_game(layout))
    return {"hosts": PROBE_HOSTS}


def run_copied_client(layout, orvane, screen, log, listener):
    """B starts as on a first run (A's saved results are not B's), diagnoses,
    saves its own directory and updates itself, never A."""
    add_dotnet8()
    copy = copied_game(layout)
    before = snapshot(layout.game)
    b = Program(os.path.join(copy, "Orvane.exe"), orvane.probe, layout.scratch)
    os.makedirs(layout.scratch, exist_ok=True)
    try:
        b.start()
        screen.save("copy-started")
        time.sleep(3)
        check(log.paths() == [], "the copy checked for updates with A's saved results: %r" % log.paths())
        check(near(b.button_colour("right"), PANEL), "the copy offers more than a diagnosis at its start")
        listener.wait_count(0)

        b.click("left")
        wait_for("the copy's own setup.ini", lambda: (read_setup_ini(copy) or {}) and
                 read_setup_ini(copy).get("Game", "GameDir", fallback="") == windows_path(copy), 30)
        expect_setup(copy, SetupComplete="1", GameDir=windows_path(copy), HasGameDir="1")
        b.wait_button("right", SUCCESS, 30)
        screen.save("copy-update-offered")
        b.click("right")
        expect_launcher_started(layout, 90, game=copy)
        check(b.wait_exit(30) == 0, "the copy did not exit with 0 after starting its launcher")
    finally:
        b.kill()
    check(differing_files(layout.client, copy) == [], "the copy was not updated: %r" %
          differing_files(layout.client, copy))
    check(snapshot(layout.game) == before, "client A changed while its copy was updated")


DRIVE = "q:"


def drive_folder(layout):
    return os.path.join(layout.base, "drive-q")


def setup_drive_root(layout, args):
    """The fresh start's client and portal, the client's folder the root of drive Q:."""
    network = setup_fresh_start(layout, args)
    os.rename(layout.game, drive_folder(layout))
    return network


def run_drive_root(layout, orvane, screen, log, listener):
    """Started as Q:\\Orvane.exe: the game directory is Q:\\, the listed files
    are updated there and the launcher starts in Q:\\."""
    add_dotnet8()
    root = drive_folder(layout)
    # The private overlay of the prefix gets the drive: what winecfg does.
    os.symlink(root, os.path.join(os.environ["WINEPREFIX"], "dosdevices", DRIVE))
    q = Program(DRIVE.upper() + "\\Orvane.exe", orvane.probe, layout.scratch)
    os.makedirs(layout.scratch, exist_ok=True)
    try:
        q.start()
        q.click("left")
        wait_saved(root, 30)
        expect_setup(root, SetupComplete="1", GameDir="Q:\\", HasGameDir="1", HasWowExe="1")
        q.wait_button("right", SUCCESS, 30)
        screen.save("update-offered")
        check(log.paths() == ["/url.txt", "/files/filelist.json"], "check requests: %r" % log.paths())
        q.click("right")
        record = os.path.join(root, "launcher-started.txt")
        wait_for("the launcher to start", lambda: os.path.exists(record), 90)
        check(q.wait_exit(30) == 0, "Orvane did not exit with 0 after starting the launcher")
    finally:
        q.kill()
    check(differing_files(layout.client, root) == [], "not updated at the drive root: %r" %
          differing_files(layout.client, root))
    lines = dict(line.split("=", 1) for line in
                 read_bytes(record).decode("utf-8").splitlines() if "=" in line)
    check(lines.get("cwd", "").lower() == "q:\\", "launcher's current directory %r" % lines.get("cwd"))


def setup_dotnet_by_value(layout, args):
    make_game(layout, args)
    publish_same_as_game(layout)
    return {"hosts": PROBE_HOSTS}


def run_dotnet_by_value(layout, orvane, screen, log, listener):
    """.NET 8 installed outside C:\\Program Files\\dotnet, registered by its
    installer (a value in the 32-bit view): the .NET row passes, HasNet8 is saved."""
    add_dotnet8(runtime_folder=False)
    orvane.start()
    orvane.click("left")
    wait_saved(layout.game, 30)
    expect_setup(layout.game, SetupComplete="1", HasNet8="1")
    check(near(orvane.pixel(grab(), orvane.dot_point(2)), SUCCESS), "the .NET row is not ok")
    screen.save("diagnosed")
    ini = read_setup_ini(layout.game)
    check(ini.get("System", "DotNetVersion", fallback="") == "NET 8.0.11",
          "DotNetVersion=%r" % ini.get("System", "DotNetVersion", fallback=None))


def setup_keyboard_and_screen_reader(layout, args):
    make_game(layout, args)
    publish_same_as_game(layout)
    return {"hosts": PROBE_HOSTS}


WELCOME = "欢迎使用, 请点击 开始检测"
UNCHECKED = "未检测"  # a row's grey dot, in words (its parts are joined by "，")
S_OK = "0x00000000"
DISP_E_MEMBERNOTFOUND = "0x80020003"


def read_window(orvane):
    """The window as a screen reader reads it: (rows, status, start, game, links)."""
    tree = orvane.accessible()
    children = tree["children"]
    check(len(children) == 12, "%d accessible children, want 7 rows, the status line, "
          "2 buttons and 2 links" % len(children))
    return children[:7], children[7], children[8], children[9], children[10:], tree["focus"]


def expect_child(child, role, name=None, has=(), lacks=()):
    check(child["role"] == role, "child %d: role %s, want %s" % (child["id"], child["role"], role))
    if name is not None:
        check(child["name"] == name, "child %d: name %r, want %r" % (child["id"], child["name"], name))
    for state in has:
        check(state in child["state"], "child %d (%s) is not %s: %s" % (child["id"], child["name"], state,
                                                                      sorted(child["state"])))
    for state in lacks:
        check(state not in child["state"], "child %d (%s) is %s" % (child["id"], child["name"], state))


def run_keyboard_and_screen_reader(layout, orvane, screen, log, listener):
    """Tab to "开始检测", Enter: the diagnosis runs (and blocks at the missing
    .NET). A screen reader reads the rows, status line, buttons and links before
    and after, and its default action clicks; Alt+F4 closes the window."""
    hide_keyboard_cues()  # the namespace's prefix is a throwaway copy
    orvane.start()
    rows, status, start, game, links, focus = read_window(orvane)
    for row in rows:
        expect_child(row, "statictext", has=["readonly"])
        check(UNCHECKED in row["name"].split("，"), "row before a diagnosis reads %r" % row["name"])
    expect_child(status, "statictext", WELCOME)
    expect_child(start, "pushbutton", "开始检测", has=["focusable", "focused"], lacks=["unavailable"])
    check(start["action"] != "", "the start button has no default action")
    expect_child(game, "pushbutton", "开始游戏", has=["unavailable"], lacks=["focused", "focusable"])
    for link in links:
        expect_child(link, "link", has=["focusable", "linked"], lacks=["focused"])
    check(links[0]["name"] and links[1]["name"] and links[0]["name"] != links[1]["name"],
          "link names %r" % [link["name"] for link in links])
    check(focus == start["id"], "focused child %d, want the start button" % focus)
    check(not orvane.focus_mark_around(grab(), start["rect"]),
          "a focus mark shows before the keyboard was used")
    check(orvane.accessible_do(game["id"]) == DISP_E_MEMBERNOTFOUND, "the disabled button took an action")

    # Tab passes the disabled game button: the links, then round to "开始检测".
    for target in (links[0], links[1], start):
        press_keys("Tab")
        wait_for("the focus on %s" % target["name"], lambda: read_window(orvane)[5] == target["id"], 10, 0.3)
        image = grab()
        check(orvane.focus_mark_around(image, target["rect"]), "no focus mark around %s" % target["name"])
        others = [c for c in (start, links[0], links[1]) if c is not target]
        check(not any(orvane.focus_mark_around(image, c["rect"]) for c in others),
              "a focus mark beside %s too" % target["name"])
    screen.save("focus-on-start")
    check(listener.count() == 0 and orvane.running(), "Tab alone started something")

    press_keys("Return")
    wait_for("the blocked verdict (red status line)", orvane.status_is_red, 30, 0.3)
    listener.wait_count(2)
    screen.save("after-enter")
    rows, status, start, game, links, focus = read_window(orvane)
    check(status["name"] not in ("", WELCOME), "status line reads %r after the diagnosis" % status["name"])
    check("失败" in rows[2]["name"], ".NET row reads %r" % rows[2]["name"])
    check(not any(UNCHECKED in row["name"].split("，") for row in rows), "a row still reads unchecked")
    expect_child(start, "pushbutton", "重新检测", has=["focused"], lacks=["unavailable"])
    check(orvane.focus_mark_around(grab(), start["rect"]), "no focus mark on \"重新检测\" after the run")

    # "开始游戏" is offered after a blocked diagnosis (the launch refuses by itself).
    expect_child(game, "pushbutton", "开始游戏", has=["focusable"], lacks=["unavailable", "focused"])
    # A screen reader's default action clicks the button.
    check(orvane.accessible_do(start["id"]) == S_OK, "the start button's default action failed")
    listener.wait_count(4, timeout=30)

    press_keys("alt+F4")
    code = orvane.wait_exit(30)
    check(code == 0, "Orvane exited with %d after Alt+F4" % code)
    check(read_setup_ini(layout.game) is None, "setup.ini was written after a blocked diagnosis")


# ---- a hostile portal over https -------------------------------------------------
# The portal speaks TLS with a certificate from a test CA that the namespace's
# CA store (Wine's root store) trusts, on 443; on 8443 with one from a CA
# nobody trusts. Its list names the program's own files, names with trailing
# dots, and over a million invalid entries; a later list is larger than any
# real one.

PORTAL_HOST = "update.kaimor.com"
UNTRUSTED_PORT = 8443
HTTPS_BASE = "https://%s/files/" % PORTAL_HOST
OWN_FILES = ["Orvane.exe", "config.ini", "setup.ini", "Orvane.log", "Orvane.log.1"]
# Spellings Windows takes for the program's settings, log and leftovers, or
# for another entry's file. (The program itself is its own entry: the
# self_update scenarios list it.)
HOSTILE_NAMES = ["config.ini", "CONFIG.INI", "/config.ini", "Data/../config.ini", "Orvane.exe.orvold",
                 "orvane.EXE.1", "setup.ini", "Orvane.log", "Orvane.log.1", "config.ini.",
                 "Orvane.exe ", "wow.exe.", "Data./x.MPQ",
                 # Eleven folders deep, 308 characters of folders: past what
                 # Windows opens (it once overflowed a temporary-name buffer).
                 "/".join(["deep-folder-of-the-portal-x"] * 11) + "/x.MPQ"]
FLOOD_BYTES = 3 * 1024 * 1024 + 512 * 1024   # below the 4 MiB list limit
BIG_LIST_BYTES = 16 * 1024 * 1024            # above it
LOG_CAP = 64 * 1024                          # far above a bounded run's log


def make_certificates(folder):
    """A test CA with a server certificate for the portal host, and another
    CA (trusted by no one) with one for the same name."""
    os.makedirs(folder)

    def openssl(*arguments):
        subprocess.run(["openssl"] + list(arguments), cwd=folder, check=True, capture_output=True)

    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n" % PORTAL_HOST)
    for name in ("trusted", "untrusted"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                "/CN=Orvane test CA %s" % name, "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                "-keyout", name + "-ca.key", "-out", name + "-ca.pem")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + PORTAL_HOST,
                "-keyout", name + "-server.key", "-out", name + "-server.csr")
        openssl("x509", "-req", "-in", name + "-server.csr", "-CA", name + "-ca.pem", "-CAkey",
                name + "-ca.key", "-CAcreateserial", "-days", "2", "-extfile", "server.ext",
                "-out", name + "-server.pem")
    return {name: os.path.join(folder, name) for name in ("trusted", "untrusted")}


def write_portal_url(layout, url):
    write(layout.game, "config.ini", b"[Server]\r\nPortalUrl=" + url.encode() + b"\r\n")


def hostile_list(layout, names, filler_bytes):
    """The published list with entries for `names` (each served as evil
    content with its right digest) and `{}` entries up to filler_bytes."""
    files = os.path.join(layout.portal, "files")
    with open(os.path.join(files, "filelist.json"), encoding="utf-8") as f:
        listed = json.load(f)
    evil = b"[Server]\r\nPortalUrl=http://evil.example/\r\n"
    for name in names:
        listed["files"].append({"path": name, "hash": hashlib.md5(evil).hexdigest(), "size": len(evil)})
        served = os.path.join(files, *[part for part in name.split("/") if part])
        if not name.endswith((".", " ")) and ".." not in name:
            os.makedirs(os.path.dirname(served), exist_ok=True)
            with open(served, "wb") as f:
                f.write(evil)
    text = json.dumps(listed)[:-2]   # reopen the "files" array: ...}]}
    count = max(0, (filler_bytes - len(text)) // 3)
    text += "," + ",".join(["{}"] * count) + "]}"
    write(files, "filelist.json", text.encode())
    return count


def setup_hostile_portal(layout, args):
    make_game(layout, args)
    write(layout.client, "wow.exe", b"MZ game executable over TLS")
    publish(layout, base_url=HTTPS_BASE)
    flood = hostile_list(layout, HOSTILE_NAMES, FLOOD_BYTES)
    write(layout.base, "flood-count.txt", str(flood).encode())
    # A relay whose address leaves TLS by a redirect.
    write(layout.portal, "to-http-relay/url.txt", b"https://%s/files/\r\n" % PORTAL_HOST.encode())
    certs = make_certificates(os.path.join(layout.base, "tls"))
    return {"hosts": PROBE_HOSTS,
            "tls": ["443:%s-server.pem:%s-server.key" % (certs["trusted"], certs["trusted"]),
                    "%d:%s-server.pem:%s-server.key" % (UNTRUSTED_PORT, certs["untrusted"],
                                                        certs["untrusted"])],
            "trust_ca": certs["trusted"] + "-ca.pem"}


def own_files(layout):
    return {name: read_bytes(os.path.join(layout.game, name))
            for name in OWN_FILES if os.path.exists(os.path.join(layout.game, name))}


RELAY_REFUSED = "二次寻址失败: 无法连接跳板服务器"
# What a player can mend when Windows refuses the server's certificate.
CERTIFICATE_REASON = "无法建立安全连接, 请检查电脑的日期和时间是否正确, 或更新系统的根证书"


def expect_relay_refused(layout, orvane, screen, log, url, name, text=RELAY_REFUSED):
    """The automatic check of a start with `url` as PortalUrl fails as an
    unreachable relay would, showing `text`, and nothing reaches the portal
    over TLS."""
    write_portal_url(layout, url)
    before = len(log.paths())
    orvane.start()
    box = orvane.dialog("错误")
    screen.save(name)
    check(box["text"] == text, "message: %r" % box["text"])
    orvane.dismiss(box)
    orvane.wait_button("right", ACCENT, 20)   # "重新检查": still running
    orvane.close()
    return log.paths()[before:]


def run_hostile_portal(layout, orvane, screen, log, listener):
    """Over https: an untrusted certificate and a redirect to http fail as an
    unreachable relay; a trusted portal's list naming the program's own files,
    trailing-dot names and a flood of invalid entries updates the client and
    nothing else, with a log of a few lines; a list past the size limit is
    refused. The program stays alive throughout."""
    add_dotnet8()
    flood = int(read_bytes(os.path.join(layout.base, "flood-count.txt")))

    # A first start diagnoses against the trusted portal, which is up to date
    # for no file: the check offers the update, which is left for later.
    write_portal_url(layout, "https://%s/" % PORTAL_HOST)
    orvane.start()
    orvane.click("left")
    wait_saved(layout.game, 30)
    orvane.wait_button("right", SUCCESS, 60)   # "更新游戏"
    screen.save("hostile-list-offered")
    orvane.close()
    log_text = read_bytes(os.path.join(layout.game, "Orvane.log")).decode("utf-8", "replace")
    # Parsing skips the flood, the trailing-dot names and the ".." path (five
    # warnings, the rest summarised); the check skips the eight own files and
    # the path too deep for Windows.
    for summary in ["... %d more entries skipped" % flood, "... 4 more entries skipped"]:
        check(summary in log_text, "no %r in Orvane.log:\n%s" % (summary, log_text[-2000:]))
    check(len(log_text) < LOG_CAP, "Orvane.log has %d bytes" % len(log_text))

    # Untrusted certificate, then a relay that redirects from https to http.
    # The server on UNTRUSTED_PORT answers any client that trusts its CA: only
    # the trust differs.
    tls = os.path.join(layout.base, "tls")
    control = http.client.HTTPSConnection(PORTAL_HOST, UNTRUSTED_PORT, timeout=10, context=ssl.create_default_context(
        cafile=os.path.join(tls, "untrusted-ca.pem")))
    control.request("GET", "/url.txt")
    check(control.getresponse().status == 200, "the untrusted server does not answer its own CA's clients")
    control.close()
    # The box adds what the player can check (the probe writes its line break
    # as \\n); the log names the code.
    refused = expect_relay_refused(layout, orvane, screen, log,
                                   "https://%s:%d/" % (PORTAL_HOST, UNTRUSTED_PORT), "untrusted-certificate",
                                   RELAY_REFUSED + "\\n" + CERTIFICATE_REASON)
    check(refused == [], "requests reached a portal with an untrusted certificate: %r" % refused)
    log_text = read_bytes(os.path.join(layout.game, "Orvane.log")).decode("utf-8", "replace")
    # Windows says 12175, Wine 12157.
    check(re.search(r"Relay request failed: " + re.escape("https://%s:%d/" % (PORTAL_HOST, UNTRUSTED_PORT)) +
                    r": WinHttpSendRequest failed: "
                    r"(12175 ERROR_WINHTTP_SECURE_FAILURE|12157 ERROR_WINHTTP_SECURE_CHANNEL_ERROR)\r?\n", log_text),
          "Orvane.log does not name the failed request and its code:\n%s" % log_text[-2000:])
    refused = expect_relay_refused(layout, orvane, screen, log,
                                   "https://%s/to-http/to-http-relay/" % PORTAL_HOST, "redirect-to-http")
    check("/to-http-relay/url.txt" not in refused, "the redirect to http was followed: %r" % refused)

    # The trusted portal again: update, launcher, exit 0; the own files as they were.
    write_portal_url(layout, "https://%s/" % PORTAL_HOST)
    before_own = own_files(layout)
    before = len(log.paths())
    orvane.start()
    orvane.wait_button("right", SUCCESS, 60)
    orvane.click("right")
    expect_launcher_started(layout, 60)
    check(orvane.wait_exit(30) == 0, "Orvane did not exit with 0 after the update")
    new = log.paths()[before:]
    check(new == ["/url.txt", "/files/filelist.json", "/files/wow.exe"], "requests: %r" % new)
    check(read_bytes(os.path.join(layout.game, "wow.exe")) == b"MZ game executable over TLS",
          "wow.exe was not updated over TLS")
    after_own = own_files(layout)
    for name in ["Orvane.exe", "config.ini", "setup.ini"]:
        check(after_own.get(name) == before_own.get(name), "%s changed" % name)
    for name in ["Orvane.log", "Orvane.log.1"]:
        check(b"evil.example" not in after_own.get(name, b""), "%s was written by the portal" % name)
        check(len(after_own.get(name, b"")) < LOG_CAP, "%s has %d bytes" % (name, len(after_own.get(name, b""))))
    for name in ["wow.exe.", "Data.", "Data/x.MPQ"]:
        check(not os.path.exists(os.path.join(layout.game, name)), "%s exists" % name)

    # A list larger than any real one: refused before it is read.
    files = os.path.join(layout.portal, "files")
    with open(os.path.join(files, "filelist.json"), "wb") as f:
        f.write(b'{"files":[' + b"{}," * (BIG_LIST_BYTES // 3) + b"{}]}")
    orvane.start()
    box = orvane.dialog("错误")
    screen.save("big-list-refused")
    check(box["text"] == "下载文件列表失败", "message: %r" % box["text"])
    orvane.dismiss(box)
    orvane.wait_button("right", ACCENT, 20)
    orvane.close()
    check("skipped for this run: file list request failed: Response too large" in
          read_bytes(os.path.join(layout.game, "Orvane.log")).decode("utf-8", "replace"),
          "Orvane.log does not say why the list was refused")
    check(own_files(layout)["config.ini"] == before_own["config.ini"], "config.ini changed")


# A large file over a link of RESUME_RATE: the program is killed at about 30 %.
RESUME_FILE = "Data/zhCN/patch-zhCN-7.MPQ"
RESUME_BYTES = 120 * 1024 * 1024 + 7
RESUME_RATE = "12m"    # nginx limit_rate: 12 MiB/s, about 10 s for the file


def setup_resume_after_kill(layout, args):
    make_game(layout, args)
    write(layout.client, RESUME_FILE, random.Random(17).randbytes(RESUME_BYTES))
    publish(layout)
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS, "limit_rate": RESUME_RATE}


def file_transfers(access_log, rel):
    """(status, body bytes, Range header) of each request for the published file."""
    transfers = []
    with open(access_log, "rb") as f:
        for line in f.read().decode("utf-8", "replace").splitlines():
            fields = line.split("\t")
            if len(fields) >= 7 and urllib.parse.unquote(fields[3]).endswith("/" + rel):
                transfers.append((int(fields[1]), int(fields[4]), fields[6]))
    return transfers


def run_resume_after_kill(layout, orvane, screen, log, listener):
    """Killed at about 30 % of a large download, the next start asks the portal
    only for the rest (Range) and the file ends up with the portal's bytes."""
    partial = os.path.join(layout.game, *RESUME_FILE.split("/")) + ".orvpart"
    orvane.start()
    orvane.wait_button("right", SUCCESS, 60)
    orvane.click("right")   # "更新游戏"
    wait_for("30 % of the download", lambda: os.path.exists(partial) and
             os.path.getsize(partial) >= RESUME_BYTES * 3 // 10, 60, 0.02)
    orvane.kill()
    kept = os.path.getsize(partial)
    print("e2e: killed with %d of %d bytes (%.0f %%)" % (kept, RESUME_BYTES, 100.0 * kept / RESUME_BYTES))
    check(kept < RESUME_BYTES, "the download had finished before the kill")
    # nginx logs a request once its connection has closed.
    wait_for("the first request in the access log",
             lambda: file_transfers(layout.access_log, RESUME_FILE), 10, 0.05)
    first = file_transfers(layout.access_log, RESUME_FILE)
    check(len(first) == 1 and first[0][:1] == (200,) and first[0][2] == "",
          "first run's requests for the file: %r" % first)

    orvane.start()
    orvane.wait_button("right", SUCCESS, 60)
    screen.save("second-start-update-offered")
    orvane.click("right")
    expect_update_complete(layout, orvane)
    second = file_transfers(layout.access_log, RESUME_FILE)[len(first):]
    check(second == [(206, RESUME_BYTES - kept, "bytes=%d-" % kept)],
          "second run's requests for the file (status, bytes, range): %r, expected the %d bytes "
          "from %d on" % (second, RESUME_BYTES - kept, kept))


# ---- a small disk, and the end of the session ----------------------------------

# Sent at 1 MiB/s, so the disk can be filled while it arrives.
DISK_FILE = "Data/zhCN/patch-zhCN-6.MPQ"
DISK_FILE_BYTES = 6 * 1024 * 1024 + 5
DISK_RATE = "1m"
MIB = 1024 * 1024


def setup_small_disk(layout, args):
    make_game(layout, args)
    write(layout.game, DISK_FILE, b"MPQ\x1a the old patch 6")
    write(layout.client, DISK_FILE, random.Random(6).randbytes(DISK_FILE_BYTES))
    write(layout.client, "wow.exe", b"MZ new game executable " + bytes(range(256)) * 16)
    publish(layout)
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS, "limit_rate": DISK_RATE}


def bytes_in_use(folder):
    return sum(os.path.getsize(os.path.join(folder, *rel.split("/")))
               for rel in orvane_game.files_below(folder))


def mount_small_disk(folder, free_bytes):
    """Puts folder on a tmpfs of its contents plus free_bytes (this namespace only)."""
    held = folder + ".contents"
    shutil.copytree(folder, held)
    size = (bytes_in_use(held) + free_bytes + 64 * 1024) // 4096 * 4096
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "orvane-small-disk", folder], check=True)
    shutil.copytree(held, folder, dirs_exist_ok=True)
    shutil.rmtree(held)


def resize_small_disk(folder, free_bytes):
    size = (bytes_in_use(folder) + free_bytes + 64 * 1024) // 4096 * 4096
    subprocess.run(["mount", "-o", "remount,size=%d" % size, folder], check=True)


def fill_disk(folder):
    """Writes a file until the volume is full; returns its path."""
    path = os.path.join(folder, "filler.bin")
    with open(path, "wb", buffering=0) as f:
        try:
            while True:
                f.write(b"\0" * 65536)
        except OSError:
            pass
    return path


def status_text(orvane):
    children = orvane.accessible()["children"]
    return children[7]["name"]


def run_small_disk(layout, orvane, screen, log, listener):
    """The game on a small disk: an update whose listed sizes exceed the free
    space fetches nothing ("磁盘空间不足" with MB needed and free); one that
    fits but meets a disk filled meanwhile fails its file at once with the
    same reason, its partial file removed. The old files stay as they were."""
    listed = [DISK_FILE, "wow.exe"]
    old = {rel: orvane_game.read(layout.game, rel) for rel in listed}
    mount_small_disk(layout.game, 2 * MIB)
    shortage = re.compile("磁盘空间不足: 需要 (\\d+) MB, 可用 (\\d+) MB")
    try:
        orvane.start()
        orvane.wait_button("right", SUCCESS, 60)
        screen.save("update-offered")
        orvane.click("right")   # "更新游戏"
        box = orvane.dialog("错误", 60000)
        screen.save("not-enough-space")
        lines = box["text"].split("\\n")  # the probe writes a line break as \\n
        check(len(lines) == 2 and lines[0] == "无法开始更新" and shortage.fullmatch(lines[1]),
              "message: %r" % box["text"])
        needed, free = (int(n) for n in shortage.fullmatch(lines[1]).groups())
        check(needed == 7 and free <= 2, "needed %d MB, free %d MB" % (needed, free))
        orvane.dismiss(box)
        orvane.wait_button("right", ACCENT, 20)   # "重新检查"
        check(status_text(orvane) == "更新失败: " + lines[1], "status line %r" % status_text(orvane))
        check(log.paths() == ["/url.txt", "/files/filelist.json"], "requests: %r" % log.paths())
        check(partial_files(layout.game) == [], "partial files: %r" % partial_files(layout.game))
        for rel, data in old.items():
            check(orvane_game.read(layout.game, rel) == data, "%s changed" % rel)

        # Room enough now; the disk fills while the large file arrives.
        resize_small_disk(layout.game, 12 * MIB)
        orvane.click("right")   # "重新检查"
        orvane.wait_button("right", SUCCESS, 60)
        orvane.click("right")   # "更新游戏"
        partial = os.path.join(layout.game, *DISK_FILE.split("/")) + ".orvpart"
        wait_for("the download under way", lambda: os.path.exists(partial) and os.path.getsize(partial) > 0,
                 60, 0.02)
        filler = fill_disk(layout.game)
        box = orvane.dialog("错误", 60000)
        screen.save("disk-full")
        lines = box["text"].split("\\n")  # the probe writes a line break as \\n
        check(len(lines) == 2 and lines[0] == "下载失败: " + DISK_FILE and shortage.fullmatch(lines[1]),
              "message: %r" % box["text"])
        orvane.dismiss(box)
        orvane.wait_button("right", ACCENT, 20)
        check(not os.path.exists(partial), "the partial file was kept on a full disk")
        os.remove(filler)
        wait_for("the request in the access log", lambda: log.count("/files/" + DISK_FILE) >= 1, 10, 0.05)
        check(log.count("/files/" + DISK_FILE) == 1, "the file was asked for %d times" %
              log.count("/files/" + DISK_FILE))
        for rel, data in old.items():
            check(orvane_game.read(layout.game, rel) == data, "%s changed" % rel)
        check(temporary_files(layout.game) == [], "temporary files: %r" % temporary_files(layout.game))
        orvane.close()
    finally:
        orvane.kill()
        shutil.copytree(layout.game, os.path.join(layout.base, "game-on-small-disk"), dirs_exist_ok=True)


# A file large enough to be under way when the session ends.
SESSION_FILE = "Data/zhCN/patch-zhCN-8.MPQ"
SESSION_BYTES = 24 * 1024 * 1024 + 3
SESSION_RATE = "4m"


def setup_session_end(layout, args):
    make_game(layout, args)
    write(layout.game, SESSION_FILE, b"MPQ\x1a the old patch 8")
    write(layout.client, SESSION_FILE, random.Random(8).randbytes(SESSION_BYTES))
    publish(layout)
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS, "limit_rate": SESSION_RATE}


def run_session_end(layout, orvane, screen, log, listener):
    """Windows logs off in the middle of a download (Wine's end-session
    request: WM_QUERYENDSESSION, then WM_ENDSESSION): Orvane lets the session
    end and stops, the old file as it was and the bytes so far kept; the next
    start asks only for the rest."""
    partial = os.path.join(layout.game, *SESSION_FILE.split("/")) + ".orvpart"
    old = orvane_game.read(layout.game, SESSION_FILE)
    orvane.start()
    orvane.wait_button("right", SUCCESS, 60)
    orvane.click("right")   # "更新游戏"
    wait_for("20 % of the download", lambda: os.path.exists(partial) and
             os.path.getsize(partial) >= SESSION_BYTES // 5, 60, 0.02)
    ended = subprocess.run([os.environ.get("ORVANE_WINE64", "wine64"), "wineboot", "--end-session"],
                           capture_output=True, timeout=60)
    print("e2e: wineboot --end-session exited with %d" % ended.returncode)
    check(orvane.wait_exit(10) == 0, "Orvane did not end with 0 after the session ended")
    # Wine ends the process after WM_ENDSESSION in any case: the log tells
    # that the run was stopped by the program itself, not cut off.
    check("[INFO] Update cancelled" in read_bytes(os.path.join(layout.game, "Orvane.log")).decode("utf-8"),
          "Orvane.log does not say the update was cancelled")
    kept = os.path.getsize(partial)
    print("e2e: the session ended with %d of %d bytes" % (kept, SESSION_BYTES))
    check(0 < kept < SESSION_BYTES, "the partial file holds %d bytes" % kept)
    check(orvane_game.read(layout.game, SESSION_FILE) == old, "the file being replaced changed")
    check(temporary_files(layout.game) == [], "temporary files: %r" % temporary_files(layout.game))

    orvane.start()
    orvane.wait_button("right", SUCCESS, 60)
    orvane.click("right")
    expect_update_complete(layout, orvane)
    transfers = file_transfers(layout.access_log, SESSION_FILE)
    check(len(transfers) == 2 and transfers[1] == (206, SESSION_BYTES - kept, "bytes=%d-" % kept),
          "requests for the file (status, bytes, range): %r, expected the rest from %d" % (transfers, kept))


# ---- killed at any instant -------------------------------------------------------
# Orvane killed hard (SIGKILL of its Wine process: no Windows code runs any
# more, as with the task manager's end task) at instants of the check, the
# downloads and the replacements, and started again after each kill.

KILL_LARGE = {   # new size, old size (None: a file the installed client lacks)
    "Data/zhCN/patch-zhCN-2.MPQ": (5 * 1024 * 1024 + 11, 3 * 1024 * 1024 + 5),
    "Data/zhCN/patch-zhCN-3.MPQ": (4 * 1024 * 1024 + 7, 2 * 1024 * 1024 + 1),
    "Data/Cinematics/intro.avi": (3 * 1024 * 1024 + 3, None),
}
KILL_READ_ONLY = "Data/zhCN/realmlist.wtf"
KILL_RATE = "6m"   # nginx's limit_rate: a large file takes about a second
# How many instants of each kind; which ones comes from the seed.
KILL_INSTANTS = {"check": 6, "download": 7, "replacement": 7}
LOG_LINE = re.compile(r"\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[(INFO|WARNING|ERROR)\] [^\r\n]*\r\n")


class KillClient:
    """An installed client (old) and its next version (new): a few large
    archives, many small files (changed, unchanged, new ones also in new
    folders, one empty), a file the installer made read-only, and files of
    the player's that no list names. Always the same bytes; only the instants
    differ between seeds."""

    def __init__(self):
        rnd = random.Random(7)

        def small():
            return rnd.randbytes(rnd.randint(1, 16 * 1024))

        self.old = {"wow.exe": b"MZ old game executable" + small(),
                    BASE_ARCHIVE: b"MPQ\x1a base", LOCALE_ARCHIVE: b"MPQ\x1a locale",
                    KILL_READ_ONLY: b"set realmlist old.kaimor.com\r\n"}
        self.new = {"wow.exe": b"MZ new game executable" + small(),
                    BASE_ARCHIVE: self.old[BASE_ARCHIVE], LOCALE_ARCHIVE: self.old[LOCALE_ARCHIVE],
                    KILL_READ_ONLY: b"set realmlist game.kaimor.com\r\n"}
        for rel, (new_size, old_size) in KILL_LARGE.items():
            self.new[rel] = rnd.randbytes(new_size)
            if old_size:
                self.old[rel] = rnd.randbytes(old_size)
        for i in range(90):
            rel = ["Interface/FrameXML/Frame%02d.lua", "Fonts/字体%02d.ttf", "Sound/Interface/ui%02d.wav"][i % 3] % i
            self.old[rel], self.new[rel] = small(), small()
        for i in range(30):
            rel = "Interface/GlueXML/Glue%02d.xml" % i
            self.old[rel] = self.new[rel] = small()
        for i in range(20):
            self.new["Interface/FrameXML/Added%02d.lua" % i] = small()
        for addon in ["KaimorUI", "凯莫助手", "Bags/Core", "Bags/Locales/zhCN", "Maps"]:
            for i in range(10):
                self.new["Interface/AddOns/%s/file%d.lua" % (addon, i)] = small()
        self.new["Interface/AddOns/KaimorUI/Empty.lua"] = b""
        self.unlisted = {"Screenshots/WoWScrnShot_010124_203000.jpg": small(), "WTF/Config.wtf": small()}

    @staticmethod
    def digest(data):
        return hashlib.sha256(data).digest()


def setup_killed_at_any_instant(layout, args):
    client = KillClient()
    orvane_game.make_game(layout.game, args.orvane, args.launcher, dict(client.old, **client.unlisted))
    os.chmod(os.path.join(layout.game, *KILL_READ_ONLY.split("/")), 0o444)   # Wine's read-only attribute
    for rel, data in client.new.items():
        write(layout.client, rel, data)
    publish(layout)
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS, "limit_rate": KILL_RATE}


class Instant:
    """Where a kill lands. kind "check": when the check opens the listed
    file at `index` (list order) or a later one. Otherwise at position
    (index, step) of the update, index in download order, step: 0 its
    partial file created, 0 < f < 1 that share of it written, 1 the partial
    closed (flushed, about to be moved in), 1.1 the target's attributes
    changed (the read-only one cleared), 1.2 the new file moved in; or at the
    first event past that position, since a kill lands a moment late."""

    STEPS = {0.0: "its partial file created", 1.0: "its partial flushed and closed",
             1.1: "its read-only attribute cleared or it moved in", 1.2: "moved in"}

    def __init__(self, kind, index, step, rel):
        self.kind, self.index, self.step, self.rel = kind, index, step, rel

    def reached_by(self, during_check, index, step):
        """Whether an event of the check (or else of the update) at (index, step) reaches it."""
        if during_check != (self.kind == "check"):
            return False
        return index >= self.index if during_check else (index, step) >= (self.index, self.step)

    def __str__(self):
        if self.kind == "check":
            return "check: hashing %s" % self.rel
        if self.step in self.STEPS:
            return "%s: %s, %s" % (self.kind, self.rel, self.STEPS[self.step])
        return "%s: %s, %d %% written" % (self.kind, self.rel, round(self.step * 100))


def kill_plan(seed, listed, existing, differing):
    """The instants for a seed, in the order the kills happen. listed: the
    list's paths in order; existing: those the installed client has;
    differing: the files to fetch, in download order."""
    rnd = random.Random(seed)
    large = [i for i, rel in enumerate(differing) if rel in KILL_LARGE]
    # Not the last files: a kill lands a moment late and must still find work.
    last = len(differing) - 3
    taken = set()

    def add(index, step, kind):
        if index > last or (index, step) in taken:
            return False
        taken.add((index, step))
        update.append(Instant(kind, index, step, differing[index]))
        return True

    update = [Instant("replacement", differing.index(KILL_READ_ONLY), 1.1, KILL_READ_ONLY)]
    taken.add((update[0].index, update[0].step))
    while sum(i.kind == "download" for i in update) < KILL_INSTANTS["download"]:
        if rnd.random() < 0.7:
            add(rnd.choice(large), round(rnd.uniform(0.05, 0.95), 2), "download")
        else:
            add(rnd.randrange(len(differing)), 0.0, "download")
    while sum(i.kind == "replacement" for i in update) < KILL_INSTANTS["replacement"]:
        index = rnd.choice(large) if rnd.random() < 0.3 else rnd.randrange(len(differing))
        add(index, rnd.choice([1.0, 1.2]), "replacement")
    plan = sorted(update, key=lambda i: (i.index, i.step))
    for _ in range(KILL_INSTANTS["check"]):
        rel = rnd.choice(existing)
        plan.insert(rnd.randint(0, len(plan)), Instant("check", listed.index(rel), 0, rel))
    return plan


class KillSwitch:
    """Kills the program (SIGKILL) from the file-event thread the moment an
    event reaches the armed instant."""

    def __init__(self, listed, differing, sizes):
        self.listed = {rel: i for i, rel in enumerate(listed)}
        self.differing = {rel: i for i, rel in enumerate(differing)}
        self.sizes = sizes
        self.lock = threading.Lock()
        self.instant = self.pid = self.fired = None
        self.game = None

    def arm(self, instant, pid):
        with self.lock:
            self.instant, self.pid, self.fired = instant, pid, None

    def disarm(self):
        with self.lock:
            self.instant = None

    def position(self, mask, rel):
        """(during the check, index, step) of an event, or None for one that marks no instant."""
        if rel.endswith(".orvpart") and rel[:-len(".orvpart")] in self.differing:
            target = rel[:-len(".orvpart")]
            index = self.differing[target]
            if mask & file_events.IN_CLOSE_WRITE:
                return False, index, 1.0
            if mask & file_events.IN_MODIFY:
                try:
                    size = os.path.getsize(os.path.join(self.game, *rel.split("/")))
                except OSError:
                    return None
                return False, index, min(size / max(self.sizes[target], 1), 0.999)
            if mask & file_events.IN_CREATE:
                return False, index, 0.0
            return None
        if rel in self.differing and mask & (file_events.IN_ATTRIB | file_events.IN_MOVED_TO):
            return False, self.differing[rel], 1.1 if mask & file_events.IN_ATTRIB else 1.2
        if rel in self.listed and mask & file_events.IN_OPEN:
            return True, self.listed[rel], 0
        return None

    def handle(self, mask, rel):
        position = self.position(mask, rel)
        if position is None:
            return
        with self.lock:
            if self.instant is None or self.pid is None:
                return
            if self.instant.reached_by(*position):
                os.kill(self.pid, 9)   # SIGKILL
                self.fired = "%s (%s)" % (rel, EVENT_NAMES.get(mask & ~file_events.IN_ISDIR, hex(mask)))
                self.instant = None


EVENT_NAMES = {file_events.IN_OPEN: "opened", file_events.IN_CREATE: "created",
               file_events.IN_MODIFY: "written", file_events.IN_CLOSE_WRITE: "closed after writing",
               file_events.IN_ATTRIB: "attributes changed", file_events.IN_MOVED_TO: "moved in"}


def orvane_processes(exe):
    """Processes still running the program at `exe`: Wine shows its Windows
    path (Z:\\...) as the command line; qemu-user, running the 32-bit loader,
    keeps the loader's arguments, the program's path among them."""
    path = os.path.abspath(exe).lower().encode()
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                arguments = f.read().lower().replace(b"\\", b"/").split(b"\0")
        except OSError:
            continue
        if any(a.endswith(path) for a in arguments):
            found.append(int(pid))
    return found


def log_problems(game):
    """Orvane.log and, from the second run on, the previous run's
    Orvane.log.1: UTF-8, whole lines of the logger's form (each line is
    written at once, so a kill cannot cut one)."""
    problems = []
    for name in ["Orvane.log", "Orvane.log.1"]:
        path = os.path.join(game, name)
        if not os.path.exists(path):
            if name == "Orvane.log":
                problems.append("%s is missing" % name)
            continue
        try:
            text = read_bytes(path).decode("utf-8")
        except UnicodeDecodeError:
            problems.append("%s is not UTF-8" % name)
            continue
        rest = LOG_LINE.sub("", text)
        if rest:
            problems.append("%s holds text that is no whole log line: %r" % (name, rest[:120]))
    return problems


def intact_problems(layout, client, own, differing, also=()):
    """After a kill: every listed file its old or new bytes (a file the old
    client lacked may be missing), the player's own files and the program's
    unchanged, setup.ini readable with the saved diagnosis, the logs whole,
    and nothing else in the game directory but partial and leftover files of
    the update."""
    problems = []
    for rel, data in client.new.items():
        try:
            now = KillClient.digest(orvane_game.read(layout.game, rel))
        except FileNotFoundError:
            now = None
        old = KillClient.digest(client.old[rel]) if rel in client.old else None
        if now not in (old, KillClient.digest(data)):
            problems.append("%s is %s" % (rel, "missing" if now is None else "neither its old nor its new version"))
    for rel, digest in own.items():
        try:
            same = KillClient.digest(orvane_game.read(layout.game, rel)) == digest
        except FileNotFoundError:
            same = False
        if not same:
            problems.append("%s changed or is missing" % rel)
    ini = read_setup_ini(layout.game)
    if ini is None:
        problems.append("setup.ini cannot be read")
    else:
        saved = configparser_pairs(setup_ini_text(layout.game, game_reachable=True))
        for section, key, value in saved:
            if ini.get(section, key, fallback=None) != value:
                problems.append("setup.ini %s/%s is %r, saved as %r" %
                                (section, key, ini.get(section, key, fallback=None), value))
    problems.extend(log_problems(layout.game))
    expected = set(client.new) | set(own) | {"setup.ini", "Orvane.log", "Orvane.log.1"} | set(also)
    for rel in orvane_game.files_below(layout.game):
        name = os.path.basename(rel).lower()
        if rel in expected or name.endswith(".orvold") or rel in temporary_files(layout.game):
            continue
        if rel.endswith(".orvpart") and rel[:-len(".orvpart")] in differing:
            continue
        problems.append("an unexpected file: %s" % rel)
    return problems


def configparser_pairs(text):
    """(section, key, value) of an ini text."""
    pairs, section = [], None
    for line in text.splitlines():
        if line.startswith("["):
            section = line.strip("[]")
        elif "=" in line:
            key, value = line.split("=", 1)
            pairs.append((section, key, value))
    return pairs


def run_killed_at_any_instant(layout, orvane, screen, log, listener):
    """The update of a client of about 200 files killed at 20 instants of the
    check, the downloads and the replacements, Orvane started again after
    each: every listed file always its old or its new version, the program's
    and the player's files intact; the last run completes the update and
    leaves no partial, moved-aside or temporary file."""
    client = KillClient()
    with open(os.path.join(layout.portal, "files", "filelist.json"), encoding="utf-8") as f:
        listed = [entry["path"] for entry in json.load(f)["files"]]
    check(sorted(listed) == sorted(client.new), "the published list is not the new client")
    existing = [rel for rel in listed if rel in client.old]
    differing = [rel for rel in listed if client.old.get(rel) != client.new[rel]]
    own = {rel: KillClient.digest(orvane_game.read(layout.game, rel))
           for rel in ["Orvane.exe", "config.ini", LAUNCHER_NAME] + list(client.unlisted)}
    seed = orvane.args.seed
    plan = kill_plan(seed, listed, existing, differing)
    print("e2e: seed %d (ORVANE_KILL_SEED=%d replays these instants); %d listed files, %d to fetch"
          % (seed, seed, len(listed), len(differing)))
    for n, instant in enumerate(plan, 1):
        print("e2e:   instant %2d  %s" % (n, instant))
    sys.stdout.flush()

    switch = KillSwitch(listed, differing, {rel: len(client.new[rel]) for rel in differing})
    switch.game = layout.game
    events = file_events.FileEvents(layout.game, switch.handle)
    try:
        for n, instant in enumerate(plan, 1):
            started = time.monotonic()
            if instant.kind == "check":
                # The check starts by itself: saved results are there.
                orvane.launch()
                switch.arm(instant, orvane.process.pid)
            else:
                orvane.start()
                # What tells afterwards that no copy outlived the kill.
                check(orvane_processes(orvane.exe), "the running program is not found among the processes")
                orvane.wait_button("right", SUCCESS, 60)
                switch.arm(instant, orvane.process.pid)
                orvane.click("right")   # "更新游戏"
            try:
                code = orvane.process.wait(90)
            except subprocess.TimeoutExpired:
                code = None
            switch.disarm()
            check(events.error is None, "the file events stopped: %r" % events.error)
            check(switch.fired is not None, "instant %d (%s) was never reached; Orvane %s" %
                  (n, instant, "is still running" if code is None else "exited with %r" % code))
            check(code == -9, "Orvane ended with %r, not by the kill" % code)
            check(orvane_processes(orvane.exe) == [], "Orvane still runs after the kill")
            new = sum(1 for rel in differing if os.path.exists(os.path.join(layout.game, *rel.split("/"))) and
                      orvane_game.read(layout.game, rel) == client.new[rel])
            print("e2e: kill %2d after %5.1f s at %s; %d of %d files new, partial: %s" % (
                n, time.monotonic() - started, switch.fired, new, len(differing), partial_files(layout.game)))
            sys.stdout.flush()
            problems = intact_problems(layout, client, own, differing)
            check(not problems, "after kill %d (%s): %s" % (n, instant, "; ".join(problems)))
        check(not events.overflowed, "file events were lost (the kernel's queue overflowed)")
    finally:
        events.close()

    orvane.start()
    orvane.wait_button("right", SUCCESS, 60)
    orvane.click("right")
    expect_update_complete(layout, orvane)
    problems = intact_problems(layout, client, own, differing, also=["launcher-started.txt", "launcher-starts.txt"])
    check(not problems, "after the last run: %s" % "; ".join(problems))


# ---- the player's proxy -------------------------------------------------------

PROXY_ADDRESS = "127.0.0.1:3128"
PROXY_SCRIPT = """function FindProxyForURL(url, host) {
  if (dnsDomainIs(host, "update.kaimor.com")) return "PROXY %s";
  return "DIRECT";
}
""" % PROXY_ADDRESS


def setup_player_proxy(layout, args):
    make_game(layout, args)
    for rel, data in UPDATE_FILES.items():
        write(layout.client, rel, data)
    publish(layout)
    # A network administrator's script, on a server the PC reaches directly.
    write(layout.portal, "proxy.pac", PROXY_SCRIPT.encode())
    # The portal's name leads nowhere: only the proxy knows the way.
    return {"hosts": PROBE_HOSTS + ["%s=%s" % (PORTAL_HOST, DEAD_ADDRESS)]}


class ForwardProxy:
    """tests/fixtures/forward_proxy.py on PROXY_ADDRESS, forwarding to nginx."""

    def __init__(self, log_path):
        self.log_path = log_path
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tests", "fixtures", "forward_proxy.py"), PROXY_ADDRESS,
             "127.0.0.1:80", log_path], stdin=subprocess.DEVNULL)
        host, port = PROXY_ADDRESS.split(":")
        wait_for("the proxy to listen", lambda: self._listening(host, int(port)), 10, 0.05)

    @staticmethod
    def _listening(host, port):
        try:
            socket.create_connection((host, port), timeout=1).close()
            return True
        except OSError:
            return False

    def targets(self):
        """The requests' targets, unescaped; Wine names port 80, Windows does not."""
        try:
            with open(self.log_path, "rb") as f:
                return [re.sub(r"^(http://[^/:]+):80/", r"\1/", urllib.parse.unquote(line.decode("utf-8")))
                        for line in f.read().splitlines()]
        except FileNotFoundError:
            return []

    def stop(self):
        self.process.kill()
        self.process.wait()


def run_player_proxy(layout, orvane, screen, log, listener):
    """The portal is reachable only through a proxy set in the user's Internet
    settings: first a static proxy, then a proxy script naming it. The check,
    the update and the next start's check all go through it."""
    try:
        socket.create_connection((DEAD_ADDRESS, 80), timeout=2).close()
        raise Failure("the portal's address answers directly")
    except OSError:
        pass
    proxy = ForwardProxy(os.path.join(layout.base, "proxy.log"))
    try:
        add_dotnet8()
        internet_settings.save(proxy=PROXY_ADDRESS, bypass="<local>")
        orvane.start()
        orvane.click("left")
        wait_saved(layout.game, 30)
        orvane.wait_button("right", SUCCESS, 30)
        screen.save("update-offered-through-the-proxy")
        base = "http://%s" % PORTAL_HOST
        check(proxy.targets() == [base + "/url.txt", base + "/files/filelist.json"],
              "the proxy forwarded %r" % proxy.targets())
        check(log.paths() == ["/url.txt", "/files/filelist.json"], "the portal got %r" % log.paths())

        orvane.click("right")
        expect_launcher_started(layout, 90)
        check(orvane.wait_exit(30) == 0, "Orvane did not exit with 0 after the update")
        for rel, data in UPDATE_FILES.items():
            check(read_bytes(os.path.join(layout.game, *rel.split("/"))) == data,
                  "%s differs from the portal's copy after the update" % rel)
        downloads = sorted(t for t in proxy.targets() if t.startswith(base + "/files/") and
                           not t.endswith("/filelist.json"))
        check(downloads == sorted(base + "/files/" + rel for rel in UPDATE_FILES),
              "downloads through the proxy: %r" % downloads)
        through_proxy = len(proxy.targets())
        check(len(log.paths()) == through_proxy, "the portal got requests the proxy did not forward: %r"
              % log.paths())

        # A proxy script instead: fetched directly, it sends the portal's
        # host through the proxy.
        internet_settings.save(script="http://127.0.0.1/proxy.pac")
        os.remove(os.path.join(layout.game, "launcher-started.txt"))
        orvane.start()
        wait_for("an update check without a click", lambda: log.count("/files/filelist.json") == 2, 30)
        orvane.wait_button("right", ACCENT, 30)   # up to date: "开始游戏"
        screen.save("checked-through-the-script's-proxy")
        check(proxy.targets()[through_proxy:] == [base + "/url.txt", base + "/files/filelist.json"],
              "the proxy forwarded %r" % proxy.targets()[through_proxy:])
        check("/proxy.pac" in log.paths(), "the proxy script was not fetched: %r" % log.paths())
        orvane.close()
    finally:
        proxy.stop()
        # The prefix is a throwaway copy; leave it as every other scenario finds it.
        internet_settings.save()
# The program on the portal: the program under test with a few bytes appended
# (a valid image with another digest), and two other changed files.
SELF_UPDATE_FILES = {
    "wow.exe": b"MZ game executable after the program's update",
    "Data/zhCN/patch-zhCN-9.MPQ": random.Random(9).randbytes(512 * 1024 + 9),
}
AFTER_UPDATE_LOG_LINE = "Started by an update of the program"


def setup_self_update(layout, args, corrupt=False):
    make_game(layout, args)
    new_program = read_bytes(args.orvane) + b"\0a later build of the program"
    write(layout.client, "Orvane.exe", new_program)
    for rel, data in SELF_UPDATE_FILES.items():
        write(layout.client, rel, data)
    publish(layout)
    if corrupt:
        # Damaged on the server after publishing: same length, one byte off.
        damaged = bytearray(new_program)
        damaged[len(damaged) // 2] ^= 0xFF
        write(os.path.join(layout.portal, "files"), "Orvane.exe", bytes(damaged))
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS}


def setup_self_update_corrupt(layout, args):
    return setup_self_update(layout, args, corrupt=True)


def moved_aside(game):
    return sorted(name for name in os.listdir(game) if name.lower().endswith(".orvold"))


def launcher_starts(game):
    try:
        return read_bytes(os.path.join(game, "launcher-starts.txt")).count(b"started\n")
    except FileNotFoundError:
        return 0


def run_self_update(layout, orvane, screen, log, listener):
    """"更新游戏" with a new program on the portal: the program replaces itself
    first and alone, starts the new one and exits with 0; the new one takes
    over, fetches the two other files by itself and starts the launcher once.
    Nothing moved aside is left, and setup.ini is as the first program found it."""
    saved = read_bytes(os.path.join(layout.game, "setup.ini"))
    old_program = read_bytes(os.path.join(layout.game, "Orvane.exe"))
    new_program = read_bytes(os.path.join(layout.client, "Orvane.exe"))
    orvane.start()
    orvane.wait_button("right", SUCCESS, 60)
    screen.save("update-offered")
    orvane.click("right")   # "更新游戏"
    check(orvane.wait_exit(60) == 0, "the old program did not exit with 0 after handing over")
    # The new one fetches two files and waits a second before the launch.
    check(orvane_processes(os.path.join(layout.game, "Orvane.exe")), "no new program runs after the hand-over")
    expect_launcher_started(layout, 90)
    wait_for("the new program to end", lambda: not orvane_processes(os.path.join(layout.game, "Orvane.exe")),
             30, 0.2)
    time.sleep(1)   # a second launch would come a second after the first
    check(launcher_starts(layout.game) == 1, "the launcher was started %d times" % launcher_starts(layout.game))

    check(read_bytes(os.path.join(layout.game, "Orvane.exe")) == new_program,
          "Orvane.exe differs from the portal's")
    check(new_program != old_program, "the portal's program is the old one")
    for rel, data in SELF_UPDATE_FILES.items():
        check(orvane_game.read(layout.game, rel) == data, "%s differs from the portal's copy" % rel)
    check(moved_aside(layout.game) == [], "moved-aside files left: %r" % moved_aside(layout.game))
    check(read_bytes(os.path.join(layout.game, "setup.ini")) == saved, "setup.ini changed")
    check(listener.count() == 0, "saved results were probed again")

    # The program first and alone, then the new program's check and the rest.
    paths = log.paths()
    check(paths.count("/files/Orvane.exe") == 1, "requests: %r" % paths)
    check(paths.count("/files/filelist.json") == 2, "lists fetched: %r" % paths)
    program_at = paths.index("/files/Orvane.exe")
    second_list_at = len(paths) - 1 - paths[::-1].index("/files/filelist.json")
    rest = sorted(p for p in paths if p.startswith("/files/") and p not in
                  ("/files/Orvane.exe", "/files/filelist.json"))
    check(rest == sorted("/files/" + r for r in SELF_UPDATE_FILES), "downloads: %r" % paths)
    check(all(paths.index(p) > second_list_at > program_at for p in rest),
          "the other files were not left to the new program: %r" % paths)
    lines = read_bytes(os.path.join(layout.game, "Orvane.log")).decode("utf-8", "replace").splitlines()
    check(sum(AFTER_UPDATE_LOG_LINE in line for line in lines) == 1,
          "Orvane.log does not tell of one start by the update")
    # The old program's log is kept beside it, for support.
    previous = read_bytes(os.path.join(layout.game, "Orvane.log.1")).decode("utf-8", "replace")
    check("handing over to the new one" in previous, "Orvane.log.1 is not the old program's log")

    # The next start finds everything up to date.
    orvane.start()
    orvane.wait_button("right", ACCENT, 60)   # "开始游戏"
    screen.save("next-start-up-to-date")
    check(moved_aside(layout.game) == [], "moved-aside files after the next start: %r" % moved_aside(layout.game))
    orvane.close()


def run_self_update_corrupt(layout, orvane, screen, log, listener):
    """A program on the portal that fails its digest fails the run like any
    file: "下载失败: Orvane.exe", the running program as it was and still
    running, nothing moved aside and no other file fetched."""
    old_program = read_bytes(os.path.join(layout.game, "Orvane.exe"))
    expect_update_failed(orvane, screen, "Orvane.exe", "program-failed-message")
    check(orvane.running(), "Orvane exited after the failed update")
    check(read_bytes(os.path.join(layout.game, "Orvane.exe")) == old_program, "the running program changed")
    check(moved_aside(layout.game) == [], "moved-aside files: %r" % moved_aside(layout.game))
    fetched = [p for p in log.paths() if p.startswith("/files/") and p != "/files/filelist.json"]
    check(set(fetched) == {"/files/Orvane.exe"}, "downloads: %r" % fetched)
    check(launcher_starts(layout.game) == 0, "the launcher was started")
    orvane.close()
MIRROR_ADDRESS = "127.0.0.4"      # a mirror the scenario serves itself, then stops
MIRROR_BASE = "http://mirror.kaimor.com/files/"
SECOND_MIRROR_BASE = "http://update.kaimor.com/mirror/"
MIRROR_FILES = {
    "wow.exe": b"MZ game executable from the mirrors " + bytes(range(256)) * 32,
    "Data/zhCN/patch-zhCN-5.MPQ": random.Random(25).randbytes(1024 * 1024 + 9),
    "Data/zhCN/补丁 说明.txt": "镜像更新\r\n".encode("utf-8"),
    "Interface/AddOns/Kaimor/Kaimor.toc": b"## Interface: 30300\n## Title: Mirrors\n",
}
WRONG_COPY = "Data/zhCN/patch-zhCN-5.MPQ"


class MirrorServer:
    """The portal folder served on MIRROR_ADDRESS:80 by a server of the
    scenario's own, so it can go away between the check and the update."""

    def __init__(self, root):
        import http.server
        owner = self
        self.paths = []

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=root, **kwargs)

            def do_GET(self):
                owner.paths.append(urllib.parse.unquote(self.path))
                super().do_GET()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer((MIRROR_ADDRESS, 80), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def write_relay(layout, *bases):
    write(layout.portal, "url.txt", "".join(base + "\r\n" for base in bases).encode("ascii"))


def orvane_log_lines(layout, text):
    log = read_bytes(os.path.join(layout.game, "Orvane.log")).decode("utf-8", "replace")
    return [line for line in log.splitlines() if text in line]


def setup_mirrors(layout, args):
    make_game(layout, args)
    for rel, data in MIRROR_FILES.items():
        write(layout.client, rel, data)
    publish(layout)
    write_relay(layout, MIRROR_BASE, PORTAL_BASE)
    write_setup_ini(layout.game, game_reachable=True)
    return {"hosts": PROBE_HOSTS + ["mirror.kaimor.com=" + MIRROR_ADDRESS]}


def run_mirrors(layout, orvane, screen, log, listener):
    """url.txt names two mirrors. The first gives the list, then refuses
    connections: one refused connection for the whole update, every file from
    the second. After a new release the first mirror serves a wrong copy of
    one file: that file alone comes from the second. Every file ends right,
    and Orvane.log names each mirror skipped and why."""
    mirror = MirrorServer(layout.portal)
    try:
        orvane.start()
        orvane.wait_button("right", SUCCESS, 60)
        screen.save("update-offered")
    finally:
        mirror.stop()   # from now on mirror.kaimor.com refuses connections
    check(mirror.paths == ["/files/filelist.json"], "the first mirror was asked %r" % mirror.paths)
    check(log.paths() == ["/url.txt"], "the relay's server was asked %r" % log.paths())
    orvane.click("right")   # "更新游戏"
    expect_update_complete(layout, orvane)
    check(sorted(log.paths()) == sorted(["/url.txt"] + ["/files/" + rel for rel in MIRROR_FILES]),
          "requests at the second mirror: %r" % log.paths())
    refused = orvane_log_lines(layout, "Mirror " + MIRROR_BASE + " cannot be reached")
    check(len(refused) == 1 and "12029" in refused[0], "Orvane.log on the dead mirror: %r" % refused)
    check(len(orvane_log_lines(layout, "Download failed: ")) == 1,
          "failed requests: %r" % orvane_log_lines(layout, "Download failed: "))

    # A new release; the first mirror's copy of one file is damaged.
    for rel in MIRROR_FILES:
        write(layout.client, rel, MIRROR_FILES[rel] + b" release 2")
    publish(layout)
    shutil.copytree(os.path.join(layout.portal, "files"), os.path.join(layout.portal, "mirror"))
    damaged = bytearray(orvane_game.read(os.path.join(layout.portal, "mirror"), WRONG_COPY))
    damaged[1000] ^= 0xFF
    write(os.path.join(layout.portal, "mirror"), WRONG_COPY, bytes(damaged))
    write_relay(layout, SECOND_MIRROR_BASE, PORTAL_BASE)
    os.remove(os.path.join(layout.game, "launcher-started.txt"))
    before = len(log.paths())
    orvane.start()
    orvane.wait_button("right", SUCCESS, 60)
    screen.save("second-release-offered")
    orvane.click("right")
    expect_update_complete(layout, orvane)
    paths = log.paths()[before:]
    expected = ["/url.txt", "/mirror/filelist.json", "/files/" + WRONG_COPY] + \
        ["/mirror/" + rel for rel in MIRROR_FILES]
    check(sorted(paths) == sorted(expected), "requests for the second release: %r" % paths)
    skipped = orvane_log_lines(layout, "Mirror " + SECOND_MIRROR_BASE + " skipped for " + WRONG_COPY)
    check(len(skipped) == 1 and "the content differs from the list" in skipped[0],
          "Orvane.log on the wrong copy: %r" % skipped)


SCENARIOS = {
    "fresh_start_update_launch": (setup_fresh_start, run_fresh_start),
    "blocked_without_dotnet": (setup_blocked_without_dotnet, run_blocked_without_dotnet),
    "blocked_game_host_down": (setup_blocked_game_host_down, run_blocked_game_host_down),
    "update_failure_check_again": (setup_update_failure, run_update_failure),
    "listed_folder": (setup_listed_folder, run_listed_folder),
    "second_start": (setup_second_start, run_second_start),
    "launch_errors": (setup_launch_errors, run_launch_errors),
    "signed_portal": (setup_signed_portal, run_signed_portal),
    "redetect_while_busy": (setup_redetect_while_busy, run_redetect_while_busy),
    "close_during_download": (setup_close_during_download, run_close_during_download),
    "copied_client": (setup_copied_client, run_copied_client),
    "drive_root": (setup_drive_root, run_drive_root),
    "dotnet_registered_by_value": (setup_dotnet_by_value, run_dotnet_by_value),
    "keyboard_and_screen_reader": (setup_keyboard_and_screen_reader, run_keyboard_and_screen_reader),
    "hostile_portal": (setup_hostile_portal, run_hostile_portal),
    "resume_after_kill": (setup_resume_after_kill, run_resume_after_kill),
    "small_disk": (setup_small_disk, run_small_disk),
    "session_end_mid_download": (setup_session_end, run_session_end),
    "killed_at_any_instant": (setup_killed_at_any_instant, run_killed_at_any_instant),
    "player_proxy": (setup_player_proxy, run_player_proxy),
    "self_update": (setup_self_update, run_self_update),
    "self_update_corrupt_program": (setup_self_update_corrupt, run_self_update_corrupt),
    "parallel_transfers": (setup_parallel_transfers, run_parallel_transfers),
    "mirrors": (setup_mirrors, run_mirrors),
}


# ---- driver -------------------------------------------------------------------

def can_run_win32():
    result = subprocess.run(["bash", "-c", "source scripts/wine-env.sh; echo $ORVANE_CAN_RUN_WIN32"],
                            cwd=ROOT, capture_output=True, text=True)
    return result.stdout.strip() == "1"


def outside(args):
    for exe in [args.orvane, args.launcher, args.probe]:
        if not os.path.isfile(exe):
            print("e2e: %s is not built" % exe)
            return 1
    if os.geteuid() != 0:
        print("e2e: skipped, the private network namespace needs root")
        return SKIP
    if pe_machine(args.orvane) == 0x14C and not can_run_win32():
        print("e2e: skipped, this machine cannot run 32-bit Windows programs "
              "(the x86_64 build runs these scenarios)")
        return SKIP
    for tool in ["nginx", "Xvfb", "xdotool", "import", "xdpyinfo", "unshare"]:
        if shutil.which(tool) is None:
            print("e2e: %s is missing (scripts/setup.sh installs it)" % tool)
            return 1
    subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh")], check=True,
                   stdout=subprocess.DEVNULL)

    layout = Layout(os.path.join(os.path.abspath(args.artifacts), args.scenario))
    shutil.rmtree(layout.base, ignore_errors=True)
    os.makedirs(layout.base)
    setup, _ = SCENARIOS[args.scenario]
    network = setup(layout, args)
    network.setdefault("www", layout.portal)
    command = [sys.executable, os.path.abspath(__file__), args.scenario, "--inside",
               "--orvane", args.orvane, "--launcher", args.launcher, "--probe", args.probe,
               "--artifacts", args.artifacts, "--seed", str(args.seed)] + (["--key", args.key] if args.key else [])
    status = in_private_network(command, access_log=layout.access_log, **network)
    print("e2e: artifacts (screenshots, access log, Orvane.log) in %s" % layout.base)
    return status


def inside(args):
    layout = Layout(os.path.join(os.path.abspath(args.artifacts), args.scenario))
    screen = Screenshots(layout.shots)
    orvane = Orvane(args, layout)
    listener = ProbeHostListener()
    _, body = SCENARIOS[args.scenario]
    try:
        body(layout, orvane, screen, AccessLog(layout.access_log), listener)
    except Failure as e:
        print("e2e: FAILED %s: %s" % (args.scenario, e))
        try:
            print("e2e: last screen: %s" % screen.save("failure"))
        except subprocess.CalledProcessError:
            pass
        return 1
    except Exception:
        traceback.print_exc()
        return 1
    finally:
        orvane.kill()
    print("e2e: passed %s" % args.scenario)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--orvane", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--key", help="private key the portal is signed with (signed_portal)")
    parser.add_argument("--seed", default="random",
                        help="the kill instants' seed (killed_at_any_instant): a number or 'random'; "
                             "ORVANE_KILL_SEED overrides it, to replay a run through ctest")
    args = parser.parse_args()
    # Drawn once, outside the namespace; the inside run is given the number.
    seed = args.seed if args.inside else os.environ.get("ORVANE_KILL_SEED") or args.seed
    try:
        args.seed = random.randrange(1 << 31) if seed == "random" else int(seed)
    except ValueError:
        parser.error("--seed and ORVANE_KILL_SEED take a number or 'random', not %r" % seed)
    if args.scenario == "signed_portal" and not args.key:
        parser.error("signed_portal needs --key")
    return inside(args) if args.inside else outside(args)


if __name__ == "__main__":
    sys.exit(main())
