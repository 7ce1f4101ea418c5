#!/usr/bin/env python3
"""Writes a payload folder of the real product's sizes for the benchmark:
install/<tree> with every file of the payload table at its size in the product
build (deterministic filler bytes) and removal/ with the kit. setup.exe is the
given quick-exiting program, padded to the real installer's size (bytes after a
program's image are ignored by the loader). Also writes the baseline programs'
resource script: one RCDATA line per install file.

usage: make_payload.py <payload dir> <setup.exe to use> <baseline.rc>"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tools"))
import payload_table  # noqa: E402

SETUP_ID = 104


def main(out, setup, baseline_rc):
    total = 0
    lines = []
    for row in payload_table.read_table():
        path = os.path.join(out, *row.rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        size = row.product_bytes
        if row.res_id == SETUP_ID:
            data = open(setup, "rb").read()
            data += bytes(size - len(data))
        else:
            data = random.Random(row.res_id).randbytes(size)
        with open(path, "wb") as f:
            f.write(data)
        if not row.removal:
            total += size
            lines.append(f'{row.res_id} RCDATA "{out}/{row.rel}"\n')
    with open(baseline_rc, "w") as f:
        f.write("".join(lines))
    print(f"payload: {total} bytes in the install tree")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:4])
