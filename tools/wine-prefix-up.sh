#!/bin/sh
# Creates the test prefix if needed and keeps its wineserver running for the
# whole test run (each program start then costs milliseconds, not a second).
set -e
[ -n "$WINEPREFIX" ] || { echo "WINEPREFIX is not set" >&2; exit 1; }
"$(dirname "$0")/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
[ -f "$WINEPREFIX/.qnvpd-ready" ] || { echo "Could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
# A server started by the call above would end a few seconds after its last
# client: replace it by one that stays until the test run stops it.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1
# The first program of a session starts Wine's own background services, which
# keep the standard handles they inherit: start them here, detached from ours.
"$(dirname "$0")/wine-run.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
