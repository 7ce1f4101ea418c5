#!/usr/bin/env python3
"""Checks that the program's folders include one way only.

The main sequence (launcher) calls the runs (launch), the runs call the steps
(payload, carryover, checks), and every folder may use the shared leaf headers
at the top of the program tree. A file may include from its own folder and
from folders below it, never from a folder above it or beside it.

usage: check-layering.py <program tree>
"""
import pathlib
import re
import sys

# Folder -> the folders its files may include from, besides their own.
ALLOWED = {
    "launcher": {"launch", "payload", "carryover", "checks", ""},
    "launch": {"payload", "carryover", "checks", ""},
    "payload": {""},
    "carryover": {""},
    "checks": {""},
    "": set(),
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(relative):
    parts = pathlib.PurePosixPath(relative).parts
    return parts[0] if len(parts) > 1 else ""


def main(root):
    root = pathlib.Path(root)
    faults = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.name.endswith("_test.cpp"):
            continue
        here = folder_of(path.relative_to(root).as_posix())
        if here not in ALLOWED:
            faults.append(f"{path.relative_to(root)}: folder '{here}' has no place in the layers")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if (root / target).exists():
                there = folder_of(target)
            elif (path.parent / target).exists():
                there = here
            else:
                continue  # generated or system header
            if there != here and there not in ALLOWED[here]:
                faults.append(f"{path.relative_to(root)}:{number}: includes {target} "
                              f"('{there or 'top'}' is not below '{here or 'top'}')")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} layering faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
