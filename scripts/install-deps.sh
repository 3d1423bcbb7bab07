#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the benchmarks need.
# Idempotent: packages already present are skipped, so a complete machine needs no network.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config clang-format
    # Qt 5.15
    qtbase5-dev libqt5serialport5-dev libqt5sql5-sqlite libqt5svg5-dev
    # keystrokes on X11
    libx11-dev libxtst-dev libxkbcommon-dev
    # tests: X server, window tools, pseudo-terminals, namespaces, ping, keyboard layouts
    xvfb xdotool socat iproute2 iputils-ping x11-xkb-utils xkb-data
    # tests: weighing reports read back as text
    poppler-utils
    # a central PostgreSQL database: Qt's driver, and the server the tests run
    libqt5sql5-psql postgresql
    # make coverage
    gcovr
    # make fuzz: clang and its fuzzer and sanitizer runtimes
    clang-14 libclang-rt-14-dev
    # make package: manual pages from --help, the package's library dependencies
    help2man dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
