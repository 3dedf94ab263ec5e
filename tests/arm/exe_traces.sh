#!/usr/bin/env bash
# The exe does on the simulated device exactly what the program built in
# does: for every scenario, the two traces are the same event for event once
# what differs by construction is set aside: where a call came from ("from",
# "pc", "via": the exe's own addresses), the exe's register accessors being
# load and store instructions ("ldr", "str") rather than the accessor
# functions, and CE 3.0's InterlockedTestExchange (old value, new value)
# standing for InterlockedCompareExchange (new value, old value).
#   exe_traces.sh CORVANE_SIM CORVANE_EXE SCENARIO... [-- EMULATOR...]
set -u
sim=$1 exe=$2
shift 2
scripts=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    scripts+=("$1")
    shift
done
[ $# -gt 0 ] && shift
run=("$@" "$sim")
python=$(command -v /usr/bin/python3 || command -v python3)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

normalise() {
    "$python" -c '
import json, sys
names = {"ldr": "READ_REGISTER_ULONG", "str": "WRITE_REGISTER_ULONG",
         "InterlockedTestExchange": "InterlockedCompareExchange"}
for line in sys.stdin:
    event = json.loads(line)
    for key in ("from", "via", "pc"):
        event.pop(key, None)
    if event.get("call") == "InterlockedTestExchange":
        event["args"].reverse()
    if "call" in event:
        event["call"] = names.get(event["call"], event["call"])
    print(json.dumps(event))'
}

failures=0
for script in "${scripts[@]}"; do
    name=$(basename "$script" .scn)
    "${run[@]}" --script "$script" | normalise >"$work/built-in" &&
        "${run[@]}" --exe "$exe" --script "$script" | normalise >"$work/exe"
    if [ ! -s "$work/exe" ] || ! cmp -s "$work/built-in" "$work/exe"; then
        echo "FAIL $name: the exe's trace differs from the built-in program's:"
        diff "$work/built-in" "$work/exe" | head -n 6
        failures=$((failures + 1))
    else
        echo "ok   $name: $(wc -l <"$work/exe") events alike"
    fi
done
exit $((failures > 0))
