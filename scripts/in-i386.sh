#!/bin/bash
# Runs a program inside the i386 chroot made by scripts/setup-i386.sh:
#   scripts/in-i386.sh PROGRAM [ARGUMENTS...]
# The program gets /proc, /dev, a private /dev/shm, the host's X sockets and
# this project at its own path, all mounted in a mount namespace of its own
# that ends with the last process in it: nothing stays mounted on the host,
# and paths, Wine prefixes and X displays are the same inside as outside.
# The environment (WINEPREFIX, DISPLAY, ...) is passed on, with one addition
# for Wine: its device host (winedevice.exe, which runs the mount manager and
# the HID bus drivers) faults in a loop under qemu-user, which hands Wine trap
# number -1 for every fault, and costs about ten seconds of CPU at every start
# of a prefix's server; nothing run here needs it, so it is not started.
# KEYSTRIP_I386_DIR as for scripts/setup-i386.sh (the chroot is its root/).
set -euo pipefail
project="$(cd "$(dirname "$0")/.." && pwd)"
root="${KEYSTRIP_I386_DIR:-$project/build/i386}/root"
if [ ! -x "$root/bin/sh" ]; then
    echo "FAIL: no i386 chroot at $root; scripts/setup-i386.sh makes it" >&2
    exit 1
fi
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedevice.exe=d"
# Wine keeps its server socket in /tmp; the chroot's own /tmp is shared by
# every run, so the processes of one prefix find one server.
mkdir -p "$root/tmp/.X11-unix" "$root$project"
# The working directory is kept when it lies in this project.
cwd="$(pwd)"
case "$cwd" in
"$project" | "$project"/*) ;;
*) cwd=/ ;;
esac
exec unshare --mount --propagation private /bin/bash -c '
    set -e
    root="$1" project="$2" cwd="$3"
    shift 3
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
    if [ -d /tmp/.X11-unix ]; then mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"; fi
    mount --bind "$project" "$root$project"
    exec unshare --root="$root" --wd="$cwd" "$@"
' in-i386 "$root" "$project" "$cwd" "$@"
