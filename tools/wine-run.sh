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
  touch "$WINEPREFIX/.qnvpd-ready"
fi
exec wine "$@"
