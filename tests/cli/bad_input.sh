#!/usr/bin/env bash
# corvane-sim refuses bad input with a clear message and exit status 2,
# running nothing: a malformed script line, a missing script, bad options,
# and a corrupt or truncated resource file.
#   bad_input.sh CORVANE_SIM CORVANE_RES [EMULATOR...]
# EMULATOR (e.g. qemu-arm -cpu pxa255 -L /usr/arm-linux-gnueabi) runs a
# corvane-sim built for another machine.
set -u
res=$2
sim=("${@:3}" "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect_refusal NAME PATTERN ARGS...: exit 2, PATTERN on stderr, nothing on stdout.
expect_refusal() {
    local name=$1 pattern=$2
    shift 2
    "${sim[@]}" "$@" >"$work/out" 2>"$work/err"
    local status=$?
    if [ "$status" -ne 2 ] || ! grep -qE -- "$pattern" "$work/err" || [ -s "$work/out" ]; then
        echo "FAIL $name: status $status, stderr: $(head -c 300 "$work/err"), stdout: $(head -c 300 "$work/out")"
        failures=$((failures + 1))
    else
        echo "ok   $name: $(head -n 1 "$work/err")"
    fi
}

printf 'ok\nstate\nfrobnicate 3\nquit\n' >"$work/bad.scn"
expect_refusal "malformed line" "bad\.scn:3: unknown command 'frobnicate'" --script "$work/bad.scn"

printf 'ok\nwait 5 minutes\n' >"$work/wait.scn"
expect_refusal "malformed wait" "wait\.scn:2: expected: wait" --script "$work/wait.scn"

printf 'ok\ndoubletap-time 6s\n' >"$work/dtt.scn"
expect_refusal "double-tap time too long" "dtt\.scn:2: expected: doubletap-time <n>ms \(1 ms to 5 s\)" --script "$work/dtt.scn"
printf 'ok\ndoubletap-time 0ms\n' >"$work/dtt0.scn"
expect_refusal "double-tap time of zero" "dtt0\.scn:2: expected: doubletap-time" --script "$work/dtt0.scn"
printf 'ok\ntouch now\n' >"$work/touch.scn"
expect_refusal "touch with an argument" "touch\.scn:2: 'touch' takes no arguments" --script "$work/touch.scn"

# The processor: a name the simulator does not model, a cpu line after a
# command or twice, and a cpu line that disagrees with --cpu.
printf 'cpu pxa900\nok\n' >"$work/cpu.scn"
expect_refusal "unknown processor" "cpu\.scn:1: expected: cpu <name>, the name one of pxa255, pxa250" --script "$work/cpu.scn"
printf 'ok\ncpu sa1110\n' >"$work/cpu_late.scn"
expect_refusal "cpu line after a command" "cpu_late\.scn:2: the cpu line comes before every command" --script "$work/cpu_late.scn"
printf 'cpu sa1110\ncpu pxa270\nok\n' >"$work/cpu_twice.scn"
expect_refusal "two cpu lines" "cpu_twice\.scn:2: a second cpu line" --script "$work/cpu_twice.scn"
printf 'cpu sa1110\nok\n' >"$work/cpu_sa.scn"
expect_refusal "cpu line against --cpu" "the script's cpu line says sa1110, --cpu says pxa270" --script "$work/cpu_sa.scn" --cpu pxa270
expect_refusal "unknown --cpu" "--cpu needs one of" --script "$work/cpu_sa.scn" --cpu strongarm

printf 'ok\n' >"$work/good.scn"
expect_refusal "unwritable trace file" "cannot write .*t\.json" --script "$work/good.scn" --trace-out "$work/no/such/dir/t.json"

expect_refusal "missing script" "cannot read" --script "$work/none.scn"
mkdir "$work/a-directory"
expect_refusal "a directory as the script" "cannot read .*a-directory: not a file" --script "$work/a-directory"
expect_refusal "port out of range" "--port needs" --port 70000
expect_refusal "speed of zero" "--speed needs" --speed 0
expect_refusal "seed without a script" "--seed, --quiet, --trace-out and --schedule go with --script" --seed 3
expect_refusal "unknown option" "unknown argument" --script "$work/bad.scn" --colour
expect_refusal "bad seed" "--seed needs" --script "$work/bad.scn" --seed -3

printf 'state\n' >"$work/good.scn"
head -c 100 "$res" >"$work/truncated.res"
expect_refusal "truncated .res" "truncated|past the end" --script "$work/good.scn" --res "$work/truncated.res"
printf 'this is not a resource file at all' >"$work/junk.res"
expect_refusal "junk .res" "not a 32-bit resource file" --script "$work/good.scn" --res "$work/junk.res"
expect_refusal "missing .res" "cannot read" --script "$work/good.scn" --res "$work/none.res"
expect_refusal "a directory as the .res" "cannot read .*a-directory: not a file" --script "$work/good.scn" --res "$work/a-directory"
: >"$work/empty.res"
expect_refusal "empty .res" "not a 32-bit resource file" --script "$work/good.scn" --res "$work/empty.res"

# An exe that is not one, or cannot be read, or comes with --res.
expect_refusal "missing exe" "cannot read .*none\.exe" --script "$work/good.scn" --exe "$work/none.exe"
expect_refusal "a directory as the exe" "cannot read .*a-directory: not a file" --script "$work/good.scn" --exe "$work/a-directory"
expect_refusal "a .res as an exe" "error 193.*not an image" --script "$work/good.scn" --exe "$res"
head -c 300 "$res" >"$work/short.exe"
expect_refusal "truncated exe" "error 193" --script "$work/good.scn" --exe "$work/short.exe"
expect_refusal "exe with --res" "an exe brings its own resources" --script "$work/good.scn" --exe "$res" --res "$res"

# A .res whose dialog template is cut short parses as a file; the program
# then finds its dialog corrupt and ends cleanly (exit code 0 on the device).
python3 - "$res" "$work/cut-template.res" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
out, pos = bytearray(), 0
while pos + 8 <= len(data):
    size, header = struct.unpack_from('<II', data, pos)
    entry = data[pos:pos + header + size]
    if data[pos + 8:pos + 12] == b'\xff\xff\x05\x00':   # RT_DIALOG
        half = size // 2
        entry = bytearray(struct.pack('<I', half)) + entry[4:header + half]
    out += entry
    out += b'\0' * ((4 - len(out) % 4) % 4)
    pos += header + size
    pos += (4 - pos % 4) % 4
open(sys.argv[2], 'wb').write(out)
PY
printf 'expect program ended 0\n' >"$work/ended.scn"
if "${sim[@]}" --script "$work/ended.scn" --res "$work/cut-template.res" >"$work/out" 2>"$work/err" &&
    grep -q 'corrupt dialog template' "$work/out"; then
    echo "ok   corrupt template: the program ends cleanly and the trace says why"
else
    echo "FAIL corrupt template: $(tail -c 400 "$work/out") $(cat "$work/err")"
    failures=$((failures + 1))
fi

# Schedules and the explorer.
printf 'ok\ntap\nexpect program running\n' >"$work/race.scn"
expect_refusal "a schedule that is no schedule" "--schedule: a schedule is" --script "$work/race.scn" --schedule "3:1,2:1"
expect_refusal "a schedule with an option of 0" "--schedule: a schedule is" --script "$work/race.scn" --schedule "3:0"
expect_refusal "a schedule beyond the run" "does not fit the scenario: the run has [0-9]+ choice points" --script "$work/race.scn" --schedule "9999:1"
expect_refusal "a schedule with a seed" "a schedule makes every choice" --script "$work/race.scn" --schedule "1:1" --seed 3
printf 'ok\nschedule 1:1\n' >"$work/late-schedule.scn"
expect_refusal "a schedule line after a command" "late-schedule\.scn:2: the schedule line comes before every command" --script "$work/late-schedule.scn"
expect_refusal "an exploration of a bad script" "bad\.scn:3: unknown command 'frobnicate'" --explore "$work/bad.scn"
expect_refusal "a bound beyond 8" "--preemptions needs a bound from 0 to 8" --explore "$work/race.scn" --preemptions 9
expect_refusal "a bound without the explorer" "--preemptions and --no-reduce go with --explore" --script "$work/race.scn" --preemptions 1
expect_refusal "explore and script at once" "--script goes without it" --explore "$work/race.scn" --script "$work/race.scn"

exit $((failures > 0))
