#!/bin/bash
# Fuzzes a reader for a bounded time, starting from a seed folder (by
# default the init-file seeds in the repository). New inputs go to a scratch
# corpus beside the program, one per fuzz target, so a later run goes on from
# where this one stopped; a crash leaves its input there too (crash-*), to be
# replayed with: <fuzzer> <crash file>.
#   run-fuzzer.sh <fuzzer> [seconds, default 60] [seed folder]
set -euo pipefail
fuzzer=$1
seconds=${2:-60}
seeds=${3:-"$(cd "$(dirname "$0")" && pwd)/seeds"}
work="$(dirname "$fuzzer")/fuzz-work-$(basename "$fuzzer")"
mkdir -p "$work/corpus" "$work/artifacts"
# Inputs up to 8 KiB reach lines longer than one 511-byte piece and files
# of more option lines than the list holds, and hold a PE image's headers
# and tables.
exec "$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
