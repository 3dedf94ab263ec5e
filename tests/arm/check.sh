#!/usr/bin/env bash
# The ARM check: the program's own sources compiled for the PXA25x
# (ARMv5TE, ARM mode, 16-bit wchar_t) in the strictest language mode the
# program keeps (C++98, pedantic, no exceptions or RTTI), against the device
# declarations. Compiling asserts the tray and bubble record sizes (152 and
# 56 bytes); the disassembly must show the two coprocessor routines as
# exactly one MRC / MCR of CP14 register 6 each, and no instruction beyond
# ARMv5TE anywhere.
#
# Last, the import definitions for aygshell's bubble functions must make an
# import library that names both.
#
#   check.sh SOURCE_DIR WORK_DIR [CLANG [LLVM_OBJDUMP [LLVM_READELF [LLVM_DLLTOOL [LLVM_NM]]]]]
set -euo pipefail
src=$1 work=$2
clang=${3:-clang++} objdump=${4:-llvm-objdump} readelf=${5:-llvm-readelf}
dlltool=${6:-llvm-dlltool} nm=${7:-llvm-nm}

# Compiles every program source into $work; shared with the size benchmark.
# shellcheck source=tests/arm/flags.sh
source "$src/tests/arm/flags.sh"
rm -rf "$work"
mkdir -p "$work"
failed=0
for source in "${ARM_PROGRAM_SOURCES[@]}"; do
    object="$work/$(basename "${source%.cpp}").o"
    if ! "$clang" "${ARM_FLAGS[@]}" -I"$src" -isystem "$src/platform/wince/sdk-subset" \
        -c "$src/$source" -o "$object"; then
        echo "FAIL: $source does not compile for the device" >&2
        failed=1
    fi
done
[ "$failed" -eq 0 ] || exit 1
echo "ok: ${#ARM_PROGRAM_SOURCES[@]} sources compile for ARMv5TE (C++98, record sizes asserted)"

# The instructions of one function, operands normalised: "mrc p14, #0, r0, c6, c0, #0".
function_body() {
    "$objdump" -d --no-show-raw-insn --triple=armv5te-none-eabi "$1" |
        awk -v fn="<$2>:" '
            $2 == fn { inside = 1; next }
            inside && NF == 0 { exit }
            inside { sub(/^[ \t]*[0-9a-f]+:[ \t]*/, ""); gsub(/[ \t]+/, " "); print }'
}

check_routine() {
    local object=$1 symbol=$2 pattern=$3
    local body
    body=$(function_body "$object" "$symbol")
    if ! printf '%s\n' "$body" | head -n 1 | grep -qE "^$pattern$" ||
        [ "$(printf '%s\n' "$body" | sed -n 2p)" != "bx lr" ] ||
        [ "$(printf '%s\n' "$body" | wc -l)" -ne 2 ]; then
        echo "FAIL: $symbol is not exactly '$pattern; bx lr':" >&2
        printf '%s\n' "$body" | sed 's/^/    /' >&2
        return 1
    fi
    echo "ok: $symbol is $(printf '%s\n' "$body" | head -n 1)"
}
check_routine "$work/coprocessor.o" _Z11ReadCclkcfgv 'mrc p14, #0, r[0-9]+, c6, c0, #0'
check_routine "$work/coprocessor.o" _Z12WriteCclkcfgm 'mcr p14, #0, r[0-9]+, c6, c0, #0'

# Nothing beyond ARMv5TE. The code is decoded as ARMv7-A, a superset that
# also knows the later instructions (LLVM 14 cannot decode the pre-v6 form
# of MUL as ARMv5TE), and every mnemonic must be one ARMv5TE has, with an
# optional S and condition. The objects must also say they are built for
# v5TE, with no Thumb-2.
v5te='adc|add|and|asr|b|bic|bkpt|bl|blx|bx|cdp|cdp2|clz|cmn|cmp|eor|ldc|ldc2|ldm|ldmda|ldmdb|ldmib'
v5te+='|ldr|ldrb|ldrbt|ldrd|ldrh|ldrsb|ldrsh|ldrt|lsl|lsr|mcr|mcr2|mcrr|mla|mov|mrc|mrc2|mrrc|mrs'
v5te+='|msr|mul|mvn|orr|pld|pop|push|qadd|qdadd|qdsub|qsub|ror|rrx|rsb|rsc|sbc|smla(bb|bt|tb|tt)'
v5te+='|smlal|smlal(bb|bt|tb|tt)|smlaw(b|t)|smul(bb|bt|tb|tt)|smull|smulw(b|t)|stc|stc2|stm|stmda'
v5te+='|stmdb|stmib|str|strb|strbt|strd|strh|strt|sub|svc|swp|swpb|teq|tst|umlal|umull'
allowed="^($v5te)s?(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?$"
for object in "$work"/*.o; do
    # Mnemonics of the code; literal pools show as raw bytes and are skipped.
    mnemonics=$("$objdump" -d --no-show-raw-insn --triple=armv7a-none-eabi "$object" |
        awk '/^ *[0-9a-f]+:/ {
                 sub(/^[ \t]*[0-9a-f]+:[ \t]*/, "")
                 if ($1 ~ /^[0-9a-f][0-9a-f]$/ && $2 ~ /^[0-9a-f][0-9a-f]$/) next
                 print $1
             }')
    bad=$(printf '%s\n' "$mnemonics" | grep -vE "$allowed" | sort -u || true)
    if [ -n "$bad" ]; then
        echo "FAIL: $(basename "$object") uses instructions ARMv5TE does not have:" >&2
        printf '    %s\n' $bad >&2
        failed=1
    fi
    attributes=$("$readelf" -A "$object")
    if ! grep -qE 'Description: ARM v5TE$' <<<"$attributes" || grep -q 'Thumb-2' <<<"$attributes"; then
        echo "FAIL: $(basename "$object") is not marked as ARMv5TE code without Thumb-2" >&2
        failed=1
    fi
done
[ "$failed" -eq 0 ] || exit 1
echo "ok: no instruction beyond ARMv5TE in $(ls "$work"/*.o | wc -l) objects"

# The imports: llvm-dlltool makes ARM (NT) COFF rather than the CE machine
# type, so this checks the names the library will carry, not the machine.
"$dlltool" -m arm -d "$src/platform/wince/aygshell-notification.def" -l "$work/aygshell-notification.a"
for name in SHNotificationAdd SHNotificationRemove; do
    if ! "$nm" "$work/aygshell-notification.a" 2>/dev/null | grep -qE " T __imp_$name$"; then
        echo "FAIL: the aygshell import library does not import $name" >&2
        exit 1
    fi
done
echo "ok: the aygshell import definitions import SHNotificationAdd and SHNotificationRemove"
