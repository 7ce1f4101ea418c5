#!/bin/sh
# Makes the delay-load import library of one system DLL from the toolchain's
# own import library: every function it offers, each stub loading the DLL at
# the first call of one of them (through the delay-load helper of mingw-w64's
# runtime and the package's hook, Packager/launcher/delay_load_hook.cpp). The
# link takes only the stubs of the functions the program calls, as it does
# from the plain import library.
#
#   make-delay-import-lib.sh <nm> <dlltool> <import library> <DLL name> <output>
#
# e.g. ... /usr/i686-w64-mingw32/lib/libuser32.a USER32.dll libuser32_delay.a
set -eu
nm=$1 dlltool=$2 implib=$3 dll=$4 out=$5
trap 'rm -f "$out.def"' EXIT
trap 'rm -f "$out"' HUP INT TERM
# A function has a stub "_Name@N" in .text and an import slot "__imp__Name@N";
# a data export has only the slot and cannot be delay-loaded.
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" "$implib" | awk '
    $2 == "T" && $3 ~ /^_/      { stub[substr($3, 2)] = 1 }
    $2 == "I" && $3 ~ /^__imp__/ { slot[substr($3, 8)] = 1 }
    END { for (name in slot) if (name in stub) print name }' | LC_ALL=C sort
} >"$out.def"
rm -f "$out"
# Run beside the output under relative names: dlltool hands its temporary
# files to the assembler through a shell command line (a blank in the build
# path would split it), and names its symbols after the output's path.
# -k: the DLL exports the names without their "@N".
name=$(basename "$out")
cd "$(dirname "$out")"
"$dlltool" -k --input-def "$name.def" --dllname "$dll" --output-delaylib "$name" \
  --temp-prefix "$name.tmp" || { rm -f "$name"; exit 1; }
