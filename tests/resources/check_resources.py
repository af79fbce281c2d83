#!/usr/bin/env python3
"""Reads the resources of a built Orvane.exe and checks them.

wrestool (icoutils) lists and extracts the raw resources; this script parses the
manifest XML, the icon group and its images, and the version block itself, so
every check looks at the bytes Windows will read.

Usage: check_resources.py PATH/TO/Orvane.exe
Prints every problem found and exits 1 if there was any, 0 otherwise.
"""

import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

RT_ICON = 3
RT_VERSION = 16
RT_GROUP_ICON = 14
RT_MANIFEST = 24
LANG_EN_US = 1033

ICON_GROUP_ID = 101
ICON_SIZES = {16, 32, 48, 64}
ACCENT = (66, 133, 244)

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
# Windows reads trustInfo in either of these namespaces.
TRUST_NAMESPACES = {"urn:schemas-microsoft-com:asm.v2", ASM_V3}
WINDOWS_SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
WINDOWS_SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
# Windows takes the first value of the list it knows: per-monitor v2 from
# Windows 10 1703, per-monitor on 1607.
DPI_AWARENESS = ["PerMonitorV2", "PerMonitor"]
COMPATIBILITY_V1 = "urn:schemas-microsoft-com:compatibility.v1"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}

VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 1
VERSION_1_0_1_0 = (0x00010000, 0x00010000)  # (MS, LS) words of 1.0.1.0
STRING_TABLE_KEY = "040904b0"
REQUIRED_STRINGS = {
    "FileDescription": "Orvane",
    "InternalName": "Orvane",
    "ProductName": "Orvane",
    "OriginalFilename": "Orvane.exe",
    "FileVersion": "1.0.1.0",
    "ProductVersion": "1.0.1.0",
}
CHOSEN_STRINGS = ("CompanyName", "LegalCopyright")  # any non-empty text
TRANSLATION = [(0x0409, 1200)]


# ---------------------------------------------------------------- extraction

def _id(text):
    return int(text) if text.isdigit() else text


def list_resources(exe):
    """(type, name, language) of every resource, as wrestool reports them."""
    out = subprocess.run(["wrestool", "-l", exe], check=True, capture_output=True, text=True).stdout
    entries = []
    for line in out.splitlines():
        m = re.match(r"--type=(\S+) --name=(\S+) --language=(\S+)", line)
        if m:
            entries.append(tuple(_id(g.strip("'")) for g in m.groups()))
    return entries


def extract(exe, rtype, name, lang):
    return subprocess.run(
        ["wrestool", "-x", "--raw", f"--type={rtype}", f"--name={name}", f"--language={lang}", exe],
        check=True, capture_output=True).stdout


def read_resources(exe):
    """Every resource's bytes, keyed by (type, name, language)."""
    return {key: extract(exe, *key) for key in list_resources(exe)}


# ---------------------------------------------------------------- manifest

def check_manifest(data):
    problems = []
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as e:
        return [f"manifest: not UTF-8 ({e})"]
    decl = re.match(rb"<\?xml[^>]*encoding=[\"']([^\"']+)[\"']", data)
    if not decl or decl.group(1).lower() != b"utf-8":
        problems.append("manifest: XML declaration does not say encoding UTF-8")
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        return problems + [f"manifest: not well-formed XML ({e})"]

    if root.tag != f"{{{ASM_V1}}}assembly":
        problems.append(f"manifest: root element is {root.tag}, not asm.v1 assembly")
    if root.get("manifestVersion") != "1.0":
        problems.append("manifest: manifestVersion is not 1.0")

    identity = root.find(f"{{{ASM_V1}}}assemblyIdentity")
    expected_identity = {"name": "Orvane", "version": "1.0.0.0", "processorArchitecture": "*",
                         "type": "win32"}
    if identity is None:
        problems.append("manifest: no assemblyIdentity")
    else:
        for attr, value in expected_identity.items():
            if identity.get(attr) != value:
                problems.append(f"manifest: assemblyIdentity {attr}={identity.get(attr)!r}, want {value!r}")

    description = root.find(f"{{{ASM_V1}}}description")
    text = (description.text or "").strip() if description is not None else ""
    if not text or "\n" in text:
        problems.append("manifest: description must be one non-empty line")

    deps = [a for a in root.findall(
        f"{{{ASM_V1}}}dependency/{{{ASM_V1}}}dependentAssembly/{{{ASM_V1}}}assemblyIdentity")
        if a.get("name") == "Microsoft.Windows.Common-Controls"]
    expected_dep = {"type": "win32", "version": "6.0.0.0", "processorArchitecture": "*",
                    "publicKeyToken": "6595b64144ccf1df", "language": "*"}
    if len(deps) != 1:
        problems.append(f"manifest: {len(deps)} Common-Controls dependencies, want 1")
    else:
        for attr, value in expected_dep.items():
            if deps[0].get(attr) != value:
                problems.append(f"manifest: Common-Controls {attr}={deps[0].get(attr)!r}, want {value!r}")

    levels = [(ns, el) for ns in TRUST_NAMESPACES for el in root.findall(
        f"{{{ns}}}trustInfo/{{{ns}}}security/{{{ns}}}requestedPrivileges/{{{ns}}}requestedExecutionLevel")]
    stray_levels = [el for el in root.iter() if el.tag.endswith("}requestedExecutionLevel")]
    if len(levels) != 1 or len(stray_levels) != 1:
        problems.append("manifest: want exactly one requestedExecutionLevel under trustInfo/security/"
                        "requestedPrivileges")
    else:
        el = levels[0][1]
        if el.get("level") != "asInvoker":
            problems.append(f"manifest: execution level {el.get('level')!r}, want 'asInvoker'")
        if el.get("uiAccess") != "false":
            problems.append(f"manifest: uiAccess {el.get('uiAccess')!r}, want 'false'")

    dpi = root.findall(f"{{{ASM_V3}}}application/{{{ASM_V3}}}windowsSettings/{{{WINDOWS_SETTINGS_2005}}}dpiAware")
    all_dpi = [el for el in root.iter() if el.tag.endswith("}dpiAware") or el.tag == "dpiAware"]
    if len(dpi) != 1 or len(all_dpi) != 1:
        problems.append("manifest: want exactly one dpiAware, in the 2005 WindowsSettings namespace "
                        "under application/windowsSettings")
    elif (dpi[0].text or "").strip() != "true/pm":
        problems.append(f"manifest: dpiAware {(dpi[0].text or '').strip()!r}, want 'true/pm'")

    awareness = root.findall(f"{{{ASM_V3}}}application/{{{ASM_V3}}}windowsSettings/"
                             f"{{{WINDOWS_SETTINGS_2016}}}dpiAwareness")
    all_awareness = [el for el in root.iter() if el.tag.endswith("}dpiAwareness") or el.tag == "dpiAwareness"]
    if len(awareness) != 1 or len(all_awareness) != 1:
        problems.append("manifest: want exactly one dpiAwareness, in the 2016 WindowsSettings namespace "
                        "under application/windowsSettings")
    else:
        values = [v.strip() for v in (awareness[0].text or "").split(",")]
        if values != DPI_AWARENESS:
            problems.append(f"manifest: dpiAwareness {values}, want {DPI_AWARENESS}")

    ids = [(el.get("Id") or "").lower() for el in root.findall(
        f"{{{COMPATIBILITY_V1}}}compatibility/{{{COMPATIBILITY_V1}}}application/{{{COMPATIBILITY_V1}}}supportedOS")]
    if sorted(ids) != sorted(SUPPORTED_OS):
        problems.append(f"manifest: supportedOS ids {sorted(ids)}, want exactly {sorted(SUPPORTED_OS)}")
    return problems


# ---------------------------------------------------------------- icon

def parse_icon_group(data):
    """GRPICONDIR: returns (reserved, type, entries); each entry a dict."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    entries = []
    for i in range(count):
        w, h, colors, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        entries.append({"width": w or 256, "height": h or 256, "colors": colors, "planes": planes,
                        "bits": bits, "bytes": size, "id": ident})
    if len(data) != 6 + 14 * count:
        raise ValueError(f"icon group is {len(data)} bytes, {6 + 14 * count} expected for {count} entries")
    return reserved, kind, entries


def check_icon_image(label, size, data):
    """A 32-bit BMP icon image of size x size with a real alpha channel."""
    problems = []
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return [f"{label}: PNG-compressed; BMP images are expected at {size} px"]
    hdr_size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 0)
    if hdr_size != 40 or width != size or height != 2 * size or planes != 1 or bits != 32 or compression != 0:
        return [f"{label}: header {width}x{height} {bits} bpp (compression {compression}, header {hdr_size}), "
                f"want {size}x{2 * size} 32 bpp uncompressed"]
    pixels = size * size
    mask_stride = ((size + 31) // 32) * 4
    if len(data) != 40 + 4 * pixels + mask_stride * size:
        return [f"{label}: {len(data)} bytes, want {40 + 4 * pixels + mask_stride * size}"]
    colour = data[40:40 + 4 * pixels]
    mask = data[40 + 4 * pixels:]
    alphas = colour[3::4]
    if max(alphas) != 255 or min(alphas) != 0:
        problems.append(f"{label}: alpha channel spans {min(alphas)}..{max(alphas)}; want opaque "
                        "mark and transparent background")
    counts = {}
    for i in range(pixels):
        b, g, r, a = colour[4 * i:4 * i + 4]
        if a == 255:
            counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
        # The AND mask marks exactly the fully transparent pixels (for renderers without alpha).
        row, x = divmod(i, size)
        bit = (mask[row * mask_stride + x // 8] >> (7 - x % 8)) & 1
        if bit != (a == 0):
            problems.append(f"{label}: AND mask disagrees with alpha at pixel ({x}, {row} from the bottom)")
            break
    if counts and max(counts, key=counts.get) != ACCENT:
        problems.append(f"{label}: main opaque colour is {max(counts, key=counts.get)}, want accent {ACCENT}")
    return problems


def check_icons(resources):
    problems = []
    groups = [k for k in resources if k[0] == RT_GROUP_ICON]
    if groups != [(RT_GROUP_ICON, ICON_GROUP_ID, LANG_EN_US)]:
        return [f"icon: groups {groups}, want exactly group {ICON_GROUP_ID} in language {LANG_EN_US}"]
    try:
        reserved, kind, entries = parse_icon_group(resources[groups[0]])
    except (struct.error, ValueError) as e:
        return [f"icon: unreadable group ({e})"]
    if reserved != 0 or kind != 1:
        problems.append(f"icon: group header reserved={reserved} type={kind}, want 0 and 1")
    sizes = sorted(e["width"] for e in entries)
    if sizes != sorted(ICON_SIZES) or any(e["width"] != e["height"] for e in entries):
        problems.append(f"icon: sizes {[(e['width'], e['height']) for e in entries]}, want 16, 32, 48 and 64 square")
    if sorted(e["id"] for e in entries) != [1, 2, 3, 4]:
        problems.append(f"icon: image ids {[e['id'] for e in entries]}, want 1 to 4")
    for e in entries:
        label = f"icon {e['width']}x{e['height']} (id {e['id']})"
        if e["bits"] != 32 or e["planes"] != 1 or e["colors"] != 0:
            problems.append(f"{label}: group entry says {e['bits']} bpp, {e['planes']} planes, "
                            f"{e['colors']} colours; want 32, 1, 0")
        key = (RT_ICON, e["id"], LANG_EN_US)
        if key not in resources:
            problems.append(f"{label}: no icon resource {e['id']} in language {LANG_EN_US}")
            continue
        image = resources[key]
        if len(image) != e["bytes"]:
            problems.append(f"{label}: group says {e['bytes']} bytes, resource has {len(image)}")
        problems += check_icon_image(label, e["width"], image)
    return problems


# ---------------------------------------------------------------- version block

def parse_version_node(data, offset=0):
    """One VS_VERSIONINFO-style node: (key, type, value bytes, children), end offset."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    if length < 6 or end > len(data):
        raise ValueError(f"node at {offset} has length {length}")
    pos = offset + 6
    key_end = pos
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            raise ValueError(f"node at {offset}: unterminated key")
    key = data[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    # Text values count UTF-16 characters, binary values bytes.
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[pos:min(pos + value_bytes, end)]
    pos = (pos + value_bytes + 3) & ~3
    children = []
    while pos < end:
        child, pos = parse_version_node(data, pos)
        children.append(child)
        pos = (pos + 3) & ~3
    return (key, kind, value, children), end


def serialize_version_node(node):
    """Inverse of parse_version_node (used to build faulty variants in the checker's own tests)."""
    key, kind, value, children = node
    out = bytearray(6) + (key + "\0").encode("utf-16-le")
    out += bytes(-len(out) % 4)
    out += value
    for child in children:
        out += bytes(-len(out) % 4)
        out += serialize_version_node(child)
    value_length = len(value) // 2 if kind == 1 else len(value)
    struct.pack_into("<HHH", out, 0, len(out), value_length, kind)
    return bytes(out)


def _text(value):
    return value.decode("utf-16-le").split("\0", 1)[0]


def check_version(data):
    problems = []
    try:
        (key, _, fixed, children), _ = parse_version_node(data)
    except (struct.error, ValueError, UnicodeDecodeError) as e:
        return [f"version: unreadable block ({e})"]
    if key != "VS_VERSION_INFO" or len(fixed) != 52:
        return [f"version: root {key!r} with {len(fixed)}-byte fixed part, want VS_VERSION_INFO and 52"]
    (signature, _, file_ms, file_ls, prod_ms, prod_ls, _, _, file_os, file_type, _, _, _) = \
        struct.unpack("<13I", fixed)
    if signature != VS_FIXEDFILEINFO_SIGNATURE:
        problems.append(f"version: fixed part signature {signature:#x}")
    for what, ms, ls in (("file", file_ms, file_ls), ("product", prod_ms, prod_ls)):
        if (ms, ls) != VERSION_1_0_1_0:
            problems.append(f"version: fixed {what} version {ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}, "
                            "want 1.0.1.0")
    if file_os != VOS_NT_WINDOWS32:
        problems.append(f"version: file OS {file_os:#x}, want VOS_NT_WINDOWS32 {VOS_NT_WINDOWS32:#x}")
    if file_type != VFT_APP:
        problems.append(f"version: file type {file_type}, want VFT_APP")

    by_key = {}
    for child in children:
        by_key.setdefault(child[0], []).append(child)
    string_infos = by_key.get("StringFileInfo", [])
    tables = [t for s in string_infos for t in s[3]]
    if len(tables) != 1 or tables[0][0].lower() != STRING_TABLE_KEY:
        problems.append(f"version: string tables {[t[0] for t in tables]}, want exactly 040904B0")
    else:
        strings = {s[0]: _text(s[2]) for s in tables[0][3]}
        for name, want in REQUIRED_STRINGS.items():
            if strings.get(name) != want:
                problems.append(f"version: {name} {strings.get(name)!r}, want {want!r}")
        for name in CHOSEN_STRINGS:
            if not strings.get(name, "").strip():
                problems.append(f"version: {name} missing or empty")

    translations = [v for info in by_key.get("VarFileInfo", []) for v in info[3] if v[0] == "Translation"]
    if len(translations) != 1:
        problems.append(f"version: {len(translations)} Translation values, want 1")
    else:
        raw = translations[0][2]
        pairs = [struct.unpack_from("<HH", raw, i) for i in range(0, len(raw) - len(raw) % 4, 4)]
        if pairs != TRANSLATION:
            problems.append(f"version: translation {[(f'{a:04x}', f'{b:04x}') for a, b in pairs]}, "
                            "want 0409/04b0")
    return problems


# ---------------------------------------------------------------- all together

def check_all(resources):
    problems = []
    manifests = [k for k in resources if k[0] == RT_MANIFEST]
    if [k[1] for k in manifests] != [1]:
        problems.append(f"manifest: resources {manifests}, want exactly one with id 1")
    else:
        problems += check_manifest(resources[manifests[0]])
    problems += check_icons(resources)
    versions = [k for k in resources if k[0] == RT_VERSION]
    if [k[1] for k in versions] != [1]:
        problems.append(f"version: resources {versions}, want exactly one with id 1")
    else:
        problems += check_version(resources[versions[0]])
    return problems


def main(argv):
    if len(argv) != 2:
        print("usage: check_resources.py PATH/TO/Orvane.exe", file=sys.stderr)
        return 2
    resources = read_resources(argv[1])
    problems = check_all(resources)
    for p in problems:
        print("FAIL", p)
    if not problems:
        print(f"resources of {argv[1]}: manifest, icon {ICON_GROUP_ID} "
              f"({', '.join(map(str, sorted(ICON_SIZES)))} px, 32 bpp) and version 1.0.1.0 as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
