#!/bin/bash
# The Windows programs end to end under Wine: runs the driver on what the
# win64 and win32 builds made (build/<preset>/programs.json; build them first
# with cmake --preset <preset> && cmake --build --preset <preset>), checking
# the programs under Wine's service manager. Installs nothing: Wine and
# python3 come from tools/setup.sh. Needs no display and no stdin.
# Arguments are passed on to the driver (--programs FILE, once per build;
# --work DIR).
set -euo pipefail
cd "$(dirname "$0")/../.."

missing=()
for package in wine wine64 libwine python3; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "wine tests: missing packages: ${missing[*]}; install them with tools/setup.sh (as root)" >&2
    exit 1
fi

unset DISPLAY
exec python3 tests/wine/wine_e2e.py "$@"
