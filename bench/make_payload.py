#!/usr/bin/env python3
"""Writes a payload folder of the real product's sizes for the benchmark:
install/<tree> with the 39 files at their byte counts (deterministic filler
bytes) and removal/ with the kit. setup.exe is the given quick-exiting program,
padded to the real installer's size (bytes after a program's image are ignored
by the loader).

usage: make_payload.py <payload dir> <setup.exe to use> <payload_manifest.def>"""
import os
import random
import re
import sys

SIZES = {  # resource id -> bytes, as the real product build delivers them
    104: 811184, 111: 1045796, 106: 20840, 112: 5729320, 110: 579584, 105: 1510,
    113: 2488, 107: 260025, 117: 22492, 118: 14884, 146: 10760, 147: 10688,
    123: 11677, 124: 12486, 125: 81072, 127: 845736, 128: 1829, 129: 9522,
    131: 7513, 126: 7678, 130: 2948, 132: 63096, 134: 521128, 135: 1829,
    136: 9522, 138: 7513, 133: 7654, 137: 2918, 139: 49408, 140: 90248,
    141: 71680, 122: 4176, 119: 2576803, 120: 3709, 121: 1446169, 145: 4176,
    144: 2212758, 142: 4176, 143: 2156702, 148: 118784, 149: 121856, 150: 282624,
}


def rows(def_path):
    for line in open(def_path, encoding="utf-8"):
        m = re.match(r'PAYLOAD_FILE\((\d+), *\w+, *\d+, *"([^"]*)", *"([^"]*)"\)', line)
        if m:
            folder = m.group(2)
            yield int(m.group(1)), os.path.join("install", folder, m.group(3)) if folder \
                else os.path.join("install", m.group(3))
            continue
        m = re.match(r'REMOVAL_FILE\((\d+), *\d+, *"([^"]*)"\)', line)
        if m:
            yield int(m.group(1)), os.path.join("removal", m.group(2))


def main(out, setup, def_path):
    total = 0
    for rid, rel in rows(def_path):
        path = os.path.join(out, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        size = SIZES[rid]
        if rid == 104:
            data = open(setup, "rb").read()
            data += bytes(size - len(data))
        else:
            data = random.Random(rid).randbytes(size)
        with open(path, "wb") as f:
            f.write(data)
        if rel.startswith("install"):
            total += size
    print(f"payload: {total} bytes in the install tree")


if __name__ == "__main__":
    main(*sys.argv[1:4])
