#!/usr/bin/env bash
# The tray day in the ARM lane (the program's ARM code and the simulator on
# an emulated PXA255) against the dev lane (x86-64, native): the same timing
# program (bench/tray_day_timing.cpp) built in each, RUNS runs each (3 by
# default), and the ratio of their median times per simulated day. A
# benchmark, not a test: the ratio is the emulation's cost, and it moves with
# the load on the machine.
#   bench/arm_vs_dev.sh DEV_BUILD_DIR ARM_BUILD_DIR [RUNS]
set -euo pipefail
dev=$1 arm=$2 runs=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$dev/bench/corvane_tray_day_timing" "$runs" >"$work/dev.json"
qemu-arm -cpu pxa255 -L /usr/arm-linux-gnueabi "$arm/bench/corvane_tray_day_timing" "$runs" \
    >"$work/arm.json"
python3 - "$work/dev.json" "$work/arm.json" <<'PY'
import json, sys
def day(path):
    d = json.load(open(path))
    assert d["unit"] == "ms"
    return d["median"], d["min"], len(d["runs"])
dev, dev_min, dev_n = day(sys.argv[1])
arm, arm_min, arm_n = day(sys.argv[2])
print(f"dev lane (x86-64, native):       {dev:9.1f} ms per simulated day (median of {dev_n}, min {dev_min:.1f})")
print(f"ARM lane (qemu-arm -cpu pxa255): {arm:9.1f} ms per simulated day (median of {arm_n}, min {arm_min:.1f})")
print(f"ARM / dev: {arm / dev:.1f}")
PY
