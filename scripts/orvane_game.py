"""The world around Orvane.exe for the demo (scripts/demo.py) and the
end-to-end tests (tests/e2e/e2e.py): a game client directory, a portal
published by scripts/portal.py, the private network it is served in
(scripts/netns-portal.sh), and what the program leaves behind (setup.ini).

  make_game(game, orvane, launcher, files)   a client directory to start in
  publish(client, portal, base_url, key)     scripts/portal.py publish
  in_private_network(command, ...)           runs command in netns-portal.sh
  add_dotnet8()                              .NET 8 registered in the private prefix
  read_setup_ini(game), setup_saved(game)    the saved diagnosis
  differing_files(client, game)              published files the game lacks
"""

import configparser
import os
import shutil
import subprocess
import sys

from orvane_window import Failure

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LAUNCHER_NAME = "Kaimor登录器.exe"
PORTAL_URL = "http://update.kaimor.com/"
BASE_ARCHIVE = "Data/zhCN/base-zhCN.MPQ"
LOCALE_ARCHIVE = "Data/zhCN/lichking-locale-zhCN.MPQ"


def write(root, rel, data):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(root, rel):
    with open(os.path.join(root, *rel.split("/")), "rb") as f:
        return f.read()


def windows_path(path):
    """How a Wine program sees a Unix path (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_game(game, orvane, launcher, files):
    """A client directory: the given files (wow.exe, the archives...), Orvane.exe,
    the launcher (when given) and a config.ini pointing at the portal, in ANSI
    as an operator would ship it."""
    for rel, data in files.items():
        write(game, rel, data)
    shutil.copy(orvane, os.path.join(game, "Orvane.exe"))
    if launcher:
        shutil.copy(launcher, os.path.join(game, LAUNCHER_NAME))
    write(game, "config.ini", b"[Server]\r\nPortalUrl=" + PORTAL_URL.encode() + b"\r\n")


def publish(client, portal, base_url, key=None, extra=()):
    """Publishes client into portal with scripts/portal.py (with the extra
    options given); returns what it said."""
    sign = ["--sign", key] if key else []
    result = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "portal.py"), "publish",
                             client, portal, "--base-url", base_url] + sign + list(extra),
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise Failure("portal.py publish failed: " + result.stderr)
    return result.stdout.strip()


def in_private_network(command, www=None, access_log=None, hosts=(), xvfb=True, tls=(), trust_ca=None,
                       limit_rate=None):
    """Runs command inside scripts/netns-portal.sh with a private Wine server
    (and a private Xvfb display unless xvfb is false), nginx serving www when
    given (at most limit_rate per response, e.g. "8m"; also over TLS for each
    PORT:CERT:KEY in tls); hosts are NAME=ADDRESS mappings; trust_ca is a PEM
    certificate added to the CA store Wine trusts. Returns the exit code (77:
    no namespace here)."""
    options = ["--wine"] + (["--xvfb"] if xvfb else [])
    for server in tls:
        options += ["--tls", server]
    if trust_ca:
        options += ["--trust-ca", trust_ca]
    if www:
        options += ["--www", www]
    if limit_rate:
        options += ["--limit-rate", limit_rate]
    if access_log:
        options += ["--access-log", access_log]
    for host in hosts:
        options += ["--host", host]
    return subprocess.run(["bash", os.path.join(ROOT, "scripts", "netns-portal.sh")] + options +
                          ["--"] + command).returncode


DOTNET_RUNTIMES_KEY = r"HKLM\SOFTWARE\dotnet\Setup\InstalledVersions\x64\sharedfx\Microsoft.NETCore.App"


def add_dotnet8(runtime_folder=True):
    """.NET 8 in the private copy of the Wine prefix, as its installer leaves
    it: a DWORD value named after the version under the runtime's key in the
    32-bit registry view and, unless installed elsewhere (runtime_folder
    false), the runtime folder below C:\\Program Files\\dotnet. Without any
    .NET the diagnosis stops at its row. Needs the prefix's wineserver."""
    if runtime_folder:
        os.makedirs(os.path.join(os.environ["WINEPREFIX"], "drive_c", "Program Files", "dotnet", "shared",
                                 "Microsoft.NETCore.App", "8.0.11"), exist_ok=True)
    # Once seen under load: Wine's first start in a fresh private prefix ended
    # with a failure and said nothing; the same command then succeeds.
    for attempt in range(3):
        result = subprocess.run([os.environ.get("ORVANE_WINE64", "wine64"), "reg", "add", DOTNET_RUNTIMES_KEY,
                                 "/v", "8.0.11", "/t", "REG_DWORD", "/d", "1", "/reg:32", "/f"],
                                stdin=subprocess.DEVNULL, capture_output=True)
        if result.returncode == 0:
            return
        print("e2e: reg add of the .NET 8 runtime ended with %d (attempt %d): %r %r"
              % (result.returncode, attempt + 1, result.stdout, result.stderr))
    raise Failure("reg add of the .NET 8 runtime failed: %r" % result.stderr)


def read_setup_ini(game):
    """setup.ini (UTF-16 with a BOM, or ANSI) as a ConfigParser; None while it
    does not exist or cannot be read yet."""
    path = os.path.join(game, "setup.ini")
    if not os.path.exists(path):
        return None
    data = read(game, "setup.ini")
    text = data[2:].decode("utf-16-le", "replace") if data.startswith(b"\xff\xfe") else data.decode("latin-1")
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    try:
        parser.read_string(text)
    except configparser.Error:
        return None
    return parser


def setup_saved(game):
    """A complete setup.ini: SetupComplete is the last key written."""
    ini = read_setup_ini(game)
    return ini is not None and ini.get("Launcher", "SetupComplete", fallback=None) is not None


def files_below(folder):
    """Every file below folder, as sorted relative paths with "/"."""
    return sorted(os.path.relpath(os.path.join(current, name), folder).replace(os.sep, "/")
                  for current, _, names in os.walk(folder) for name in names)


def differing_files(client, game):
    """The files of client whose copy in game is missing or different."""
    differing = []
    for rel in files_below(client):
        try:
            same = read(game, rel) == read(client, rel)
        except FileNotFoundError:
            same = False
        if not same:
            differing.append(rel)
    return differing
