#!/usr/bin/env python3
"""Reads a built Windows executable and checks its DLL search hardening, PE
header and key.

Usage: check_exe_hardening.py FILE.exe [--dependent-load-flags N]
                              [--key PUBLIC_KEY_FILE | --no-key]
                              [--tsaware] [--large-address-aware]
                              [--subsystem-version MAJOR.MINOR]
                              [--delay-loaded DLL[,DLL...]]

  --dependent-load-flags N  the load configuration directory must exist, its
                            structure must cover DependentLoadFlags, and that
                            field must be exactly N; the PE checksum must be
                            right (the build patches the headers after linking)
  --key FILE                the RCDATA resource FILELISTKEY must hold exactly
                            the bytes of FILE
  --no-key                  there must be no FILELISTKEY resource
  --tsaware                 IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE set
  --large-address-aware     IMAGE_FILE_LARGE_ADDRESS_AWARE set
  --subsystem-version V     the optional header's subsystem version is exactly V
  --delay-loaded DLLS       each DLL is named by a delay-load descriptor and is
                            not in the static import table (names compared
                            case-insensitively)

Only reads the file. Prints "FAIL <problem>" for each problem and exits 1 when
there was any, 0 otherwise.
"""

import argparse
import struct
import sys

IMPORT_ENTRY = 1
RESOURCE_ENTRY = 2
DELAY_IMPORT_ENTRY = 13
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000
LOAD_CONFIG_ENTRY = 10
RT_RCDATA = 10
KEY_RESOURCE = "FILELISTKEY"
# Offset of DependentLoadFlags in IMAGE_LOAD_CONFIG_DIRECTORY32 / 64.
DEPENDENT_LOAD_FLAGS_OFFSET = {0x10B: 0x36, 0x20B: 0x4E}


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        (pe,) = struct.unpack_from("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = pe + 4
        (sections,) = struct.unpack_from("<H", data, coff + 2)
        (self.characteristics,) = struct.unpack_from("<H", data, coff + 18)
        (optional_size,) = struct.unpack_from("<H", data, coff + 16)
        self.optional = coff + 20
        (self.magic,) = struct.unpack_from("<H", data, self.optional)
        if self.magic not in DEPENDENT_LOAD_FLAGS_OFFSET:
            raise ValueError("unknown optional header magic 0x%x" % self.magic)
        self.checksum_offset = self.optional + 64
        self.subsystem_version = struct.unpack_from("<HH", data, self.optional + 48)
        (self.dll_characteristics,) = struct.unpack_from("<H", data, self.optional + 70)
        directories = self.optional + (96 if self.magic == 0x10B else 112)
        (count,) = struct.unpack_from("<I", data, directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = self.optional + optional_size
        for i in range(sections):
            header = table + 40 * i
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, header + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset, raw_size))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva, length):
        """File offset of `length` bytes at `rva`; ValueError unless all lie in one section's data."""
        for start, size, raw_offset, raw_size in self.sections:
            if start <= rva and rva + length <= start + min(size, raw_size):
                return raw_offset + rva - start
        raise ValueError("RVA 0x%x (+%d) is outside every section's data" % (rva, length))

    def read(self, rva, length):
        at = self.offset(rva, length)
        return self.data[at:at + length]

    def name_at(self, rva):
        """The NUL-terminated ASCII string at `rva`."""
        at = self.offset(rva, 1)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imported_dlls(self, entry, descriptor_size, name_field):
        """Names of the DLLs in an import (or delay import) directory, lower case."""
        rva, size = self.directory(entry)
        names = []
        if rva == 0 or size == 0:
            return names
        while True:
            descriptor = self.read(rva, descriptor_size)
            if descriptor == bytes(descriptor_size):
                return names
            (name_rva,) = struct.unpack_from("<I", descriptor, name_field)
            names.append(self.name_at(name_rva).lower())
            rva += descriptor_size


def pe_checksum(data, checksum_offset):
    image = bytearray(data)
    image[checksum_offset:checksum_offset + 4] = bytes(4)
    if len(image) % 2:
        image.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", image):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def check_load_config(pe, expected):
    rva, size = pe.directory(LOAD_CONFIG_ENTRY)
    if rva == 0 or size == 0:
        return ["no load configuration directory"]
    problems = []
    try:
        (declared,) = struct.unpack("<I", pe.read(rva, 4))
        structure = pe.read(rva, declared)
    except ValueError as e:
        return ["load configuration: %s" % e]
    # Windows uses the structure only when the directory and the structure agree.
    if declared != size:
        problems.append("load configuration structure says %d bytes, the directory %d" % (declared, size))
    field = DEPENDENT_LOAD_FLAGS_OFFSET[pe.magic]
    if declared < field + 2:
        return problems + ["load configuration of %d bytes ends before DependentLoadFlags" % declared]
    (flags,) = struct.unpack_from("<H", structure, field)
    if flags != expected:
        problems.append("DependentLoadFlags is 0x%x, want 0x%x" % (flags, expected))
    (stored,) = struct.unpack_from("<I", pe.data, pe.checksum_offset)
    computed = pe_checksum(pe.data, pe.checksum_offset)
    if stored != 0 and stored != computed:
        problems.append("PE checksum is 0x%x, the file sums to 0x%x" % (stored, computed))
    return problems


def resource_entries(pe, base, directory_rva):
    header = pe.read(directory_rva, 16)
    named, numbered = struct.unpack_from("<HH", header, 12)
    entries = []
    for i in range(named + numbered):
        name, target = struct.unpack("<II", pe.read(directory_rva + 16 + 8 * i, 8))
        if name & 0x80000000:
            name_rva = base + (name & 0x7FFFFFFF)
            (length,) = struct.unpack("<H", pe.read(name_rva, 2))
            name = pe.read(name_rva + 2, 2 * length).decode("utf-16-le")
        entries.append((name, bool(target & 0x80000000), base + (target & 0x7FFFFFFF)))
    return entries


def key_resources(pe):
    """The bytes of every language of RCDATA FILELISTKEY."""
    base, size = pe.directory(RESOURCE_ENTRY)
    if base == 0 or size == 0:
        return []
    found = []
    for type_id, type_is_dir, type_at in resource_entries(pe, base, base):
        if type_id != RT_RCDATA or not type_is_dir:
            continue
        for name, name_is_dir, name_at in resource_entries(pe, base, type_at):
            if not isinstance(name, str) or name.upper() != KEY_RESOURCE or not name_is_dir:
                continue
            for _, language_is_dir, data_entry in resource_entries(pe, base, name_at):
                if language_is_dir:
                    continue
                data_rva, data_size = struct.unpack("<II", pe.read(data_entry, 8))
                found.append(pe.read(data_rva, data_size))
    return found


def check_key(pe, key_file, expect_key):
    try:
        keys = key_resources(pe)
    except (ValueError, struct.error) as e:
        return ["resources: %s" % e]
    if not expect_key:
        return ["FILELISTKEY present (%d language(s)) but no key was configured" % len(keys)] if keys else []
    with open(key_file, "rb") as f:
        wanted = f.read()
    if len(keys) != 1:
        return ["%d FILELISTKEY resources, want exactly 1" % len(keys)]
    if keys[0] != wanted:
        return ["FILELISTKEY differs from %s (%d bytes, file %d bytes)" % (key_file, len(keys[0]), len(wanted))]
    return []


def check_header(pe, tsaware, large_address_aware, subsystem_version):
    problems = []
    if tsaware and not pe.dll_characteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE:
        problems.append("not terminal-server-aware (DllCharacteristics 0x%x)" % pe.dll_characteristics)
    if large_address_aware and not pe.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE:
        problems.append("not large-address-aware (Characteristics 0x%x)" % pe.characteristics)
    if subsystem_version is not None and pe.subsystem_version != subsystem_version:
        problems.append("subsystem version is %d.%d, want %d.%d" % (pe.subsystem_version + subsystem_version))
    return problems


def delay_descriptor_dlls(pe, names):
    """Those of `names` that some IMAGE_DELAYLOAD_DESCRIPTOR in the image names.

    GNU ld 2.40 links dlltool's delay libraries without filling the delay
    import directory (the helper reaches each descriptor from its thunks, and
    Windows itself never reads that directory), so the descriptors are found
    by their content: Attributes 1 (RVAs), DllNameRVA at the DLL's name, and
    module handle, address table and name table RVAs inside the image.
    """
    image_end = max(start + size for start, size, _, _ in pe.sections)
    found = set()
    lowered = pe.data.lower()
    for name in names:
        encoded = name.lower().encode("ascii") + b"\0"
        at = lowered.find(encoded)
        while at >= 0:
            for start, _, raw_offset, raw_size in pe.sections:
                if raw_offset <= at < raw_offset + raw_size:
                    pattern = struct.pack("<II", 1, start + at - raw_offset)
                    hit = pe.data.find(pattern)
                    while hit >= 0:
                        fields = struct.unpack_from("<8I", pe.data, hit)
                        if hit % 4 == 0 and all(0 < rva < image_end for rva in fields[2:5]):
                            found.add(name)
                        hit = pe.data.find(pattern, hit + 1)
            at = lowered.find(encoded, at + 1)
    return found


def check_delay_loaded(pe, dlls):
    try:
        static = pe.imported_dlls(IMPORT_ENTRY, 20, 12)       # IMAGE_IMPORT_DESCRIPTOR.Name
        delayed = pe.imported_dlls(DELAY_IMPORT_ENTRY, 32, 4)  # IMAGE_DELAYLOAD_DESCRIPTOR.DllNameRVA
        delayed += sorted(delay_descriptor_dlls(pe, [dll.lower() for dll in dlls]))
    except (ValueError, struct.error) as e:
        return ["imports: %s" % e]
    problems = []
    for dll in dlls:
        if dll.lower() in static:
            problems.append("%s is in the static import table" % dll)
        if dll.lower() not in delayed:
            problems.append("%s is not delay-loaded" % dll)
    return problems


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--dependent-load-flags", type=lambda text: int(text, 0))
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--key")
    group.add_argument("--no-key", action="store_true")
    parser.add_argument("--tsaware", action="store_true")
    parser.add_argument("--large-address-aware", action="store_true")
    parser.add_argument("--subsystem-version", type=lambda text: tuple(int(part) for part in text.split(".")))
    parser.add_argument("--delay-loaded", type=lambda text: [name for name in text.split(",") if name])
    args = parser.parse_args(argv[1:])

    with open(args.exe, "rb") as f:
        pe = PeFile(f.read())
    problems = []
    if args.dependent_load_flags is not None:
        problems += check_load_config(pe, args.dependent_load_flags)
    if args.key or args.no_key:
        problems += check_key(pe, args.key, bool(args.key))
    problems += check_header(pe, args.tsaware, args.large_address_aware, args.subsystem_version)
    if args.delay_loaded:
        problems += check_delay_loaded(pe, args.delay_loaded)
    for problem in problems:
        print("FAIL", problem)
    if not problems:
        print("%s: as expected" % args.exe)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
