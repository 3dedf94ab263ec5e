#!/usr/bin/env bash
# Runs the resource fuzzer for a bounded time from a fresh copy of its seed
# corpus (the built corvane.res and the pieces in it).
#   run_fuzzer.sh FUZZER CORVANE_RES WORK_DIR SECONDS
set -euo pipefail
fuzzer=$1 res=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$res" "$work/corpus/corvane.res"
# The first entry's header is 32 bytes; a few slices give the fuzzer
# templates and icons to start from.
head -c 2048 "$res" > "$work/corpus/head.res"
tail -c 1024 "$res" > "$work/corpus/tail.bin"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -seed=1 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus"
