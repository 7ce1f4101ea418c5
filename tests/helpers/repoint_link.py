#!/usr/bin/env python3
"""Re-points a folder link the moment a folder appears in its first target.

    repoint_link.py <watched folder> <name prefix> <link> <new target> <ready file> <seconds>

Watches <watched folder> with inotify, writes <ready file> once the watch is
armed, and when an entry whose name begins with <name prefix> is created there,
atomically points <link> at <new target> (a new link renamed over the old one).
Gives up after <seconds>. Linux only; run from the Linux side of Wine.
"""
import ctypes
import os
import select
import struct
import sys
import time

IN_CREATE = 0x100
IN_MOVED_TO = 0x80


def main(watched, prefix, link, target, ready, seconds):
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init()
    if fd < 0 or libc.inotify_add_watch(fd, watched.encode(), IN_CREATE | IN_MOVED_TO) < 0:
        return 2
    open(ready, "w").close()
    deadline = time.monotonic() + float(seconds)
    while time.monotonic() < deadline:
        if not select.select([fd], [], [], deadline - time.monotonic())[0]:
            break
        data = os.read(fd, 65536)
        at = 0
        while at < len(data):
            _, _, _, length = struct.unpack_from("iIII", data, at)
            name = data[at + 16:at + 16 + length].rstrip(b"\0").decode()
            at += 16 + length
            if name.startswith(prefix):
                os.symlink(target, link + ".new")
                os.rename(link + ".new", link)
                return 0
    return 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:7]))
