#!/bin/sh
# docs/format.md is enough to read the strong store: the reader written from
# that page alone lists the records of the files of every version this
# program wrote and keeps (tst_strongstore opens the same files). Skipped without python3 or libsodium.
here=$(dirname "$0")
python3 -c 'import ctypes.util, sys; sys.exit(0 if ctypes.util.find_library("sodium") else 1)' \
    2>/dev/null || exit 77
expected=$(printf 'mail:!bob:!pw1:!:!\nBank:!ann:!S3cret:!n:!https://b.example\nappended:!x:!y:!:!')
for version in 1 2 3; do
    listed=$(echo 'correct horse' |
        python3 "$here/read_strong_store.py" "$here/data/strong-known-v$version.sdb") || exit 1
    [ "$listed" = "$expected" ] || { printf 'version %s listed:\n%s\n' "$version" "$listed"; exit 1; }
done
