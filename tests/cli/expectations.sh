#!/bin/sh
# Every kind of expectation, once with what the device shows (the script
# passes, exit 0) and once with a wrong value (exit 1, and the report marks
# that line as failed).
#
#   expectations.sh CORVANE_SIM [EMULATOR...]
#
# EMULATOR (e.g. qemu-arm -cpu pxa255 -L /usr/arm-linux-gnueabi) runs a
# corvane-sim built for another machine; its words hold no spaces.
set -u
sim=$1
shift
emulator="$*"
run_sim() {
    # shellcheck disable=SC2086 # the emulator's words are split on purpose
    $emulator "$sim" "$@"
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# In the tray at 400 MHz after the first OK and the monitor's first pass.
tray='ok
wait 7s'

# check PROLOGUE RIGHT WRONG: "expect RIGHT" holds after PROLOGUE, "expect WRONG" fails.
check() {
    prologue=$1 right=$2 wrong=$3
    lines=$(printf '%s\n' "$prologue" | grep -c .)
    printf '%s\nexpect %s\n' "$prologue" "$right" | grep . >"$work/right.scn"
    printf '%s\nexpect %s\n' "$prologue" "$wrong" | grep . >"$work/wrong.scn"
    line=$((lines + 1))
    run_sim --script "$work/right.scn" --quiet >"$work/right.out" 2>&1
    right_status=$?
    run_sim --script "$work/wrong.scn" --quiet >"$work/wrong.out" 2>&1
    wrong_status=$?
    if [ "$right_status" -ne 0 ]; then
        echo "FAIL expect $right: status $right_status: $(grep '"ok":false' "$work/right.out")"
        failures=$((failures + 1))
    elif [ "$wrong_status" -ne 1 ] ||
        ! grep -F "{\"line\":$line,\"expect\":" "$work/wrong.out" | grep -qF '"ok":false'; then
        echo "FAIL expect $wrong: status $wrong_status, output: $(head -c 400 "$work/wrong.out")"
        failures=$((failures + 1))
    else
        echo "ok   expect $wrong: line $line fails"
    fi
}

check "" 'dialog visible' 'dialog hidden'
check "" 'check allow100 off' 'check allow100 on'
check "" 'check notify off' 'check notify on'
check "$tray" 'tray 109 "Turbo On"' 'tray 110 "Turbo On"'
check "" 'tray none' 'tray 109 "Turbo On"'
check "$tray" 'mhz 398.13' 'mhz 497.66'
check "$tray" 'cccr 0x241' 'cccr 0x2C1'
check "$tray" 'cclkcfg 3' 'cclkcfg 2'
check "$tray" 'turbo on' 'turbo off'
check "$tray" 'bubbles 0' 'bubbles 1'
check "$tray" 'bubble none' 'bubble "Speed set to 400 MHz"'
check "$tray" 'program running' 'program ended 0'
check "$tray" 'monitors 1' 'monitors 2'
check "$tray" 'mappings 0' 'mappings 1'
check "$tray" 'handles 0' 'handles 1'
check "notify
$tray" 'icons 1' 'icons 2'
check "$tray" 'app speedMode 1' 'app speedMode 2'

exit $((failures > 0))
