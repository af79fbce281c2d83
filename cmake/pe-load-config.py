#!/usr/bin/env python3
"""Points a linked PE file's load configuration directory at its ".ldcfg" section.

GNU ld 2.40 (Debian 12's MinGW-w64 binutils) neither fills the load
configuration entry of the data directory from a `_load_config_used` symbol nor
knows `--dependent-load-flag`. The program therefore carries its own load
configuration structure in a section of its own (src/app/LoadConfig.cpp); this
step, run after every link, enters that section in the data directory and
recomputes the PE checksum. Running it again changes nothing.

Usage: pe-load-config.py FILE.exe
Exit codes: 0 done, 1 the file is not as expected (nothing written).
"""

import struct
import sys

SECTION_NAME = b".ldcfg"
LOAD_CONFIG_ENTRY = 10
PE32_MAGIC = 0x10B
PE32_PLUS_MAGIC = 0x20B
# Size of the structure as the MinGW-w64 headers declare it (through SEHandlerCount).
EXPECTED_SIZE = {PE32_MAGIC: 0x48, PE32_PLUS_MAGIC: 0x70}


class NotAsExpected(Exception):
    pass


def pe_checksum(data, checksum_offset):
    """The optional header's CheckSum: a folded 16-bit sum of the file plus its length."""
    image = bytearray(data)
    image[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"  # the field counts as zero
    if len(image) % 2:
        image += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", image):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def patch(data):
    if data[:2] != b"MZ":
        raise NotAsExpected("no MZ header")
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise NotAsExpected("no PE signature")
    coff = pe + 4
    _, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, coff)
    optional = coff + 20
    (magic,) = struct.unpack_from("<H", data, optional)
    if magic not in EXPECTED_SIZE:
        raise NotAsExpected("unknown optional header magic 0x%x" % magic)
    directories = optional + (96 if magic == PE32_MAGIC else 112)
    (count,) = struct.unpack_from("<I", data, directories - 4)
    if count <= LOAD_CONFIG_ENTRY:
        raise NotAsExpected("only %d data directory entries" % count)
    entry = directories + 8 * LOAD_CONFIG_ENTRY

    table = optional + optional_size
    found = None
    for i in range(sections):
        header = table + 40 * i
        name = data[header:header + 8].rstrip(b"\0")
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, header + 8)
        if name == SECTION_NAME:
            found = (rva, raw_offset, min(virtual_size, raw_size))
    if found is None:
        raise NotAsExpected("no %s section" % SECTION_NAME.decode())
    rva, raw_offset, available = found
    (size,) = struct.unpack_from("<I", data, raw_offset)
    if size != EXPECTED_SIZE[magic] or size > available:
        raise NotAsExpected("load configuration structure of %d bytes, expected %d"
                            % (size, EXPECTED_SIZE[magic]))

    current = struct.unpack_from("<II", data, entry)
    if current not in ((0, 0), (rva, size)):
        raise NotAsExpected("the data directory already names another load configuration "
                            "(RVA 0x%x, %d bytes)" % current)
    out = bytearray(data)
    struct.pack_into("<II", out, entry, rva, size)
    checksum_offset = optional + 64
    struct.pack_into("<I", out, checksum_offset, pe_checksum(bytes(out), checksum_offset))
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        print("usage: pe-load-config.py FILE.exe", file=sys.stderr)
        return 1
    with open(argv[1], "rb") as f:
        data = f.read()
    try:
        patched = patch(data)
    except (NotAsExpected, struct.error) as e:
        print("pe-load-config: %s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    if patched != data:
        with open(argv[1], "r+b") as f:
            f.write(patched)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
