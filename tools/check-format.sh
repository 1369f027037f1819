#!/bin/bash
# Fails, naming the files, when a C or C++ source of the tree is not laid
# out as .clang-format says. tools/check-format.sh --fix rewrites them.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${sources[@]}"
    exit 0
fi
clang-format --dry-run --Werror "${sources[@]}"
echo "format: ${#sources[@]} files follow .clang-format"
