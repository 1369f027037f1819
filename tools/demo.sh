#!/bin/bash
# The main job, shown: the five Windows programs built; one of them installed
# in Wine's service manager, started with the stand-in VM, queried, stopped
# and uninstalled, with the event-log entry of a failed start; and a console
# run of the native build hosting a real kernel class on the machine's JDK.
set -euo pipefail
cd "$(dirname "$0")/.."

section() { printf '\n==== %s\n' "$*"; }

section "setup"
tools/setup.sh

section "build: the five Windows programs (32-bit and 64-bit) and the native build"
for preset in win32 win64 native; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
ls -l dist/win32 dist/win64
tools/check-windows-programs.sh | tail -1

section "Wine: install, start, query, stop and uninstall one program as a service"
python3 tools/wine_demo.py

section "console run of the native AlderSvc on the machine's JDK"
home=$(mktemp -d /tmp/halvern-demo-XXXXXX)
# The JDK's own libjvm.so, as it ships, linked in as server/jvm.dll. The
# host names the jar as on Windows (..\lib\util\alder-kernel.jar); for
# a Linux VM that is one file name, which a link in bin provides.
jdk=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
program=$(python3 tests/support/halvern_install.py "$home" \
    --programs build/native/programs.json --program AlderSvc \
    --jvm "$jdk/lib/server/libjvm.so" --link-jvm --windows-jar-links \
    --init=$'-Xmx64m\r\n-Dhalvern.demo=yes\r\n' \
    --jar alder-kernel.jar=build/native/tests/realjvm/kernels/good/kernel.jar)
echo "installation: $home"
find "$home" \( -type f -o -type l \) | sort | sed "s|^$home/|  |"
echo "\$ (ENTER, ENTER) | $program run"
set +e
{ sleep 1; echo; sleep 2; echo; } | "$program" run
status=$?
set -e
echo "exit code: $status"
rm -rf "$home"
[ "$status" -eq 0 ]
