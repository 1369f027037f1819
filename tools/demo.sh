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
mkdir -p "$home/bin/server" "$home/lib/util"
cp build/native/profiles/AlderSvc "$home/bin/AlderSvc"
# HotSpot takes no -Xbootclasspath/p: any more; a thin adapter in front of
# the JDK's libjvm turns it into /a: and is installed as server/jvm.dll.
cp build/native/tests/realjvm/librealjvm_adapter.so "$home/bin/server/jvm.dll"
cp build/native/tests/realjvm/kernels/good/kernel.jar "$home/lib/util/alder-kernel.jar"
printf -- '-Xmx64m\r\n-Dhalvern.demo=yes\r\n' >"$home/bin/alder.init"
echo "installation: $home"
find "$home" -type f | sort | sed "s|^$home/|  |"
echo "\$ (ENTER, ENTER) | $home/bin/AlderSvc run"
set +e
{ sleep 1; echo; sleep 2; echo; } | "$home/bin/AlderSvc" run
status=$?
set -e
echo "exit code: $status"
rm -rf "$home"
[ "$status" -eq 0 ]
