#!/usr/bin/env bash
# Runs a fuzzer for a bounded time from a fresh seed corpus: the seed file,
# a slice from its head and one from its tail, and any further seed files
# that exist (those that do not are left out).
#   run_fuzzer.sh FUZZER SEED WORK_DIR SECONDS [MORE_SEEDS...]
set -euo pipefail
fuzzer=$1 seed=$2 work=$3 seconds=$4
shift 4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$seed" "$work/corpus/$(basename "$seed")"
# For the resource fuzzer's corvane.res the first entry's header is 32
# bytes; the slices give the fuzzer templates and icons to start from.
head -c 2048 "$seed" > "$work/corpus/head.bin"
tail -c 1024 "$seed" > "$work/corpus/tail.bin"
for more in "$@"; do
    if [ -f "$more" ]; then
        cp "$more" "$work/corpus/"
    fi
done
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -seed=1 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus"
