#!/usr/bin/env python3
"""small_drive.py start|stop MOUNT_DIR [PREFIX]

start: mounts a 1 MiB tmpfs at MOUNT_DIR and makes it drive R: of the Wine prefix
($WINEPREFIX as scripts/with-wine sets it, else PREFIX), for the full-disk test. Mounting needs root; where it
is impossible, says why and leaves no drive R:, and the test skips itself.
stop: removes drive R: and unmounts what start mounted.
"""

import os
import subprocess
import sys


def drive_link(prefix):
    return os.path.join(prefix, "dosdevices", "r:")


def mounted(folder):
    return subprocess.run(["mountpoint", "-q", folder]).returncode == 0


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    action, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    prefix = os.environ.get("WINEPREFIX") or (sys.argv[3] if len(sys.argv) > 3 else "")
    link = drive_link(prefix) if prefix else None
    if link and os.path.islink(link):
        os.remove(link)
    if os.path.isdir(folder) and mounted(folder):
        subprocess.run(["umount", folder], check=True)
    if action == "stop":
        return
    os.makedirs(folder, exist_ok=True)
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,mode=0777", "tmpfs", folder],
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        print("small_drive.py: no small drive, mounting failed: " + result.stderr.strip())
        return
    if not link or not os.path.isdir(os.path.dirname(link)):
        print("small_drive.py: no Wine prefix to give the drive to")
        subprocess.run(["umount", folder], check=True)
        return
    os.symlink(folder, link)


if __name__ == "__main__":
    main()
