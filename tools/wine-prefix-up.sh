#!/bin/sh
# Creates the test prefix if needed and keeps its wineserver running for the
# whole test run (each program start then costs milliseconds, not a second).
set -e
[ -n "$WINEPREFIX" ] || { echo "WINEPREFIX is not set" >&2; exit 1; }
"$(dirname "$0")/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
[ -f "$WINEPREFIX/.qnvpd-ready" ] || { echo "Could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
WINEPREFIX="$WINEPREFIX" wineserver -p
