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

Always: every delay-import address slot holds the address of its own thunk
in the image's code (a slot of 0 crashes the program at its first call into
that DLL).

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
IMAGE_SCN_MEM_EXECUTE = 0x20000000
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
        if self.magic == 0x10B:
            (self.image_base,) = struct.unpack_from("<I", data, self.optional + 28)
        else:
            (self.image_base,) = struct.unpack_from("<Q", data, self.optional + 24)
        directories = self.optional + (96 if self.magic == 0x10B else 112)
        (count,) = struct.unpack_from("<I", data, directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        self.code = []  # (rva, size) of each executable section
        table = self.optional + optional_size
        for i in range(sections):
            header = table + 40 * i
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, header + 8)
            (flags,) = struct.unpack_from("<I", data, header + 36)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset, raw_size))
            if flags & IMAGE_SCN_MEM_EXECUTE:
                self.code.append((rva, virtual_size))

    def executable(self, rva):
        return any(start <= rva < start + size for start, size in self.code)

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


def delay_descriptors(pe):
    """Every IMAGE_DELAYLOAD_DESCRIPTOR in the image, as (DLL name, fields).

    GNU ld 2.40 links dlltool's delay libraries without filling the delay
    import directory (the helper reaches each descriptor from its thunks, and
    Windows itself never reads that directory), so without a directory the
    descriptors are found by their content: Attributes 1 (RVAs), DllNameRVA at
    a "*.dll" name, and module handle, address table and name table RVAs
    inside the image.
    """
    rva, size = pe.directory(DELAY_IMPORT_ENTRY)
    if rva and size:
        found = []
        while True:
            fields = struct.unpack("<8I", pe.read(rva, 32))
            if fields == (0,) * 8:
                return found
            found.append((pe.name_at(fields[1]).lower(), fields))
            rva += 32
    image_end = max(start + size for start, size, _, _ in pe.sections)
    found = []
    for start, _, raw_offset, raw_size in pe.sections:
        at = pe.data.find(struct.pack("<I", 1), raw_offset, raw_offset + raw_size)
        while 0 <= at <= raw_offset + raw_size - 32:
            fields = struct.unpack_from("<8I", pe.data, at)
            if at % 4 == 0 and all(0 < field < image_end for field in fields[1:5]):
                try:
                    name = pe.name_at(fields[1]).lower()
                except (ValueError, UnicodeDecodeError):
                    name = ""
                if name.endswith(".dll") and name.isprintable():
                    found.append((name, fields))
            at = pe.data.find(struct.pack("<I", 1), at + 1, raw_offset + raw_size)
    return found


def stub_loads_slot(pe, stub_rva, slot_rva):
    """True when the code at `stub_rva` is a delay-load thunk for the slot at
    `slot_rva`: it puts the slot's address in eax/rax and jumps to the helper.
    i386: mov eax, imm32 (B8, the slot's VA); x86-64: lea rax, [rip+rel32]."""
    try:
        code = pe.read(stub_rva, 7)
    except ValueError:
        return False
    if pe.magic == 0x10B:
        return code[0] == 0xB8 and struct.unpack_from("<I", code, 1)[0] == pe.image_base + slot_rva
    if code[:3] != b"\x48\x8d\x05":
        return False
    return stub_rva + 7 + struct.unpack_from("<i", code, 3)[0] == slot_rva


def delay_slots(pe):
    """(DLL, function, slot RVA) of every delay-import address slot."""
    pointer = 4 if pe.magic == 0x10B else 8
    entry_format = "<I" if pointer == 4 else "<Q"
    ordinal_flag = 1 << (8 * pointer - 1)
    for dll, fields in delay_descriptors(pe):
        address_table, name_table = fields[3], fields[4]
        for index in range(65536):
            (name_entry,) = struct.unpack(entry_format, pe.read(name_table + index * pointer, pointer))
            if name_entry == 0:
                break
            function = ("#%d" % (name_entry & 0xFFFF) if name_entry & ordinal_flag
                        else pe.name_at(name_entry + 2))
            yield dll, function, address_table + index * pointer


def check_delay_slots(pe):
    """Every delay-import address slot must hold the address of its own thunk
    inside an executable section: the slot is what a call into the DLL jumps
    through before the DLL is loaded, so a slot of 0 crashes at the first call
    (as GNU ld's i386 back end leaves it when it drops a thunk nothing names)."""
    pointer = 4 if pe.magic == 0x10B else 8
    problems = []
    try:
        for dll, function, slot_rva in delay_slots(pe):
            (slot,) = struct.unpack("<I" if pointer == 4 else "<Q", pe.read(slot_rva, pointer))
            where = "delay slot of %s!%s" % (dll, function)
            if slot == 0:
                problems.append("%s is 0" % where)
            elif not pe.executable(slot - pe.image_base):
                problems.append("%s is 0x%x, outside the image's code" % (where, slot))
            elif not stub_loads_slot(pe, slot - pe.image_base, slot_rva):
                problems.append("%s is 0x%x, not its own thunk" % (where, slot))
    except (ValueError, struct.error) as e:
        problems.append("delay imports: %s" % e)
    return problems


def check_delay_loaded(pe, dlls):
    try:
        static = pe.imported_dlls(IMPORT_ENTRY, 20, 12)       # IMAGE_IMPORT_DESCRIPTOR.Name
        delayed = pe.imported_dlls(DELAY_IMPORT_ENTRY, 32, 4)  # IMAGE_DELAYLOAD_DESCRIPTOR.DllNameRVA
        delayed += [dll for dll, _ in delay_descriptors(pe)]
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
    problems += check_delay_slots(pe)
    for problem in problems:
        print("FAIL", problem)
    if not problems:
        print("%s: as expected" % args.exe)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
