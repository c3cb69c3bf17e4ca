#!/bin/sh
# Runs one test program on an X server of its own (kept up between clients, so
# a program started after the last one ended can connect), with the opener stub first
# on PATH, so it talks to the real clipboard and opener of a desktop.
set -u
test_program=$1
shift
stubs=$(mktemp -d)
cp "$(dirname "$0")/xdg-open" "$stubs/xdg-open"
chmod 0755 "$stubs/xdg-open"
VARNLOCK_OPENED="$stubs/opened.log" PATH="$stubs:$PATH" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" "$test_program" "$@"
status=$?
rm -rf "$stubs"
exit $status
