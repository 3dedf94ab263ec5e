#!/usr/bin/env bash
# The tray-day benchmark in the ARM lane (the program's ARM code and the
# simulator on an emulated PXA255) against the dev lane (x86-64, native),
# one run each, and the ratio of their times per simulated day. A benchmark,
# not a test: the ratio is the emulation's cost, and it moves with the load
# on the machine.
#   bench/arm_vs_dev.sh DEV_BUILD_DIR ARM_BUILD_DIR
set -euo pipefail
dev=$1 arm=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$dev/bench/corvane_tray_day_bench" --benchmark_format=json >"$work/dev.json"
qemu-arm -cpu pxa255 -L /usr/arm-linux-gnueabi "$arm/bench/corvane_tray_day_bench" \
    --benchmark_format=json >"$work/arm.json"
python3 - "$work/dev.json" "$work/arm.json" <<'PY'
import json, sys
def day(path):
    b = json.load(open(path))["benchmarks"][0]
    assert b["time_unit"] == "ms"
    return b["real_time"], b["iterations"]
dev, dev_n = day(sys.argv[1])
arm, arm_n = day(sys.argv[2])
print(f"dev lane (x86-64, native):       {dev:9.1f} ms per simulated day ({dev_n} runs)")
print(f"ARM lane (qemu-arm -cpu pxa255): {arm:9.1f} ms per simulated day ({arm_n} runs)")
print(f"ARM / dev: {arm / dev:.1f}")
PY
