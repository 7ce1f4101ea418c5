#!/usr/bin/env bash
# Builds the benchmark's peers from the same payload: other self-extracting
# installers doing the same job (write the install tree under %TEMP%, run
# setup.exe, wait, delete the tree). They are contenders only, never part of
# the package or its tests. A peer that cannot be built here is left out with
# a note; bench/run then compares the rest.
#
#   bench/peers.sh <bench dir> <payload dir>
#
# Writes <bench dir>/peer_7zsfx.exe: 7-Zip's small installer SFX (7zS2), built
# with mingw from Debian's 7zip source package, with a stored (-mx0) archive.
# Writes <bench dir>/peer_nsis.exe: an NSIS installer, stored (SetCompress off).
set -uo pipefail
out=$1
payload=$2

need() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' && return 0
  [ "$(id -u)" -eq 0 ] && DEBIAN_FRONTEND=noninteractive apt-get install -y \
    --no-install-recommends "$1" >/dev/null 2>&1
}

# ---------------------------------------------------------------- 7-Zip SFX
build_7zsfx() {
  need 7zip || { echo "peer 7-Zip SFX left out: Debian's 7zip is not installed"; return; }
  local sfx="$out/peers/7zS2.sfx"
  if [ ! -s "$sfx" ]; then
    # The Windows SFX modules are not in Debian's binary packages; the source
    # package holds them. Its index is fetched into a private list, from the
    # machine's own Debian sources turned into source entries.
    local apt="$out/peers/apt"
    rm -rf "$apt" && mkdir -p "$apt/parts" "$apt/lists/partial" "$out/peers/src"
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      > "$apt/parts/debian.sources" 2>/dev/null
    local opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt/parts"
                -o Dir::State::Lists="$apt/lists")
    apt-get "${opts[@]}" update >/dev/null 2>&1
    (cd "$out/peers/src" && apt-get "${opts[@]}" source --download-only 7zip >/dev/null 2>&1)
    local orig
    orig=$(ls "$out"/peers/src/7zip_*.orig.tar.* 2>/dev/null | head -1)
    [ -n "$orig" ] || { echo "peer 7-Zip SFX left out: no 7zip source package reachable"; return; }
    tar xf "$orig" -C "$out/peers/src"
    local c
    c=$(dirname "$(ls -d "$out"/peers/src/*/C/Util/SfxSetup | head -1)")/..
    (cd "$c" &&
     i686-w64-mingw32-windres -I Util/SfxSetup -I . Util/SfxSetup/resource.rc -O coff \
       -o "$out/peers/sfx_res.o" &&
     i686-w64-mingw32-gcc -O2 -mwindows -static -DZ7_EXTRACT_ONLY -DUNICODE -D_UNICODE \
       Util/SfxSetup/SfxSetup.c 7zAlloc.c 7zArcIn.c 7zBuf.c 7zBuf2.c 7zFile.c 7zDec.c \
       7zStream.c Bcj2.c Bra.c Bra86.c BraIA64.c CpuArch.c Delta.c DllSecur.c Lzma2Dec.c \
       LzmaDec.c 7zCrc.c 7zCrcOpt.c "$out/peers/sfx_res.o" -o "$sfx" 2>/dev/null) ||
      { echo "peer 7-Zip SFX left out: its module did not build"; rm -f "$sfx"; return; }
  fi
  rm -f "$out/peers/payload.7z"
  (cd "$payload/install" && 7zz a -t7z -mx0 "$out/peers/payload.7z" . >/dev/null) ||
    { echo "peer 7-Zip SFX left out: the archive could not be made"; return; }
  cat "$sfx" "$out/peers/payload.7z" > "$out/peer_7zsfx.exe"
  echo "peer 7-Zip SFX: $out/peer_7zsfx.exe"
}

# ---------------------------------------------------------------- NSIS
build_nsis() {
  need nsis || { echo "peer NSIS left out: Debian's nsis is not installed"; return; }
  cat > "$out/peers/peer.nsi" <<EOF
Unicode true
SetCompress off
SilentInstall silent
RequestExecutionLevel admin
OutFile "$out/peer_nsis.exe"
Section
  SetOutPath "\$TEMP\\QNVPDBenchNsis"
  File /r "$payload/install/*.*"
  ExecWait '"\$TEMP\\QNVPDBenchNsis\\setup.exe"'
  SetOutPath "\$TEMP"
  RMDir /r "\$TEMP\\QNVPDBenchNsis"
SectionEnd
EOF
  makensis -V1 "$out/peers/peer.nsi" >/dev/null 2>&1 ||
    { echo "peer NSIS left out: makensis failed"; rm -f "$out/peer_nsis.exe"; return; }
  echo "peer NSIS: $out/peer_nsis.exe"
}

mkdir -p "$out/peers"
rm -f "$out/peer_7zsfx.exe" "$out/peer_nsis.exe"
build_7zsfx
build_nsis
