#!/bin/sh
# Small, full drives for the disk-full tests: mounts a tmpfs and maps it as a
# drive of the Wine prefix ("up"), or takes it away again ("down"). Mounting
# needs root; where it is refused nothing is mapped and the tests that need the
# drive skip themselves, so "up" never fails for that reason.
#
#   WINEPREFIX=... payload_diskfull_fixture.sh up|down [letter] [size]
#
# size: a byte count (default 64k), or
#   pages-of:DIR    exactly the 4 KiB pages the files below DIR take, so that
#                   a copy of DIR fits and not one more page does;
#   entries-of:DIR  room enough, but only as many files and folders as DIR
#                   holds plus the drive's root and one working folder.
set -u

action=${1:-}
letter=${2:-q}
size=${3:-64k}
[ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; exit 1; }
mnt="$WINEPREFIX/payload-diskfull-$letter"
link="$WINEPREFIX/dosdevices/$letter:"

down() {
  if [ -L "$link" ]; then rm -f "$link"; fi
  if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt"; fi
  if [ -d "$mnt" ]; then rmdir "$mnt"; fi
}

options() {
  case "$size" in
    pages-of:*)
      dir=${size#pages-of:}
      bytes=$(find "$dir" -type f -printf '%s\n' |
              awk '{ total += int(($1 + 4095) / 4096) * 4096 } END { print total + 0 }')
      echo "size=$bytes,mode=0777" ;;
    entries-of:*)
      dir=${size#entries-of:}
      # find lists DIR itself too: it stands for the working folder.
      entries=$(find "$dir" -mindepth 0 | wc -l)
      echo "size=64m,nr_inodes=$((entries + 1)),mode=0777" ;;
    *)
      echo "size=$size,mode=0777" ;;
  esac
}

case "$action" in
  up)
    down
    [ -d "$WINEPREFIX/dosdevices" ] || { echo "no Wine prefix at $WINEPREFIX" >&2; exit 1; }
    if [ -e "$link" ]; then
      echo "drive $letter: is taken in this prefix; the disk-full tests will skip"
      exit 0
    fi
    mkdir -p "$mnt"
    opts=$(options)
    if mount -t tmpfs -o "$opts" qnvpd-diskfull "$mnt" 2>/dev/null; then
      ln -s "$mnt" "$link"
      echo "drive $letter: is a tmpfs ($opts)"
    else
      rmdir "$mnt"
      echo "mounting a tmpfs was refused; the disk-full tests will skip"
    fi
    ;;
  down)
    down
    ;;
  *)
    echo "usage: $0 up|down [drive letter] [size]" >&2
    exit 2
    ;;
esac
exit 0
