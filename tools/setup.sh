#!/bin/bash
# Installs what building, testing and the demo need on Debian 12, as root,
# without stdin. The one place packages are installed: the runners only
# check for what they need. Quiet and quick when everything is already there.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang clang-format libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    openjdk-17-jdk-headless
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 libwine
    valgrind python3 file binutils
    osslsigncode openssl
)
# 32-bit Wine runs the products' real i686 target where the kernel can
# execute 32-bit programs.
packages_i386=(wine32:i386 libwine:i386)

missing=()
for package in "${packages[@]}" "${packages_i386[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends "${packages[@]}" "${packages_i386[@]}" >/dev/null
