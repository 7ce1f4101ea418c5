#!/usr/bin/env bash
# The payload table from a newcomer's side.
#
# Adding a carried file is adding one row to the payload table: in a copy of the
# tree with one row more (and nothing else changed), the package builds, carries
# the new resource, lists it in its CRC-32 table and its string table, and
# inspects clean. The package and its stand-in payload are left in <out> for
# release_added_row_extracts, which runs it under Wine and finds the file in
# the extracted tree (tests/e2e/install_e2e_test.cpp, AddedRowE2eTest).
#
# A payload too large for a 32-bit process to map the package is refused when
# the build is configured, with the reason.
#
# usage: payload_table.sh <copy of the tree> <its package build> <out>
# The build is the unsigned build_package of that copy, as the reproducibility
# check leaves it; it is rebuilt in place, so only what the row touches builds.
set -euo pipefail
tree=$1 bld=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
def=$tree/Packager/payload/payload_manifest.def

fail() { echo "FAIL: $*"; [ -f "$out/inspect.txt" ] && cat "$out/inspect.txt"; exit 1; }

# The next free resource and string ids, and a name of its own in manual\EN.
read -r id name_id count < <(python3 - "$tree/tools" "$def" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import payload_table
rows = payload_table.read_table(sys.argv[2])
print(max(r.res_id for r in rows) + 1,
      max([r.name_id for r in rows] + list(payload_table.FIXED_STRING_IDS)) + 1, len(rows))
PY
)
name="Release Notes.txt"
rel="manual/EN/$name"
row="PAYLOAD_FILE($id, ManualEn, $name_id, \"manual/EN\", \"$name\", 2048)"
# After the last install row, where a newcomer would add it.
last=$(grep -n '^PAYLOAD_FILE(' "$def" | tail -n 1 | cut -d: -f1)
sed -i "${last}a\\$row" "$def"
grep -qxF "$row" "$def" || fail "the row was not added"

build_package "$tree" "$bld"
payload=$bld/standin-payload
[ -f "$payload/install/$rel" ] || fail "no stand-in file made for the new row"

rm -rf "$out"
mkdir -p "$out"
rc=0
/usr/bin/python3 "$tree/scripts/inspect-package" "$bld/QNVPDSetup.exe" --payload "$payload" \
  >"$out/inspect.txt" 2>&1 || rc=$?
[ $rc = 0 ] || fail "inspect-package exit $rc"
grep -q '^PROBLEM' "$out/inspect.txt" && fail "inspect-package names a problem"
n=$((count + 1))
grep -qF "$n of $n resources match their CRC-32 table entry" "$out/inspect.txt" ||
  fail "not every resource, the new one included, is in the CRC-32 table"
crc=$(python3 -c 'import sys, zlib; print("%08x" % zlib.crc32(open(sys.argv[1], "rb").read()))' \
      "$payload/install/$rel")
grep -qF "  $id  $(printf '%9d' "$(stat -c %s "$payload/install/$rel")")  $crc  " "$out/inspect.txt" ||
  fail "resource $id is not carried with its size and CRC-32"
grep -qF "  $name_id 1041  $name" "$out/inspect.txt" || fail "string $name_id is not carried"
echo "ok: one row more builds, carries resource $id with its CRC-32 and name, inspects clean"

# What the Wine run needs: the package, the stand-in payload, the new file's place.
cp "$bld/QNVPDSetup.exe" "$out/"
cp -r "$payload" "$out/standin-payload"
printf '%s\n' "${rel//\//\\}" >"$out/added-file.txt"

# A payload folder with one file (sparse, nothing written) of 1.6 GB.
big=$bld.big-payload
cp -r "$payload" "$big"
truncate -s 1600000000 "$big/install/data2.cab"
rc=0
cmake -S "$tree" -B "$bld" -DPAYLOAD_DIR="$big" >"$bld.big.log" 2>&1 || rc=$?
rm -rf "$big"
[ $rc != 0 ] || fail "a 1.6 GB payload was accepted"
grep -q "The payload is 16[0-9]* bytes: more than the" "$bld.big.log" ||
  { cat "$bld.big.log"; fail "refused without the reason"; }
echo "ok: a payload too large to map is refused, with the reason"
