"""What the package's machine code shows of its hardening, read from its
disassembly (scripts/inspect-package): SEH frames it registers, functions that
check the stack protector's guard, and the copies FORTIFY checks.

The package is stripped, so everything is found by the shape of the code GCC
emits for i686, in objdump's AT&T syntax (source first, destination last):

  - An x86 SEH frame is registered by writing a handler record's address to
    fs:[0], the head of the thread's handler chain. Any fs-segment write, any
    access of fs:[0] and any fs access through a register counts as one; and
    so does a write through the TEB's own address (read from fs:[0x18]) at
    offset 0, the same field reached the long way.
  - A function the stack protector guards loads the guard into a register
    and stores it into its frame on entry; on return it subtracts the guard
    from the stored copy and, when they differ, calls the failure routine.
  - FORTIFY's checked copies (libssp's __memcpy_chk and the like) call
    __chk_fail, a function that does nothing but call the failure routine.
"""
import bisect
import collections
import os
import re
import struct
import subprocess

OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
ADDRESS = re.compile(r"^0x([0-9a-f]+)$")
DELAY_IMPORT_DIRECTORY = 13
TEB_SELF = 0x18  # NT_TIB.Self: the TEB's own address
# How far a register loaded with the TEB's address is followed.
TEB_FOLLOW = 16
# Instructions that read their last operand.
READ_ONLY = ("cmp", "test", "push")


class Instruction(collections.namedtuple("Instruction", "address mnemonic text")):
    @property
    def operands(self):
        return split_operands(self.text)

    @property
    def destination(self):
        operands = self.operands
        return operands[-1] if operands else ""

    def target(self):
        """The address of a direct call or jump, else None."""
        m = ADDRESS.match(self.text)
        return int(m[1], 16) if m else None

    def writes(self, operand):
        """Whether it writes `operand`: its destination (a lone operand too),
        unless it only compares or pushes."""
        return self.destination == operand and not self.mnemonic.startswith(READ_ONLY)


class Code:
    """The program's instructions in address order, and its functions' starts
    (the addresses direct calls go to)."""

    def __init__(self, instructions):
        self.instructions = instructions
        self.addresses = [insn.address for insn in instructions]
        self.starts = sorted({t for insn in instructions if insn.mnemonic.startswith("call")
                              for t in [insn.target()] if t is not None})

    def at(self, address):
        """The index of the instruction at `address`, or None."""
        i = bisect.bisect_left(self.addresses, address)
        return i if i < len(self.addresses) and self.addresses[i] == address else None

    def function(self, start):
        """The instructions from `start` up to the next function's start."""
        j = bisect.bisect_right(self.starts, start)
        end = self.starts[j] if j < len(self.starts) else None
        i = bisect.bisect_left(self.addresses, start)
        k = bisect.bisect_left(self.addresses, end) if end is not None else len(self.addresses)
        return self.instructions[i:k]


def split_operands(text):
    """AT&T operands split at the commas outside parentheses."""
    if "(" not in text:
        return text.split(",") if text else []
    parts, depth, current = [], 0, ""
    for ch in text:
        if ch == "," and depth == 0:
            parts.append(current)
            current = ""
            continue
        depth += ch == "("
        depth -= ch == ")"
        current += ch
    if current:
        parts.append(current)
    return parts


def code_ranges(pe):
    """[(start VA, end VA)] of the machine code in the section the program
    starts in: without the delay-import descriptors GNU ld puts there, and
    without the data at its end (the constructor and destructor lists, then
    the C++ exception tables), which would decode as nonsense."""
    base = pe.OPTIONAL_HEADER.ImageBase
    entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
    text = next(s for s in pe.sections if s.contains_rva(entry))
    start = base + text.VirtualAddress
    end = start + constructor_list(pe, text)
    delay = pe.OPTIONAL_HEADER.DATA_DIRECTORY[DELAY_IMPORT_DIRECTORY]
    cut_from, cut_to = base + delay.VirtualAddress, base + delay.VirtualAddress + delay.Size
    if delay.Size and start <= cut_from and cut_to <= end:
        return [(start, cut_from), (cut_to, end)]
    return [(start, end)]


def constructor_list(pe, text):
    """The offset in `text` of the runtime's constructor list, which the
    linker puts right after the code: -1, pointers into the section, 0, then
    the destructor list alike. The whole section when there is none."""
    data = text.get_data()[:text.Misc_VirtualSize]
    base = pe.OPTIONAL_HEADER.ImageBase + text.VirtualAddress
    relocated = {entry.rva - text.VirtualAddress
                 for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", [])
                 for entry in block.entries if entry.type}

    def pointer_list(at):
        """The offset after a list of relocated pointers into the section
        that starts at `at` with -1 and ends with 0, or None."""
        if data[at:at + 4] != b"\xff\xff\xff\xff":
            return None
        at += 4
        while at + 4 <= len(data) and at in relocated:
            if not base <= struct.unpack_from("<I", data, at)[0] < base + len(data):
                return None
            at += 4
        return at + 4 if data[at:at + 4] == bytes(4) else None

    at = data.find(b"\xff\xff\xff\xff")
    while at != -1:
        after_constructors = pointer_list(at) if at % 4 == 0 else None
        if after_constructors is not None and pointer_list(after_constructors) is not None:
            return at
        at = data.find(b"\xff\xff\xff\xff", at + 1)
    return len(data)


def disassemble(pe, path):
    """The program's Code; raises OSError when the disassembler cannot be run."""
    instructions = []
    for start, end in code_ranges(pe):
        try:
            result = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn",
                                     f"--start-address={start:#x}", f"--stop-address={end:#x}",
                                     path], capture_output=True, text=True, check=False)
        except FileNotFoundError as e:
            raise OSError(f"{OBJDUMP} not found (set OBJDUMP): {e}") from e
        if result.returncode != 0:
            raise OSError(f"{OBJDUMP} -d failed: {result.stderr.strip()}")
        for line in result.stdout.splitlines():
            # "  401000:\tmov    %fs:0x18,%eax"
            address, tab, text = line.partition(":\t")
            if not tab or not text or " " in address.strip():
                continue
            mnemonic, _, operands = text.partition(" ")
            text = operands.split("#")[0].split("<")[0].strip()
            instructions.append(Instruction(int(address, 16), mnemonic, text))
    return Code(instructions)


def fs_offset(operand):
    """The constant offset of an fs-segment operand, None through a register."""
    rest = operand[len("%fs:"):]
    return int(rest, 0) if re.fullmatch(r"0x[0-9a-f]+|\d+", rest) else None


def seh_registrations(code):
    """([(instruction, why)] that may register an SEH frame, {offset: count}
    of the other fs-segment accesses, all reads)."""
    found = []
    reads = collections.Counter()
    insns = code.instructions
    for i, insn in enumerate(insns):
        if "%fs:" not in insn.text:
            continue
        for operand in insn.operands:
            if not operand.startswith("%fs:"):
                continue
            offset = fs_offset(operand)
            if insn.writes(operand):
                found.append((insn, "writes the thread's information block"))
            elif offset is None:
                found.append((insn, "reaches the thread's information block through a register"))
            elif offset == 0:
                found.append((insn, "reads the head of the SEH chain, fs:[0]"))
            else:
                reads[offset] += 1
                if offset == TEB_SELF and insn.destination.startswith("%"):
                    found.extend(writes_through(insns[i + 1:i + 1 + TEB_FOLLOW], insn.destination))
    return found, reads


def writes_through(following, register):
    """Writes at offset 0 through `register`, which holds the TEB's address,
    until it is loaded with something else or control leaves."""
    found = []
    for insn in following:
        if insn.destination in (f"({register})", f"0x0({register})") and \
                insn.writes(insn.destination):
            found.append((insn, "writes fs:[0] through the TEB's own address"))
        if insn.mnemonic.startswith(("jmp", "ret", "call")) or insn.writes(register):
            break
    return found


def stack_protector(code, guard_va):
    """(functions that check the guard, the failure routine's address or None,
    whether that routine ends the process with __fastfail, int 0x29)."""
    guard = f"0x{guard_va:x}"
    insns = code.instructions
    guarded = 0
    failure_calls = collections.Counter()
    for k, insn in enumerate(insns[:-1]):
        if guard not in insn.text:
            continue
        following = insns[k + 1]
        if (insn.mnemonic == "mov" and insn.operands[:1] == [guard] and
                insn.destination.startswith("%") and following.mnemonic == "mov" and
                following.operands[:1] == [insn.destination] and
                re.search(r"\(%e[bs]p\)$", following.destination)):
            guarded += 1
        if insn.mnemonic in ("sub", "xor", "cmp") and insn.operands[:1] == [guard] and \
                following.mnemonic == "jne":
            landing = code.at(following.target() or -1)
            for later in insns[landing:landing + 3] if landing is not None else []:
                if later.mnemonic.startswith("call") and later.target() is not None:
                    failure_calls[later.target()] += 1
                    break
    if not failure_calls:
        return guarded, None, False
    failure = failure_calls.most_common(1)[0][0]
    fastfail = any(insn.mnemonic == "int" and insn.operands == ["$0x29"]
                   for insn in code.function(failure))
    return guarded, failure, fastfail


def fortified_calls(code, guard_va, failure):
    """(calls of checked copy routines, how many such routines): routines
    without a guard of their own that call __chk_fail, the function that only
    calls the failure routine."""
    guard = f"0x{guard_va:x}"
    chk_fail = {start for start in code.starts if start != failure and
                any(insn.target() == failure for insn in code.function(start)[:3])}
    routines = set()
    for start in code.starts:
        if start in chk_fail or start == failure:
            continue
        insns = code.function(start)
        if any(insn.target() in chk_fail for insn in insns) and \
                not any(guard in insn.operands for insn in insns if guard in insn.text):
            routines.add(start)
    calls = sum(1 for insn in code.instructions
                if insn.mnemonic.startswith(("call", "jmp")) and insn.target() in routines)
    return calls, len(routines)
