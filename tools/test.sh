#!/bin/bash
# Sets up what is missing, then builds every target and runs every test:
# the native suites (plain, under the sanitizers and under valgrind), a
# bounded fuzzing run, the Windows builds and their checks, the release
# archives (built twice, compared), signing with a throw-away certificate,
# and the Windows programs (and their signed copies) end to end under Wine.
# Exits non-zero on the first failing stage.
set -euo pipefail
cd "$(dirname "$0")/.."

stage() { printf '\n==== %s\n' "$*"; }

stage "setup"
tools/setup.sh

stage "the tree follows .clang-format"
tools/check-format.sh

stage "native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native -j2

stage "native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
ctest --preset native-asan -j2

stage "native tests under valgrind memcheck"
tests/hardening/run-valgrind.py build/native --jobs 2

stage "init-file reader under libFuzzer (bounded run)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

stage "Windows builds"
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
tools/check-windows-programs.sh

stage "release archives, built twice from two copies of the tree: bit-identical"
tools/check-windows-programs.sh --release

stage "signing with a throw-away certificate"
tools/check-windows-programs.sh --signing build/signing-check

stage "Windows programs under Wine"
tests/wine/run.sh --signed build/signing-check/win64 --signed build/signing-check/win32

stage "all tests passed"
