#!/bin/sh
# Builds the Debian package, checks its desktop entry and AppStream file with
# the desktop's own validators, unpacks it into a throwaway root and starts the
# installed program as a user who cannot write its folder (a user made for the
# purpose when run as root). A record typed into the real window must land in
# that user's data folder, owner-only. Exit 77: skipped.
#
#   tst_package.sh BUILD_DIR
set -eu
build=$1
for tool in cpack dpkg-deb readelf desktop-file-validate appstreamcli xdotool Xvfb setpriv; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
work=$(mktemp -d)
display=""
cleanup() {
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
    [ -n "${program:-}" ] && kill "$program" 2>/dev/null
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null) || fail "cpack"
deb=$(ls "$work"/out/varnlock_*.deb)
root=$work/root
dpkg -x "$deb" "$root"
echo "package: $(basename "$deb"), depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no Qt dependency computed"

desktop-file-validate "$root/usr/share/applications/org.example.varnlock.desktop" \
    || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.varnlock.metainfo.xml" \
    || fail "metainfo"
for f in usr/bin/varnlock usr/lib/varnlock/varnlock usr/lib/varnlock/Help/help.html \
         usr/lib/varnlock/varnlock-installed \
         usr/share/doc/varnlock/copyright usr/share/bash-completion/completions/varnlock \
         usr/share/icons/hicolor/16x16/apps/varnlock.png \
         usr/share/icons/hicolor/48x48/apps/varnlock.png \
         usr/share/icons/hicolor/256x256/apps/varnlock.png; do
    [ -e "$root/$f" ] || fail "$f is not in the package"
done
# The installed program and its window's library look for libraries in the
# system's places alone: no search path of the build tree or of their own.
for f in usr/lib/varnlock/varnlock usr/lib/varnlock/libvarnlock-window.so; do
    ! readelf -d "$root/$f" | grep -qE 'RPATH|RUNPATH' || fail "$f carries a library search path"
done

# bash completes the commands, their options, and the service names the
# installed program lists.
complete_words() {
    bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _varnlock; echo "${COMPREPLY[*]}"' \
        _ "$root/usr/share/bash-completion/completions/varnlock" "$@"
}
[ "$(complete_words varnlock s)" = "search show" ] || fail "completion of commands: $(complete_words varnlock s)"
[ "$(complete_words varnlock show --f)" = "--field" ] || fail "completion of options"
[ "$(complete_words varnlock show x --field p)" = "password path" ] || fail "completion of fields"
# The service names, from the records of a portable copy: a name is the
# records' text, never run by the shell, and comes back quoted.
mkdir "$work/portable"
cp "$root/usr/lib/varnlock/varnlock" "$work/portable/"
printf 'service,username,password\r\nMy Bank,u,p\r\n$(touch %s/ran),u,p\r\n`touch %s/ran`,u,p\r\n' \
    "$work" "$work" >"$work/names.csv"
"$work/portable/varnlock" import-csv "$work/names.csv" >/dev/null || fail "names imported"
names=$(complete_words "$work/portable/varnlock" show "")
[ ! -e "$work/ran" ] || fail "completion ran a service name as a command"
[ "$names" = "\\\$\\(touch\\ $work/ran\\) \\\`touch\\ $work/ran\\\` My\\ Bank" ] ||
    fail "completion of names: $names"
[ "$(complete_words "$work/portable/varnlock" show My)" = 'My\ Bank' ] || fail "completion of a name"

# The user: someone else when we are root, ourselves otherwise; either way the
# installed folder is not theirs to write.
if [ "$(id -u)" -eq 0 ]; then
    id varnlock-other >/dev/null 2>&1 ||
        useradd --system --no-create-home --shell /usr/sbin/nologin varnlock-other
    uid=$(id -u varnlock-other)
    gid=$(id -g varnlock-other)
else
    uid=$(id -u)
    gid=$(id -g)
fi
chmod -R a+rX,go-w "$work"
chmod 0555 "$root/usr/lib/varnlock"
home=$work/home
mkdir -p "$home"
[ "$(id -u)" -eq 0 ] && chown "$uid:$gid" "$home"

# Whoever starts the installed program first (root, here, when we are root)
# gets a data folder of their own: nothing is made beside the program, so
# every other user still gets theirs.
firsthome=$work/firsthome
mkdir -p "$firsthome"
env -i HOME="$firsthome" QT_QPA_PLATFORM=offscreen PATH=/usr/bin:/bin \
    "$root/usr/bin/varnlock" >"$work/first.log" 2>&1 &
first=$!
for _ in $(seq 1 50); do
    [ -d "$firsthome/.local/share/varnlock/Data" ] && break
    sleep 0.2
done
kill "$first" 2>/dev/null
wait "$first" 2>/dev/null || true
[ -d "$firsthome/.local/share/varnlock/Data" ] || { cat "$work/first.log"; fail "the first start made no data folder of its own"; }
[ ! -e "$root/usr/lib/varnlock/Data" ] || fail "the first start made Data beside the installed program"

# A display of its own that the other user may use.
for n in $(seq 90 120); do
    [ -e "/tmp/.X$n-lock" ] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -ac -noreset >/dev/null 2>&1 &
xvfb=$!
sleep 1

run_as_user() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid="$uid" --regid="$gid" --clear-groups "$@"
    else
        "$@"
    fi
}
run_as_user env -i HOME="$home" DISPLAY="$display" QT_QPA_PLATFORM=xcb PATH=/usr/bin:/bin \
    "$root/usr/bin/varnlock" >"$work/program.log" 2>&1 &
program=$!

window=""
for _ in $(seq 1 100); do
    window=$(DISPLAY=$display xdotool search --onlyvisible --name '^V\.L\.$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || { cat "$work/program.log"; fail "the installed program showed no window"; }
# Not dumpable: another process of the same user cannot read its memory or
# its environment, and a crash leaves no core.
pid=$(DISPLAY=$display xdotool getwindowpid "$window")
[ "$(awk '/^Uid:/ { print $2 }' "/proc/$pid/status")" = "$uid" ] || fail "pid $pid is not the program"
if run_as_user cat "/proc/$pid/environ" >/dev/null 2>&1; then
    fail "another process of the user can read the program's /proc files"
fi
grep -Eq "Max core file size +0 +0 " "/proc/$pid/limits" || fail "core files are allowed"
# Service, Username, Password, Other Info; Enter in Other Info adds.
DISPLAY=$display xdotool windowfocus --sync "$window" type --delay 20 "mail"
DISPLAY=$display xdotool key Tab type --delay 20 "ann"
DISPLAY=$display xdotool key Tab type --delay 20 "pw7"
DISPLAY=$display xdotool key Tab Return
data=$home/.local/share/varnlock/Data
for _ in $(seq 1 50); do
    [ -s "$data/CW2DB.pdb" ] && break
    sleep 0.2
done
[ -s "$data/CW2DB.pdb" ] || { cat "$work/program.log"; fail "no record in $data"; }
[ ! -e "$root/usr/lib/varnlock/Data" ] || fail "Data was made beside the installed program"
mode() { stat -c %a "$1"; }
[ "$(mode "$home/.local/share/varnlock")" = 700 ] || fail "varnlock folder is $(mode "$home/.local/share/varnlock")"
[ "$(mode "$data")" = 700 ] || fail "Data is $(mode "$data")"
[ "$(mode "$data/CW2DB.pdb")" = 600 ] || fail "the store is $(mode "$data/CW2DB.pdb")"
[ "$(stat -c %u "$data/CW2DB.pdb")" = "$uid" ] || fail "the store is not the user's"
[ "$(wc -l < "$data/CW2DB.pdb")" = 1 ] || fail "the store does not hold one record"
echo "1 passed, 0 failed"
