#!/usr/bin/env python3
"""The payload table (Packager/payload/payload_manifest.def), read for the build
and the tools: the one reader of it besides the C++ compiler.

usage: payload_table.py json <def> <out.json>   the rows, for CMake
       payload_table.py count <def>             how many files the table lists

Each row is a carried file: its resource id, its name string id and name, its
path below the payload folder (install/<tree>/<name> or removal/<name>), where
the program writes it, and its size in the product build (the benchmark's
payload has these sizes). A table that the program could not carry as it
stands (an id or a place used twice, an id out of range) is refused here, so
the build stops with the reason before anything is compiled.
"""
import json
import os
import re
import sys

DEFAULT_DEF = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                           "Packager", "payload", "payload_manifest.def")

# The strings the program reads besides the file names.
FIXED_STRING_IDS = {60: "caption", 111: "installer name", 123: "product code"}

PAYLOAD_LINE = re.compile(
    r'^PAYLOAD_FILE\(([0-9]+), *([A-Za-z0-9]+), *([0-9]+), *"([^"]*)", *"([^"]*)", *([0-9]+)\)$')
REMOVAL_LINE = re.compile(r'^REMOVAL_FILE\(([0-9]+), *([0-9]+), *"([^"]*)", *([0-9]+)\)$')


class Row:
    """One carried file of the table."""

    def __init__(self, res_id, name_id, name, folder, product_bytes, removal):
        self.res_id = res_id
        self.name_id = name_id
        self.name = name
        self.folder = folder            # below the working folder, "/"-separated
        self.product_bytes = product_bytes
        self.removal = removal
        prefix = (folder + "/") if folder else ""
        self.rel = ("removal/" if removal else "install/") + prefix + name
        self.target = (prefix + name).replace("/", "\\")

    def as_dict(self):
        return {"id": self.res_id, "name_id": self.name_id, "name": self.name,
                "rel": self.rel, "target": self.target, "removal": self.removal,
                "product_bytes": self.product_bytes}


def read_table(path=DEFAULT_DEF):
    """The rows in table order; ValueError names the line that is wrong."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not re.match(r"^(PAYLOAD|REMOVAL)_FILE\(", line):
                continue
            m = PAYLOAD_LINE.match(line)
            if m:
                rows.append(Row(int(m[1]), int(m[3]), m[5], m[4], int(m[6]), False))
                continue
            m = REMOVAL_LINE.match(line)
            if m:
                rows.append(Row(int(m[1]), int(m[2]), m[3], "", int(m[4]), True))
                continue
            raise ValueError(f"{path}:{number}: cannot read the row: {line}")
    check(rows, path)
    return rows


def check(rows, path):
    def refuse(why):
        raise ValueError(f"{path}: {why}")

    if not any(not row.removal for row in rows):
        refuse("no PAYLOAD_FILE rows")
    seen_ids, seen_names, seen_places = {}, dict(FIXED_STRING_IDS), {}
    for row in rows:
        if not 1 <= row.res_id <= 0xFFFF:
            refuse(f"resource id {row.res_id} is not 1 to 65535")
        if not 1 <= row.name_id <= 0xFFFF:
            refuse(f"string id {row.name_id} is not 1 to 65535")
        if not row.name or "\\" in row.rel or "//" in row.rel or row.rel.endswith("/"):
            refuse(f"resource {row.res_id}: {row.rel!r} is not a file path of the tree")
        if row.res_id in seen_ids:
            refuse(f"resource id {row.res_id} is used by two rows")
        if row.name_id in seen_names:
            refuse(f"string id {row.name_id} of resource {row.res_id} is already the "
                   f"{seen_names[row.name_id]}")
        place = row.target.lower()  # Windows compares names without case
        other = seen_places.get((row.removal, place))
        if other:
            refuse(f"resources {other.res_id} and {row.res_id} are both written to {row.target}")
        seen_ids[row.res_id] = row
        seen_names[row.name_id] = f"name of resource {row.res_id}"
        seen_places[(row.removal, place)] = row


def main(argv):
    if len(argv) == 3 and argv[0] == "json":
        rows = read_table(argv[1])
        with open(argv[2], "w", encoding="utf-8") as f:
            json.dump([row.as_dict() for row in rows], f, indent=1)
            f.write("\n")
        return 0
    if len(argv) == 2 and argv[0] == "count":
        print(len(read_table(argv[1])))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError) as e:
        print(f"payload table: {e}", file=sys.stderr)
        sys.exit(1)
