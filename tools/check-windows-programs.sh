#!/bin/bash
# Checks the built Windows programs; one script each in tools/windows-checks/.
#
#   tools/check-windows-programs.sh                  the programs of the win32 and win64 builds
#   tools/check-windows-programs.sh --release        tools/release.sh, run twice on two copies of
#                                                    the tree: bit-identical programs and archives,
#                                                    archive contents and checksums
#   tools/check-windows-programs.sh --signing DIR    tools/sign.sh on copies of the built programs
#                                                    (DIR/win32, DIR/win64; tests/wine/run.sh
#                                                    --signed runs them) with a throw-away
#                                                    certificate: osslsigncode verify
set -uo pipefail
checks=$(dirname "$0")/windows-checks

case "${1:-}" in
    "") [ $# -eq 0 ] && exec "$checks/programs.sh" ;;
    --release) [ $# -eq 1 ] && exec "$checks/release.sh" ;;
    --signing) [ $# -eq 2 ] && exec "$checks/signing.sh" "$2" ;;
esac
echo "usage: $0 [--release | --signing DIR]" >&2
exit 2
