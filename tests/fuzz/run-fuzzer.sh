#!/bin/bash
# Fuzzes the init-file reader for a bounded time, starting from the seeds in
# the repository. New inputs go to a scratch corpus beside the program, so
# a later run goes on from where this one stopped; a crash leaves its input
# there too (crash-*), to be replayed with: <fuzzer> <crash file>.
#   run-fuzzer.sh <init_file_fuzzer> [seconds, default 60]
set -euo pipefail
fuzzer=$1
seconds=${2:-60}
seeds="$(cd "$(dirname "$0")" && pwd)/seeds"
work="$(dirname "$fuzzer")/fuzz-work"
mkdir -p "$work/corpus" "$work/artifacts"
# Inputs up to 8 KiB reach lines longer than one 511-byte piece and files
# of more option lines than the list holds.
exec "$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
