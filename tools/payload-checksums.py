#!/usr/bin/env python3
"""Writes the package's CRC-32 table of its carried files.

usage: payload-checksums.py [--max-bytes <n>] <out.bin> <resource id>=<file> ...

The table is read by the program before it trusts a resource. Little-endian:
the four bytes "QCRC", the entry count (32 bits), then per file its resource
id, size and CRC-32 (32 bits each), in the order given.

With --max-bytes, files of more than <n> bytes together are refused (exit 1,
no table written): the package would be too large to map (cmake/Payload.cmake).
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
    max_bytes = None
    if len(argv) >= 2 and argv[0] == "--max-bytes" and argv[1].isdigit():
        max_bytes = int(argv[1])
        argv = argv[2:]
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    entries = []
    total = 0
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
        total += size
    if max_bytes is not None and total > max_bytes:
        print(f"payload-checksums: the payload is {total} bytes: more than the {max_bytes} "
              f"bytes a package may carry. A 32-bit process maps the whole package as one "
              f"contiguous range of its 2 GB address space, and a larger package does not "
              f"start on every Windows system.", file=sys.stderr)
        return 1
    data = MAGIC + struct.pack("<I", len(entries)) + b"".join(entries)
    out = argv[0]
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
