#!/bin/sh
# A small, nearly full drive for the resource writer's disk-full test: mounts a
# 64 KiB tmpfs and maps it as a drive of the Wine prefix ("up"), or takes it
# away again ("down"). Mounting needs root; where it is refused nothing is
# mapped and the test skips itself, so "up" never fails for that reason.
#
#   WINEPREFIX=... payload_diskfull_fixture.sh up|down [drive letter, default q]
set -u

action=${1:-}
letter=${2:-q}
[ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; exit 1; }
mnt="$WINEPREFIX/payload-diskfull"
link="$WINEPREFIX/dosdevices/$letter:"

down() {
  if [ -L "$link" ]; then rm -f "$link"; fi
  if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt"; fi
  if [ -d "$mnt" ]; then rmdir "$mnt"; fi
}

case "$action" in
  up)
    down
    [ -d "$WINEPREFIX/dosdevices" ] || { echo "no Wine prefix at $WINEPREFIX" >&2; exit 1; }
    if [ -e "$link" ]; then
      echo "drive $letter: is taken in this prefix; the disk-full test will skip"
      exit 0
    fi
    mkdir -p "$mnt"
    if mount -t tmpfs -o size=64k,mode=0777 qnvpd-diskfull "$mnt" 2>/dev/null; then
      ln -s "$mnt" "$link"
      echo "drive $letter: is a 64 KiB tmpfs"
    else
      rmdir "$mnt"
      echo "mounting a tmpfs was refused; the disk-full test will skip"
    fi
    ;;
  down)
    down
    ;;
  *)
    echo "usage: $0 up|down [drive letter]" >&2
    exit 2
    ;;
esac
exit 0
