#!/usr/bin/env bash
# The package must come out byte for byte the same from the same sources,
# payload and toolchain, whatever the folders, the clock, the time zone, the
# umask or SOURCE_DATE_EPOCH of the build. Builds it again from a copy of the
# tree at another path, at another time, and compares it with the package of
# the build under test (or, without one, with a first build of its own).
#
# Then the signing checks run on its second build (see signing.sh), which
# spares them a build of their own (given <token-signed folder>, they leave the
# package they signed through PKCS#11 there), and, given <added-row folder>,
# that build is built once more with one row added to its payload table, and a
# payload too large to map is refused (payload_table.sh).
#
# usage: reproducible.sh <source tree> [<build folder holding QNVPDSetup.exe>
#                                       [<added-row folder> [<token-signed folder>]]]
set -euo pipefail
src=$(cd "$1" && pwd)
. "$src/tests/release/common.sh"
release_scratch

copy_sources "$src" "$scratch/second-copy/QNVPD sources"

# The second build runs with its clock more than a year ahead when faketime is
# there, otherwise simply later.
later=()
if command -v faketime >/dev/null; then
  later=(faketime -f +400d)
else
  sleep 2
fi

if [ -n "${2:-}" ]; then
  one=$(cd "$2" && pwd)
  firstdir=$one
else
  copy_sources "$src" "$scratch/a/src"
  (umask 022; export TZ=UTC SOURCE_DATE_EPOCH=1500000000
   build_package "$scratch/a/src" "$scratch/a/build")
  one=$scratch/a/build
  firstdir=$scratch/a
fi
(umask 077; export TZ=Asia/Tokyo SOURCE_DATE_EPOCH=1700000000
 "${later[@]}" bash -c '. "$1"; build_package "$2" "$3"' _ \
   "$src/tests/release/common.sh" "$scratch/second-copy/QNVPD sources" \
   "$scratch/second-copy/out 2")

two="$scratch/second-copy/out 2"
status=0
# The core library too: its archive members must carry no dates or owners,
# which the program itself would not show.
for f in QNVPDSetup.exe libqnvpd_core.a; do
  h1=$(sha256sum <"$one/$f" | cut -d' ' -f1)
  h2=$(sha256sum <"$two/$f" | cut -d' ' -f1)
  if [ "$h1" = "$h2" ]; then
    echo "same: $f $h1"
  else
    echo "DIFFERENT: $f"
    echo "  $h1  first build"
    echo "  $h2  second build"
    echo "  first differing bytes (offset, octal values):"
    cmp -l "$one/$f" "$two/$f" | head -n 20 | sed 's/^/    /' || true
    status=1
  fi
done
# A build path inside the program is a fault even when both builds agree on it.
for d in "$firstdir" "$src" "$scratch/second-copy"; do
  if grep -qaF "$d" "$one/QNVPDSetup.exe" "$two/QNVPDSetup.exe"; then
    echo "a build path ($d) is inside the package"
    status=1
  fi
done
[ $status -eq 0 ] || exit $status
echo "== signing"
bash "$src/tests/release/signing.sh" "$src" "$scratch/second-copy/QNVPD sources" "$two" "${4:-}"
if [ -n "${3:-}" ]; then
  echo "== a row added to the payload table"
  bash "$src/tests/release/payload_table.sh" "$scratch/second-copy/QNVPD sources" "$two" "$3"
fi
