#!/usr/bin/env python3
"""Sets the current user's Internet settings in the Wine prefix ($WINEPREFIX)
as Internet Options saves them ("LAN settings"): the values of
HKCU\\...\\Internet Settings (ProxyEnable, ProxyServer, ProxyOverride,
AutoConfigURL) and the binary DefaultConnectionSettings of its Connections
key, which is what WinHTTP reads.

  internet_settings.py direct
  internet_settings.py proxy HOST:PORT [BYPASS]
  internet_settings.py script URL

"direct" is a PC without a proxy and without "Automatically detect
settings": the test prefix is kept so, since detection would look for a
proxy script on the network.
"""

import os
import struct
import subprocess
import sys

SETTINGS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
CONNECTIONS_KEY = SETTINGS_KEY + r"\Connections"

# The flags of the dialog's check boxes.
DIRECT, USE_PROXY, USE_SCRIPT, AUTO_DETECT = 0x1, 0x2, 0x4, 0x8


def connection_settings(proxy="", bypass="", script="", auto_detect=False, changes=1):
    """DefaultConnectionSettings: version 0x46, a change counter, the flags,
    then the proxy, the bypass list and the script's URL, each with its
    length, and what detection last found."""
    flags = DIRECT | (USE_PROXY if proxy else 0) | (USE_SCRIPT if script else 0) | \
        (AUTO_DETECT if auto_detect else 0)
    blob = struct.pack("<III", 0x46, changes, flags)
    for text in (proxy, bypass, script):
        data = text.encode("ascii")
        blob += struct.pack("<I", len(data)) + data
    return blob + bytes(32)


def reg(*arguments):
    wine = os.environ.get("ORVANE_WINE64", "wine64")
    result = subprocess.run([wine, "reg"] + list(arguments), stdin=subprocess.DEVNULL,
                            capture_output=True)
    if result.returncode != 0:
        raise RuntimeError("reg %s failed: %r" % (" ".join(arguments), result.stderr))


def save(proxy="", bypass="", script="", auto_detect=False):
    """Writes the settings into the prefix; its wineserver must be reachable."""
    blob = connection_settings(proxy, bypass, script, auto_detect).hex()
    for name in ("DefaultConnectionSettings", "SavedLegacySettings"):
        reg("add", CONNECTIONS_KEY, "/v", name, "/t", "REG_BINARY", "/d", blob, "/f")
    reg("add", SETTINGS_KEY, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1" if proxy else "0", "/f")
    reg("add", SETTINGS_KEY, "/v", "ProxyServer", "/d", proxy, "/f")
    reg("add", SETTINGS_KEY, "/v", "ProxyOverride", "/d", bypass, "/f")
    if script:
        reg("add", SETTINGS_KEY, "/v", "AutoConfigURL", "/d", script, "/f")
    else:
        try:
            reg("delete", SETTINGS_KEY, "/v", "AutoConfigURL", "/f")
        except RuntimeError:
            pass  # not there


def main(argv):
    if len(argv) == 2 and argv[1] == "direct":
        save()
    elif len(argv) in (3, 4) and argv[1] == "proxy":
        save(proxy=argv[2], bypass=argv[3] if len(argv) == 4 else "")
    elif len(argv) == 3 and argv[1] == "script":
        save(script=argv[2])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
