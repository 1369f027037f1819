#!/bin/bash
# Installs what building, testing and the demo need on Debian 12, as root,
# without stdin. The one place packages are installed: the runners only
# check for what they need. Quiet and quick when everything is already there;
# otherwise one line per phase, apt's own output going to a log that is shown
# only when a phase fails.
set -euo pipefail

packages=(
    git ca-certificates
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

started=$SECONDS
log=$(mktemp "${TMPDIR:-/tmp}/halvern-setup.XXXXXX.log")
export DEBIAN_FRONTEND=noninteractive

took() {
    local seconds=$((SECONDS - $1))
    if [ $seconds -ge 60 ]; then
        echo "$((seconds / 60)) min $((seconds % 60)) s"
    else
        echo "$seconds s"
    fi
}

# One phase: its line, then the command with its output in the log; a
# failure shows the end of the log and keeps it.
phase() {
    local title=$1 phase_started=$SECONDS
    shift
    echo "setup: $title"
    echo "==== $title: $*" >>"$log"
    if ! "$@" >>"$log" 2>&1 </dev/null; then
        echo "setup: failed after $(took "$phase_started"): $*; the last lines of its output (all of it in $log):" >&2
        tail -n 30 "$log" | sed 's/^/  /' >&2
        exit 1
    fi
}

echo "setup: missing ${missing[*]}"
echo "setup: installing them with apt-get; on a fresh machine this takes a few minutes"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    phase "adding the i386 architecture (for 32-bit Wine)" dpkg --add-architecture i386
fi
phase "reading the package lists (apt-get update)" apt-get update -q
count=$(apt-get install -s --no-install-recommends "${packages[@]}" "${packages_i386[@]}" 2>>"$log" | grep -c '^Inst ' || true)
phase "downloading $count packages (the missing ones and what they depend on)" \
    apt-get install -y -q --no-install-recommends --download-only "${packages[@]}" "${packages_i386[@]}"
phase "unpacking and configuring them" \
    apt-get install -y -q --no-install-recommends "${packages[@]}" "${packages_i386[@]}"
echo "setup: done in $(took "$started")"
rm -f "$log"
