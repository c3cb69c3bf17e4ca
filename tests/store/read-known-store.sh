#!/bin/sh
# docs/format.md is enough to read the strong store: the reader written from
# that page alone lists the records of the files of every version this
# program wrote and keeps (tst_strongstore opens the same files). Skipped without python3 or libsodium.
here=$(dirname "$0")
python3 -c 'import ctypes.util, sys; sys.exit(0 if ctypes.util.find_library("sodium") else 1)' \
    2>/dev/null || exit 77
expected=$(printf 'mail:!bob:!pw1:!:!\nBank:!ann:!S3cret:!n:!https://b.example\nappended:!x:!y:!:!')
for version in 1 2 3 4 5; do
    listed=$(echo 'correct horse' |
        python3 "$here/read_strong_store.py" "$here/data/strong-known-v$version.sdb") || exit 1
    [ "$listed" = "$expected" ] || { printf 'version %s listed:\n%s\n' "$version" "$listed"; exit 1; }
done
# Version 4 keeps each record's id, times and earlier versions, and the removal marks.
identities=$(echo 'correct horse' |
    python3 "$here/read_strong_store.py" --identities "$here/data/strong-known-v4.sdb") || exit 1
for want in '  id 6d6d6d6d6d6d6d6d6d6d6d6d6d6d6d6d created 1000 changed 3000' \
    '  earlier 2000 mail:!bob:!pw0:!:!' '  earlier 1000 mail:!bob:!old:!:!' \
    '  id 62626262626262626262626262626262 created 1500 changed 1500' \
    'removed 78787878787878787878787878787878 at 2500'; do
    printf '%s\n' "$identities" | grep -qxF -- "$want" || { printf 'missing: %s\n' "$want"; exit 1; }
done
# Version 5 keeps each record's one-time code, and those of its earlier versions.
identities=$(echo 'correct horse' |
    python3 "$here/read_strong_store.py" --identities "$here/data/strong-known-v5.sdb") || exit 1
for want in '  code otpauth://totp/mail:bob?secret=GEZDGNBVGY3TQOJQ' \
    '  earlier 2000 mail:!bob:!pw0:!:! code otpauth://totp/mail:bob?secret=GEZDGNBV' \
    '  earlier 1000 mail:!bob:!old:!:!' \
    'removed 78787878787878787878787878787878 at 2500'; do
    printf '%s\n' "$identities" | grep -qxF -- "$want" || { printf 'missing: %s\n' "$want"; exit 1; }
done
