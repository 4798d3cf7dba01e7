#!/bin/sh
# Installs the Debian packages the build, the tests and the training need; does nothing when all
# are there. With "hosts", also what the other hosts' builds and tests need: the aarch64 cross
# compiler and its emulator, emscripten, and a headless browser with its driver.
set -e
PKGS="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev \
libeigen3-dev nlohmann-json3-dev libcli11-dev pkg-config python3-torch python3-numpy python3-matplotlib"
if [ "${1:-}" = hosts ]; then
  PKGS="$PKGS g++-aarch64-linux-gnu qemu-user emscripten nodejs chromium chromium-driver python3-selenium"
fi
MISSING=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || MISSING="$MISSING $p"
done
[ -z "$MISSING" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "installing:$MISSING"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $MISSING
