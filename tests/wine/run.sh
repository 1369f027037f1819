#!/bin/bash
# The Windows programs end to end under Wine: installs Wine (and python3)
# from Debian's packages when missing, then runs the driver, which builds the
# win64 preset (and win32 where this machine can run 32-bit Wine) and checks
# the programs under Wine's service manager. Needs no display and no stdin.
# Arguments are passed on to the driver (--build-win64 DIR, --build-win32 DIR,
# --work DIR).
set -euo pipefail
cd "$(dirname "$0")/../.."

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for package in wine wine64 libwine python3; do
    installed "$package" || missing+=("$package")
done
# 32-bit Wine is wanted wherever it installs; whether it can run here the
# driver finds out for itself.
installed wine32:i386 || missing_i386=1

if [ ${#missing[@]} -gt 0 ] || [ -n "${missing_i386:-}" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        if [ ${#missing[@]} -gt 0 ]; then
            echo "wine tests: missing packages: ${missing[*]}; run as root to install them" >&2
            exit 1
        fi
    else
        export DEBIAN_FRONTEND=noninteractive
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg --add-architecture i386
        fi
        apt-get update -q >/dev/null
        if [ ${#missing[@]} -gt 0 ]; then
            echo "wine tests: installing ${missing[*]}"
            apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
        fi
        if [ -n "${missing_i386:-}" ]; then
            apt-get install -y -q --no-install-recommends wine32:i386 libwine:i386 >/dev/null 2>&1 \
                || echo "wine tests: wine32:i386 is not installable here"
        fi
    fi
fi

unset DISPLAY
exec python3 tests/wine/wine_e2e.py "$@"
