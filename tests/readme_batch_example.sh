#!/bin/sh
# The batch file of the README's "Silent deployment" section, taken from the
# README as it stands and run by Wine's cmd beside a copy of the package: with
# a stand-in installer that crashes (exit code 0xC0000005, nothing posted) it
# must print the failure line and end with 1001.
#
# usage: readme_batch_example.sh <README.md> <package> <wine-run.sh> <scratch folder>
set -eu
readme=$1 package=$2 wine_run=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch"
awk '/^## Silent deployment/ { section = 1 }
     section && /^```bat$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$readme" >"$scratch/deploy.bat"
[ -s "$scratch/deploy.bat" ] || { echo "FAIL: no batch file in the README's Silent deployment"; exit 1; }
cp "$package" "$scratch/QNVPDSetup.exe"
report="Z:$(printf '%s' "$scratch/report.txt" | tr / '\\')"

rc=0
(cd "$scratch" && QNVPD_STANDIN_EXIT=0xC0000005 QNVPD_STANDIN_REPORT=$report \
   "$wine_run" cmd /c deploy.bat) >"$scratch/out" 2>&1 || rc=$?
grep -q '^Installation failed\.' "$scratch/out" || { echo "FAIL: no failure line:"; cat "$scratch/out"; exit 1; }
# 1001, of which Linux sees the low 8 bits.
[ "$rc" = 233 ] || { echo "FAIL: the batch ended with $rc, not 1001 (233)"; exit 1; }
grep -q '^setup\.exit=-1073741819' "$scratch/report.txt" ||
  { echo "FAIL: the installer did not run and crash"; exit 1; }
echo "OK: the README's batch file reports a crashing installer as a failure"
