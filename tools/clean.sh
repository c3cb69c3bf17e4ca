#!/bin/sh
# Removes the build trees, but never a Data folder that holds records: a
# program started from a build tree keeps its records there.
set -eu
for tree in "$@"; do
    [ -e "$tree" ] || continue
    if [ -d "$tree/Data" ] && [ -n "$(ls -A "$tree/Data")" ]; then
        echo "make clean: $tree/Data holds records and is kept; everything else in $tree goes."
        find "$tree" -mindepth 1 -maxdepth 1 ! -name Data -exec rm -rf {} +
    else
        rm -rf "$tree"
    fi
done
