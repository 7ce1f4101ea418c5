#!/bin/sh
# Runs a Windows program under Wine in the test prefix, headless (null graphics
# driver). The prefix is created on first use; WINEPREFIX must be absolute.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/qnvpd-wine}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" \
       WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.qnvpd-ready" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 &&
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 &&
  # A program that crashes ends at once with its exception code, instead of
  # waiting for Wine's debugger until the test's time limit.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' \
    /f >/dev/null 2>&1 &&
  touch "$WINEPREFIX/.qnvpd-ready"
fi
# A program that uses windows makes Wine start a desktop process, which inherits
# our output and lingers about a second after the program has ended; a caller
# reading our output through a pipe (CTest, a shell pipeline) would wait for it
# every time. The program's output therefore goes through files, which nobody
# waits on.
out=$(mktemp) && err=$(mktemp) || exit 125
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
exit $rc
