#!/bin/sh
# Runs a test with its temporary folder on a small file system of its own,
# mounted in a private mount namespace, so the test can fill that disk to the
# last byte without touching the machine's. Where the machine allows no
# private mounts the test is reported as skipped (exit 77), saying why.
set -u
mnt=$(mktemp -d "${TMPDIR:-/tmp}/varnlock-small-disk.XXXXXX") || exit 1
trap 'rmdir "$mnt" 2>/dev/null' EXIT

run_inside='mount -t tmpfs -o size=4m,mode=0700 varnlock-small-disk "$0" || exit 77
TMPDIR="$0" VARNLOCK_SMALL_DISK="$0" "$@"'

if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
    unshare --mount sh -c "$run_inside" "$mnt" "$@"
elif unshare --mount --map-root-user true 2>/dev/null; then
    unshare --mount --map-root-user sh -c "$run_inside" "$mnt" "$@"
else
    echo "SKIP: this machine allows no private mount namespace (unshare --mount)," \
         "so the full-disk test cannot make a small disk of its own"
    exit 77
fi
status=$?
[ "$status" -eq 77 ] && echo "SKIP: no small file system could be mounted"
exit "$status"
