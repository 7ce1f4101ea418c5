#!/usr/bin/env python3
"""The package's post-link step: fills in the two PE data directories GNU ld
2.40 leaves empty, checks what they point at, sets the header flags ld has no
option for, and computes the PE checksum anew. Runs on the linked program,
before it is signed (CMakeLists.txt, qnvpd_add_package).

usage: post-link.py <program> <link map>

  - Directory 10, the load configuration, points at _load_config_used
    (Packager/launcher/load_config.cpp). Its size is 64, as the PE format asks
    of x86 images for Windows XP; the structure itself says 0x48. Its
    DependentLoadFlags must be LOAD_LIBRARY_SEARCH_SYSTEM32, and its
    SecurityCookie must point at the stack protector's guard, which must still
    hold the default value the loader replaces
    (Packager/launcher/stack_guard.cpp).
  - Directory 13, the delay imports, points at the descriptors of the
    delay-load import libraries (tools/make-delay-import-lib.sh) and the empty
    one after them (Packager/launcher/delay_load_hook.cpp), so that every tool
    that lists a program's DLLs lists these too. The program's own code never
    reads it.
  - The file header says IMAGE_FILE_NET_RUN_FROM_SWAP and
    IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP: started from a network share or a
    removable drive, the program is copied into the paging file first, so a
    share that drops away or a stick pulled out while it runs cannot take
    pages of the running program with them (the run would otherwise end with
    an in-page error, 0xC0000006).
  - No delay-load stub may have been dropped by the linker: GNU ld 2.40 drops
    the stub of a function that is reached only through its import slot
    (CMakeLists.txt, QNVPD_DELAY_LOADED_DLLS), and the slot then stays empty.

Only these header fields change, so the output depends on the input alone. On
any failure the program is removed, so that the next build links it again.
"""
import os
import re
import struct
import sys

LOAD_CONFIG_SYMBOL = re.compile(r"^\s+0x([0-9a-f]+)\s+_{1,2}load_config_used$")
GUARD_SYMBOL = re.compile(r"^\s+0x([0-9a-f]+)\s+_{2,3}stack_chk_guard$")
DELAY_DESCRIPTOR_SYMBOL = re.compile(r"^\s+0x([0-9a-f]+)\s+_{1,2}DELAY_IMPORT_DESCRIPTOR_\S+$")
DISCARDED_STUB = re.compile(r"^ \.text\s+0x[0-9a-f]+\s+0x[0-9a-f]+ (\S*_delay\.a\(\S+\))$")

LOAD_CONFIG_DIRECTORY = 10
DELAY_IMPORT_DIRECTORY = 13
LOAD_CONFIG_SIZE = 0x48             # mingw-w64's IMAGE_LOAD_CONFIG_DIRECTORY32
LOAD_CONFIG_DIRECTORY_SIZE = 64     # what XP's loader accepts for x86
DEPENDENT_LOAD_FLAGS_OFFSET = 0x36
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
SECURITY_COOKIE_OFFSET = 0x3C
DEFAULT_SECURITY_COOKIE = 0xBB40E64E   # x86: the value the loader replaces
RUN_FROM_SWAP = 0x0400 | 0x0800         # IMAGE_FILE_REMOVABLE_/NET_RUN_FROM_SWAP
DELAY_DESCRIPTOR_SIZE = 32


class Failure(Exception):
    pass


def read_map(path):
    """(load config VA, guard VA, [delay descriptor VAs], [dropped stubs]) from
    ld's map."""
    load_config = None
    guard = None
    descriptors = []
    dropped = []
    discarded = False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line == "Discarded input sections":
                discarded = True
                continue
            if discarded and line.startswith("Memory Configuration"):
                discarded = False
            if discarded:
                m = DISCARDED_STUB.match(line)
                if m:
                    dropped.append(m[1])
                continue
            m = LOAD_CONFIG_SYMBOL.match(line)
            if m:
                load_config = int(m[1], 16)
                continue
            m = GUARD_SYMBOL.match(line)
            if m:
                guard = int(m[1], 16)
                continue
            m = DELAY_DESCRIPTOR_SYMBOL.match(line)
            if m:
                descriptors.append(int(m[1], 16))
    return load_config, guard, sorted(set(descriptors)), dropped


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise Failure("not a PE program")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise Failure("not a PE program")
        self.optional = self.pe + 24
        if struct.unpack_from("<H", data, self.optional)[0] != 0x10B:
            raise Failure("not a 32-bit PE program")
        self.image_base = struct.unpack_from("<I", data, self.optional + 28)[0]
        self.characteristics_at = self.pe + 22
        self.checksum_at = self.optional + 64
        self.directories = self.optional + 96
        sections = self.optional + struct.unpack_from("<H", data, self.pe + 20)[0]
        count = struct.unpack_from("<H", data, self.pe + 6)[0]
        self.sections = []
        for i in range(count):
            _, vsize, rva, raw_size, raw_at = struct.unpack_from("<8sIIII", data, sections + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw_size, raw_at))

    def rva(self, va):
        return va - self.image_base

    def bytes_at(self, rva, size):
        for start, span, raw_size, raw_at in self.sections:
            if start <= rva and rva + size <= start + min(span, raw_size):
                return bytes(self.data[raw_at + rva - start:raw_at + rva - start + size])
        raise Failure(f"RVA {rva:#x} (+{size}) lies in no section's file data")

    def set_directory(self, index, rva, size):
        struct.pack_into("<II", self.data, self.directories + 8 * index, rva, size)

    def checksum(self):
        """The PE checksum as ld and imagehlp compute it, the field itself as 0:
        the 16-bit words summed with end-around carry, plus the file size.

        That sum is the words' sum modulo 0xFFFF (0xFFFF in place of a 0 from
        non-zero words), and as 2**16 is 1 modulo 0xFFFF, the words' sum is the
        whole file read as one little-endian number, modulo 0xFFFF: reduced a
        block at a time at C speed, which a package of a gigabyte needs."""
        data = bytearray(self.data)
        struct.pack_into("<I", data, self.checksum_at, 0)
        if len(data) & 1:
            data.append(0)
        view = memoryview(data)
        block = 1 << 20  # even, so each block starts on a word
        total = 0
        nonzero = False
        for start in range(0, len(data), block):
            part = int.from_bytes(view[start:start + block], "little")
            nonzero = nonzero or part != 0
            total = (total + part % 0xFFFF) % 0xFFFF
        if total == 0 and nonzero:
            total = 0xFFFF
        return (total + len(self.data)) & 0xFFFFFFFF


def finish(program, link_map):
    load_config_va, guard_va, descriptor_vas, dropped = read_map(link_map)
    if dropped:
        raise Failure("the linker dropped the delay-load stubs of " + ", ".join(dropped) +
                      ": a call reaches them through the import slot only (see "
                      "QNVPD_DELAY_LOADED_DLLS in CMakeLists.txt)")
    with open(program, "rb") as f:
        image = Image(bytearray(f.read()))
    old = struct.unpack_from("<I", image.data, image.checksum_at)[0]
    if old != 0 and old != image.checksum():
        raise Failure(f"the linker's checksum {old:#x} is not the one this step computes")

    if load_config_va is None:
        raise Failure("no _load_config_used in the link map")
    load_config = image.rva(load_config_va)
    config = image.bytes_at(load_config, LOAD_CONFIG_SIZE)
    size = struct.unpack_from("<I", config, 0)[0]
    flags = struct.unpack_from("<H", config, DEPENDENT_LOAD_FLAGS_OFFSET)[0]
    if size != LOAD_CONFIG_SIZE:
        raise Failure(f"the load configuration says it has {size:#x} bytes, not {LOAD_CONFIG_SIZE:#x}")
    if flags != LOAD_LIBRARY_SEARCH_SYSTEM32:
        raise Failure(f"DependentLoadFlags is {flags:#x}, not {LOAD_LIBRARY_SEARCH_SYSTEM32:#x}")
    if guard_va is None:
        raise Failure("no __stack_chk_guard in the link map")
    cookie = struct.unpack_from("<I", config, SECURITY_COOKIE_OFFSET)[0]
    if cookie != guard_va:
        raise Failure(f"SecurityCookie is {cookie:#x}, not the guard's address {guard_va:#x} "
                      f"(filled in at run time instead of by the linker?)")
    guard = struct.unpack_from("<I", image.bytes_at(image.rva(guard_va), 4))[0]
    if guard != DEFAULT_SECURITY_COOKIE:
        raise Failure(f"the guard starts as {guard:#x}, not {DEFAULT_SECURITY_COOKIE:#x}: "
                      f"the loader would not seed it")
    image.set_directory(LOAD_CONFIG_DIRECTORY, load_config, LOAD_CONFIG_DIRECTORY_SIZE)

    if not descriptor_vas:
        raise Failure("no delay-load descriptors in the link map")
    first = image.rva(descriptor_vas[0])
    for i, va in enumerate(descriptor_vas):
        if image.rva(va) != first + i * DELAY_DESCRIPTOR_SIZE:
            raise Failure("the delay-load descriptors do not follow each other")
    end = first + len(descriptor_vas) * DELAY_DESCRIPTOR_SIZE
    if image.bytes_at(end, DELAY_DESCRIPTOR_SIZE) != bytes(DELAY_DESCRIPTOR_SIZE):
        raise Failure("no empty descriptor after the delay-load descriptors")
    image.set_directory(DELAY_IMPORT_DIRECTORY, first, end + DELAY_DESCRIPTOR_SIZE - first)

    characteristics = struct.unpack_from("<H", image.data, image.characteristics_at)[0]
    struct.pack_into("<H", image.data, image.characteristics_at, characteristics | RUN_FROM_SWAP)

    struct.pack_into("<I", image.data, image.checksum_at, image.checksum())
    partial = program + ".post-link"
    with open(partial, "wb") as f:
        f.write(image.data)
    os.replace(partial, program)


def main(argv):
    if len(argv) != 2:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    program, link_map = argv
    try:
        finish(program, link_map)
    except (Failure, OSError) as e:
        print(f"post-link.py: {program}: {e}", file=sys.stderr)
        for path in (program, program + ".post-link"):
            if os.path.exists(path):
                os.remove(path)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
