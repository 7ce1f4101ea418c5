#!/usr/bin/env python3
"""Writes the package's CRC-32 table of its carried files.

usage: payload-checksums.py <out.bin> <resource id>=<file> ...

The table is read by the program before it trusts a resource. Little-endian:
the four bytes "QCRC", the entry count (32 bits), then per file its resource
id, size and CRC-32 (32 bits each), in the order given.
"""
import os
import struct
import sys
import zlib

MAGIC = b"QCRC"


def crc_of(path):
    crc, size = 0, 0
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                return size, crc
            crc = zlib.crc32(block, crc)
            size += len(block)


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    entries = []
    for arg in argv[1:]:
        res_id, sep, path = arg.partition("=")
        if not sep or not res_id.isdigit():
            print(f"payload-checksums: not <id>=<file>: {arg}", file=sys.stderr)
            return 2
        try:
            size, crc = crc_of(path)
        except OSError as e:
            print(f"payload-checksums: {e}", file=sys.stderr)
            return 1
        entries.append(struct.pack("<III", int(res_id), size, crc))
    data = MAGIC + struct.pack("<I", len(entries)) + b"".join(entries)
    out = argv[0]
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
