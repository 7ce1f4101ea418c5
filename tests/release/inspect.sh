#!/usr/bin/env bash
# scripts/inspect-package on built packages: the package matches the payload it
# was built from and imports only KERNEL32 and msvcrt, with DependentLoadFlags
# LOAD_LIBRARY_SEARCH_SYSTEM32, and shows its hardening (run-from-swap, NO_SEH
# and no SEH frame, the stack protector's guard as its security cookie,
# FORTIFY); a package without resource 104, a payload folder with one
# changed or one absent file, a table with a row too few, a table with a
# wrong file name, a package with a flipped payload byte, one whose CRC-32
# table does not match, one without DependentLoadFlags and SecurityCookie, one
# without the hardening flags and one whose code registers an SEH frame or
# fails without __fastfail are all reported with a non-zero exit code.
#
# usage: inspect.sh <source tree> <package> <package without 104> <payload folder> [--allow-missing]
set -euo pipefail
src=$(cd "$1" && pwd)
pkg=$2 nosetup=$3 payload=$4
allow=("${@:5}")
. "$src/tests/release/common.sh"
release_scratch
inspect=$src/scripts/inspect-package
def=$src/Packager/payload/payload_manifest.def

fail() { echo "FAIL: $*"; echo "--- output:"; cat "$scratch/out"; exit 1; }
# run <expected exit: 0 or nonzero> <args...>: output in $scratch/out.
run() {
  local want=$1 rc=0
  shift
  "$inspect" "$@" >"$scratch/out" 2>&1 || rc=$?
  if [ "$want" = 0 ] && [ "$rc" != 0 ]; then fail "exit $rc from: $*"; fi
  if [ "$want" != 0 ] && [ "$rc" = 0 ]; then fail "exit 0 from: $*"; fi
  if [ "$want" != 0 ] && [ "$rc" = 2 ]; then fail "could not read its input: $*"; fi
  return 0
}
has() { grep -qF -- "$1" "$scratch/out" || fail "no line with: $1"; }

# ------------------------------------------------------------ the package as built
run 0 "$pkg" --payload "$payload" "${allow[@]}"
has "FileVersion (fixed)     7.2.10.0"
has "ProductVersion (fixed)  7.2.0.0"
has "CompanyName             KAVRO"
has '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>'
has '<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>'
has "   60 1041  KAVRO QN Virtual Port Driver Ver.7.20a"
has "  111 1033  QN Virtual Port Driver Installer"
has "  123 1041  {5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}"
has "  149 1041  0x0404.ini"
has "  157 1033  QNCOMUSBCLN.dll"
# Size and hash of a resource are those of its file, shown at its place in the tree.
manual="$payload/install/manual/EN/QNVirtualPortDriver_User'sManual.pdf"
crc_of() { /usr/bin/python3 -c 'import sys, zlib; print("%08x" % zlib.crc32(open(sys.argv[1], "rb").read()))' "$1"; }
if [ -f "$manual" ]; then
  has "  119  $(printf '%9d' "$(stat -c %s "$manual")")  $(crc_of "$manual")  $(sha256sum <"$manual" | cut -d' ' -f1)  manual\\EN\\QNVirtualPortDriver_User'sManual.pdf"
fi
has "KPESetup64.exe   (removal run)"
has "OK: the package carries exactly the payload table"
n=$(python3 "$src/tools/payload_table.py" count "$def")
[ "${#allow[@]}" -gt 0 ] || has "$n of $n resources equal their file"
[ "${#allow[@]}" -gt 0 ] || has "$n of $n resources match their CRC-32 table entry"
[ "${#allow[@]}" -gt 0 ] || has "$n of $n CRC-32 table entries equal their file"
echo "ok: the built package matches its payload"

# ------------------------------------------------------------ imports and load configuration
# dlls <section title>: the DLL names the section lists, one a line.
dlls() { sed -n "/^$1/,/^\$/p" "$scratch/out" | sed -n 's/^  \([^ ][^ ]*\) .*/\1/p' | tr '\n' ' '; }
[ "$(dlls 'Imports (loaded with the program)')" = "KERNEL32.dll msvcrt.dll " ] ||
  fail "imports other than KERNEL32 and msvcrt: $(dlls 'Imports (loaded with the program)')"
[ "$(dlls 'Delay-loaded')" = "ADVAPI32.dll COMCTL32.dll USER32.dll " ] ||
  fail "delay-loaded: $(dlls 'Delay-loaded')"
has "    InitCommonControlsEx"
has "  DependentLoadFlags      0x0800 (LOAD_LIBRARY_SEARCH_SYSTEM32)"
echo "ok: imports KERNEL32 and msvcrt only, delay-loads the rest, DependentLoadFlags 0x0800"

# ------------------------------------------------------------ hardening, as built
line() { grep -E -- "$1" "$scratch/out" >/dev/null || fail "no line matching: $1"; }
line '^  Characteristics         0x[0-9a-f]{4} .*REMOVABLE_RUN_FROM_SWAP NET_RUN_FROM_SWAP$'
line '^  DllCharacteristics      0x[0-9a-f]{4} .*NO_SEH'
has "  SEH frames registered   none (other fs-segment accesses: fs:0x18 read 1 time)"
line '^  SecurityCookie          0x[0-9a-f]{8} in \.data, 0xbb40e64e until the loader seeds it$'
line '^  Stack protector         [1-9][0-9]* functions check the guard; failure routine 0x[0-9a-f]{8} \(__fastfail\)$'
line '^  FORTIFY                 [1-9][0-9]* calls of 1 size-checked copy routine$'
echo "ok: run-from-swap, NO_SEH without SEH frames, the stack protector and FORTIFY are shown"

# ------------------------------------------------------------ resource 104 left out
run 1 "$nosetup"
has "PROBLEM: resource 104 missing (install/setup.exe)"
has "  104          -  -         (missing)"
run 0 "$nosetup" --allow-missing
has "note: resource 104 missing (install/setup.exe), allowed"
echo "ok: a package without resource 104 is refused unless missing files are allowed"

# ------------------------------------------------------------ payload folder differs
changed=install/qnusb/QNUSBXP/QNUSB90.INF
cp -r "$payload" "$scratch/payload"
printf '!' | dd of="$scratch/payload/$changed" bs=1 seek=3 conv=notrunc status=none
run 1 "$pkg" --payload "$scratch/payload" "${allow[@]}"
has "PROBLEM: resource 137 differs from $changed"
has "first difference at byte 3"
[ "$(grep -c '^PROBLEM' "$scratch/out")" = 1 ] || fail "more than the one changed file reported"
cp "$payload/$changed" "$scratch/payload/$changed"
rm "$scratch/payload/removal/KPESetup32.exe"
run 1 "$pkg" --payload "$scratch/payload" "${allow[@]}"
has "PROBLEM: resource 148: removal/KPESetup32.exe is not in the payload folder"
echo "ok: a changed or absent payload file is named"

# ------------------------------------------------------------ table and package disagree
grep -v '^PAYLOAD_FILE(143,' "$def" >"$scratch/short.def"
run 1 "$pkg" --manifest "$scratch/short.def"
has "PROBLEM: resource 143 is not in the payload table"
sed 's/^\(PAYLOAD_FILE(104, Root, 114, "", \)"setup.exe"/\1"Setup.exe"/' "$def" >"$scratch/renamed.def"
cmp -s "$def" "$scratch/renamed.def" && { echo "FAIL: row 104 not found in $def"; exit 1; }
run 1 "$pkg" --manifest "$scratch/renamed.def"
has "PROBLEM: string 114 in language 1041 reads 'setup.exe', the payload table names 'Setup.exe'"
echo "ok: an extra resource and a wrong file name are reported"

# ------------------------------------------------------------ damaged packages
# patch <package> <copy> <resource type> <id> <byte|mid>: a copy with one byte of
# the resource flipped, found through the PE resource table.
patch() {
  /usr/bin/python3 - "$@" <<'PY'
import sys, pefile
src, dst, typ, res_id, at = sys.argv[1:]
pe = pefile.PE(src, fast_load=True)
pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
want = int(typ) if typ.isdigit() else typ
for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if (t.id if t.id is not None else str(t.name)) == want:
        for n in t.directory.entries:
            if n.id == int(res_id):
                entry = n.directory.entries[0].data.struct
                at = entry.Size // 2 if at == "mid" else int(at)
                if at >= entry.Size:
                    sys.exit(f"resource {typ} {res_id} has only {entry.Size} bytes")
                offset = pe.get_offset_from_rva(entry.OffsetToData) + at
                data = bytearray(open(src, "rb").read())
                data[offset] ^= 0x01
                open(dst, "wb").write(data)
                sys.exit(0)
sys.exit(f"resource {typ} {res_id} not found")
PY
}
patch "$pkg" "$scratch/damaged.exe" 10 112 mid
run 1 "$scratch/damaged.exe"
has "PROBLEM: resource 112 does not match its CRC-32 table entry"
[ "$(grep -c '^PROBLEM' "$scratch/out")" = 1 ] || fail "more than the damaged resource reported"
echo "ok: a flipped payload byte is named"

patch "$pkg" "$scratch/badtable.exe" PAYLOADCRC 1 9   # the first entry's resource id
run 1 "$scratch/badtable.exe"
has "PROBLEM: resource 104 is not in the CRC-32 table"
patch "$pkg" "$scratch/badtable.exe" PAYLOADCRC 1 16  # the first entry's CRC-32
run 1 "$scratch/badtable.exe"
has "PROBLEM: resource 104 does not match its CRC-32 table entry"
patch "$pkg" "$scratch/badtable.exe" PAYLOADCRC 1 4   # the entry count
run 1 "$scratch/badtable.exe"
has "PROBLEM: CRC-32 table malformed"
echo "ok: a CRC-32 table that does not match the package is reported"

# doctor <kind> <package> <copy>: a copy with one kind of damage.
doctor() {
  /usr/bin/python3 - "$@" <<'PY'
import struct, sys, pefile
kind, src, dst = sys.argv[1:]
pe = pefile.PE(src, fast_load=True)
data = bytearray(pe.__data__)
def replace(old, new, where=0):
    at = data.find(old, where)
    if at < 0:
        sys.exit(f"{old.hex()} not found in {src}")
    data[at:at + len(new)] = new
if kind == "loadconfig":      # DependentLoadFlags and SecurityCookie 0
    rva = pe.OPTIONAL_HEADER.DATA_DIRECTORY[10].VirtualAddress
    at = pe.get_offset_from_rva(rva)
    data[at + 0x36:at + 0x38] = bytes(2)
    data[at + 0x3c:at + 0x40] = bytes(4)
elif kind == "header":        # RUN_FROM_SWAP and NO_SEH cleared
    at = pe.FILE_HEADER.get_file_offset() + 18
    struct.pack_into("<H", data, at, pe.FILE_HEADER.Characteristics & ~0x0C00)
    at = pe.OPTIONAL_HEADER.get_file_offset() + 70
    struct.pack_into("<H", data, at, pe.OPTIONAL_HEADER.DllCharacteristics & ~0x0400)
elif kind == "code":          # fs:[0] written, directly and through the TEB; no __fastfail
    text = pe.get_offset_from_rva(pe.OPTIONAL_HEADER.AddressOfEntryPoint)
    replace(bytes.fromhex("64a118000000"), bytes.fromhex("64a300000000"))  # mov %eax,%fs:0x0
    replace(b"\x90" * 8, bytes.fromhex("64a118000000 8938"), text)  # TEB in %eax; mov %edi,(%eax)
    replace(bytes.fromhex("b902000000cd29"), bytes.fromhex("b9020000009090"))
open(dst, "wb").write(data)
PY
}

doctor loadconfig "$pkg" "$scratch/noflags.exe"
run 1 "$scratch/noflags.exe"
has "PROBLEM: DependentLoadFlags is 0x0000, not 0x0800 (LOAD_LIBRARY_SEARCH_SYSTEM32)"
has "PROBLEM: SecurityCookie does not point into the image"
[ "$(grep -c '^PROBLEM' "$scratch/out")" = 2 ] || fail "more than the load configuration reported"
echo "ok: a package without DependentLoadFlags and SecurityCookie is reported"

# ------------------------------------------------------------ hardening

doctor header "$pkg" "$scratch/header.exe"
run 1 "$scratch/header.exe"
has "PROBLEM: NET_RUN_FROM_SWAP is not set"
has "PROBLEM: REMOVABLE_RUN_FROM_SWAP is not set"
has "PROBLEM: NO_SEH is not set"
[ "$(grep -c '^PROBLEM' "$scratch/out")" = 3 ] || fail "more than the header flags reported"
doctor code "$pkg" "$scratch/code.exe"
run 1 "$scratch/code.exe"
line '^PROBLEM: the code at 0x[0-9a-f]{8} \(mov %eax,%fs:0x0\) writes the thread.s information block'
line '^PROBLEM: the code at 0x[0-9a-f]{8} \(mov %edi,\(%eax\)\) writes fs:\[0\] through the TEB.s own address'
has "PROBLEM: the stack protector's failure routine does not end the process by __fastfail"
[ "$(grep -c '^PROBLEM' "$scratch/out")" = 3 ] || fail "more than the code's damage reported"
echo "ok: cleared header flags, an SEH frame and a failure routine without __fastfail are reported"
