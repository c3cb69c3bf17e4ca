#!/bin/sh
# Installs the Debian packages the build, the tests and the benchmarks need,
# only those that are missing, so a fresh machine needs nothing by hand.
set -eu
PACKAGES="g++ make cmake pkg-config qt6-base-dev libsodium-dev libzxcvbn-dev xvfb xauth xclip x11-utils fonts-dejavu-core fonts-liberation xdotool dpkg-dev desktop-file-utils appstream dbus-daemon dbus-bin syncthing"
# Fuzzing needs clang and its sanitizer and libFuzzer runtimes.
[ "${1:-}" = fuzz ] && PACKAGES="$PACKAGES clang libclang-rt-dev"
# The security mutants are driven by a Python script.
[ "${1:-}" = mutants ] && PACKAGES="$PACKAGES python3"
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
echo "Installing missing packages:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
