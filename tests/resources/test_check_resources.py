#!/usr/bin/env python3
"""Shows that the resource checker catches real faults.

Takes the resources of a built Orvane.exe, breaks one thing at a time (a
missing dependency, a wrong version string, an icon without one size, ...) and
expects the checker to report exactly that. Also checks that the committed icon
is what scripts/make-icon.py draws today.

Usage: test_check_resources.py PATH/TO/Orvane.exe
"""

import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import check_resources as cr  # noqa: E402

EXE = None
MANIFEST = (cr.RT_MANIFEST, 1, cr.LANG_EN_US)
GROUP = (cr.RT_GROUP_ICON, cr.ICON_GROUP_ID, cr.LANG_EN_US)
VERSION = (cr.RT_VERSION, 1, cr.LANG_EN_US)


# --- manifest faults: text substitutions on the real manifest

def sub(pattern, replacement):
    def mutate(text):
        changed, n = re.subn(pattern, replacement, text, flags=re.S)
        assert n > 0, f"pattern {pattern!r} not in the manifest"
        return changed
    return mutate


MANIFEST_FAULTS = [
    ("no Common-Controls dependency", sub(r"<dependency>.*?</dependency>", ""), "Common-Controls dependencies"),
    ("wrong public key token", sub(r"6595b64144ccf1df", "6595b64144ccf1d0"), "publicKeyToken"),
    ("Common-Controls version 5", sub(r'version="6\.0\.0\.0"', 'version="5.82.0.0"'), "Common-Controls version"),
    ("identity version 1.0.1.0", sub(r'name="Orvane" version="1\.0\.0\.0"', 'name="Orvane" version="1.0.1.0"'),
     "assemblyIdentity version"),
    ("identity for x86 only", sub(r'processorArchitecture="\*" type="win32"/>',
                                  'processorArchitecture="x86" type="win32"/>'),
     "assemblyIdentity processorArchitecture"),
    ("asks for elevation", sub(r"asInvoker", "requireAdministrator"), "execution level"),
    ("uiAccess true", sub(r'uiAccess="false"', 'uiAccess="true"'), "uiAccess"),
    ("no execution level", sub(r"<trustInfo.*?</trustInfo>", ""), "requestedExecutionLevel"),
    ("dpiAware system-wide only", sub(r">true/pm<", ">true<"), "dpiAware 'true'"),
    ("dpiAware in the 2016 namespace", sub(r"SMI/2005/WindowsSettings", "SMI/2016/WindowsSettings"),
     "exactly one dpiAware"),
    ("no dpiAwareness", sub(r"<dpiAwareness.*?</dpiAwareness>", ""), "exactly one dpiAwareness"),
    ("dpiAwareness per-monitor v1 only", sub(r">PerMonitorV2, PerMonitor<", ">PerMonitor<"),
     "dpiAwareness ['PerMonitor']"),
    ("dpiAwareness without a fallback", sub(r">PerMonitorV2, PerMonitor<", ">PerMonitorV2<"),
     "dpiAwareness ['PerMonitorV2']"),
    ("dpiAwareness in the 2005 namespace",
     sub(r"(<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/)2016", r"\g<1>2005"),
     "exactly one dpiAwareness"),
    ("Vista listed too", sub(r"(<supportedOS Id=\"\{35138b9a)",
                             r'<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>\1'), "supportedOS"),
    ("Windows 8 instead of 8.1", sub(r"1f676c76-80e1-4239-95bb-83d0f6d0da78",
                                     "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38"), "supportedOS"),
    ("Windows 10 missing", sub(r"<supportedOS Id=\"\{8e0f7a12[^>]*>", ""), "supportedOS"),
    ("no description", sub(r"<description>.*?</description>", ""), "description"),
    ("not well-formed", sub(r"</assembly>", "</assembly"), "well-formed"),
]


# --- icon faults: changes to the group directory and the image resources

def group_entries(resources):
    return cr.parse_icon_group(resources[GROUP])[2]


def write_group(resources, entries):
    data = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    for e in entries:
        data += struct.pack("<BBBBHHIH", e["width"] % 256, e["height"] % 256, e["colors"], 0,
                            e["planes"], e["bits"], e["bytes"], e["id"])
    resources[GROUP] = bytes(data)


def drop_size(size):
    def mutate(resources):
        write_group(resources, [e for e in group_entries(resources) if e["width"] != size])
    return mutate


def entry_bits(size, bits):
    def mutate(resources):
        entries = group_entries(resources)
        for e in entries:
            if e["width"] == size:
                e["bits"] = bits
        write_group(resources, entries)
    return mutate


def image_of(resources, size):
    ident = next(e["id"] for e in group_entries(resources) if e["width"] == size)
    return (cr.RT_ICON, ident, cr.LANG_EN_US)


def image_header_bits(size, bits):
    def mutate(resources):
        key = image_of(resources, size)
        data = bytearray(resources[key])
        struct.pack_into("<H", data, 14, bits)
        resources[key] = bytes(data)
    return mutate


def opaque_image(size):
    def mutate(resources):
        key = image_of(resources, size)
        data = bytearray(resources[key])
        for i in range(40 + 3, 40 + 4 * size * size, 4):
            data[i] = 255
        resources[key] = bytes(data)
    return mutate


def regroup_language(lang):
    def mutate(resources):
        resources[(cr.RT_GROUP_ICON, cr.ICON_GROUP_ID, lang)] = resources.pop(GROUP)
    return mutate


def renumber_group(ident):
    def mutate(resources):
        resources[(cr.RT_GROUP_ICON, ident, cr.LANG_EN_US)] = resources.pop(GROUP)
    return mutate


def remove_image(size):
    def mutate(resources):
        del resources[image_of(resources, size)]
    return mutate


def recolour(size, rgb):
    def mutate(resources):
        key = image_of(resources, size)
        data = bytearray(resources[key])
        accent = bytes((cr.ACCENT[2], cr.ACCENT[1], cr.ACCENT[0], 255))
        for i in range(40, 40 + 4 * size * size, 4):
            if data[i:i + 4] == accent:
                data[i:i + 3] = bytes((rgb[2], rgb[1], rgb[0]))
        resources[key] = bytes(data)
    return mutate


ICON_FAULTS = [
    ("48 px missing", drop_size(48), "sizes"),
    ("16 px missing", drop_size(16), "sizes"),
    ("64 px entry at 8 bpp", entry_bits(64, 8), "group entry says 8 bpp"),
    ("32 px image at 24 bpp", image_header_bits(32, 24), "24 bpp"),
    ("16 px image without transparency", opaque_image(16), "alpha channel"),
    ("group in German", regroup_language(1031), "want exactly group 101"),
    ("group numbered 1", renumber_group(1), "want exactly group 101"),
    ("48 px image resource missing", remove_image(48), "no icon resource"),
    ("64 px image in green", recolour(64, (52, 199, 89)), "main opaque colour"),
]


# --- version faults: edits on the parsed block, serialised again

def edit_version(change):
    def mutate(resources):
        node, _ = cr.parse_version_node(resources[VERSION])
        node = change(node)
        resources[VERSION] = cr.serialize_version_node(node)
    return mutate


def with_string(name, value):
    def change(node):
        key, kind, fixed, children = node
        def fix(n):
            k, t, v, ch = n
            if t == 1 and k == name and not ch:
                return (k, t, (value + "\0").encode("utf-16-le"), ch)
            return (k, t, v, [fix(c) for c in ch])
        return (key, kind, fixed, [fix(c) for c in children])
    return edit_version(change)


def without_string(name):
    def change(node):
        def prune(n):
            k, t, v, ch = n
            return (k, t, v, [prune(c) for c in ch if c[0] != name])
        return prune(node)
    return edit_version(change)


def fixed_field(index, value):
    def change(node):
        key, kind, fixed, children = node
        words = list(struct.unpack("<13I", fixed))
        words[index] = value
        return (key, kind, struct.pack("<13I", *words), children)
    return edit_version(change)


def table_key(new_key):
    def change(node):
        key, kind, fixed, children = node
        out = []
        for c in children:
            if c[0] == "StringFileInfo":
                c = (c[0], c[1], c[2], [(new_key, t[1], t[2], t[3]) for t in c[3]])
            out.append(c)
        return (key, kind, fixed, out)
    return edit_version(change)


def translation(lang, codepage):
    def change(node):
        def fix(n):
            k, t, v, ch = n
            if k == "Translation":
                return (k, t, struct.pack("<HH", lang, codepage), ch)
            return (k, t, v, [fix(c) for c in ch])
        return fix(node)
    return edit_version(change)


VERSION_FAULTS = [
    ("FileVersion string 1.0.2.0", with_string("FileVersion", "1.0.2.0"), "FileVersion '1.0.2.0'"),
    ("ProductVersion string 1.0.1", with_string("ProductVersion", "1.0.1"), "ProductVersion '1.0.1'"),
    ("OriginalFilename of a DLL", with_string("OriginalFilename", "Orvane.dll"), "OriginalFilename"),
    ("ProductName missing", without_string("ProductName"), "ProductName None"),
    ("InternalName missing", without_string("InternalName"), "InternalName None"),
    ("CompanyName empty", with_string("CompanyName", ""), "CompanyName missing or empty"),
    ("fixed file version 1.0.0.0", fixed_field(3, 0), "fixed file version 1.0.0.0"),
    ("fixed product version 1.1.1.0", fixed_field(4, 0x00010001), "fixed product version 1.1.1.0"),
    ("file OS VOS__WINDOWS32", fixed_field(8, 0x00000004), "file OS"),
    ("file type DLL", fixed_field(9, 2), "file type 2"),
    ("string table in Western code page", table_key("040904E4"), "string tables"),
    ("translation German", translation(0x0407, 1200), "translation"),
    ("translation ANSI code page", translation(0x0409, 1252), "translation"),
    ("no VarFileInfo", without_string("VarFileInfo"), "Translation values"),
]


class CheckerCatchesFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = cr.read_resources(EXE)

    def test_built_resources_pass(self):
        self.assertEqual(cr.check_all(dict(self.resources)), [])

    def test_version_block_round_trips(self):
        # The faulty variants below are made by parse + serialise: that must be lossless.
        node, _ = cr.parse_version_node(self.resources[VERSION])
        self.assertEqual(cr.serialize_version_node(node), self.resources[VERSION])

    def expect_fault(self, resources, fragment):
        problems = cr.check_all(resources)
        self.assertTrue(any(fragment in p for p in problems),
                        f"no problem mentioning {fragment!r}; got {problems}")

    def test_manifest_faults(self):
        for name, mutate, fragment in MANIFEST_FAULTS:
            with self.subTest(name):
                resources = dict(self.resources)
                resources[MANIFEST] = mutate(resources[MANIFEST].decode("utf-8")).encode("utf-8")
                self.expect_fault(resources, fragment)

    def test_manifest_missing(self):
        resources = dict(self.resources)
        del resources[MANIFEST]
        self.expect_fault(resources, "want exactly one with id 1")

    def test_icon_faults(self):
        for name, mutate, fragment in ICON_FAULTS:
            with self.subTest(name):
                resources = dict(self.resources)
                mutate(resources)
                self.expect_fault(resources, fragment)

    def test_version_faults(self):
        for name, mutate, fragment in VERSION_FAULTS:
            with self.subTest(name):
                resources = dict(self.resources)
                mutate(resources)
                self.expect_fault(resources, fragment)


class IconSourceIsCurrent(unittest.TestCase):
    def test_committed_icon_matches_generator(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "icon.ico")
            subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "make-icon.py"), out],
                           check=True, capture_output=True)
            with open(out, "rb") as f:
                fresh = f.read()
        with open(os.path.join(ROOT, "resources", "Orvane.ico"), "rb") as f:
            committed = f.read()
        self.assertEqual(fresh, committed, "resources/Orvane.ico is stale: run scripts/make-icon.py")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: test_check_resources.py PATH/TO/Orvane.exe")
    EXE = sys.argv.pop(1)
    unittest.main(verbosity=2)
