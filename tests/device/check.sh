#!/usr/bin/env bash
# The device check: what the device build (platform/wince) made of the
# program, examined.
#
# - The two coprocessor routines are exactly one MRC / MCR of CP14 register
#   6 (CCLKCFG) each, followed by bx lr.
# - Every instruction of every object, and of the linked image, is one
#   ARMv5TE has; none is an LDRD or STRD, which need an 8-byte aligned
#   address and would fault on the 4-byte aligned stack a Windows CE thread
#   gets (the build targets ARMv5T, which has neither); the objects are
#   marked as ARMv5T(E) code without Thumb-2.
# - The record layouts are checked while compiling (shared/layout.h, which
#   the device headers include): a probe shows that they are.
# - No call into the platform passes a 64-bit argument or returns a
#   structure: those are where the Windows CE calling convention and the
#   EABI the compiler follows differ. For every function the executable
#   imports, its declaration in the device headers takes arguments of at
#   most 4 bytes, none a structure, and returns void or a scalar of at most
#   4 bytes; the checker itself must reject a declaration that breaks this.
# - Last, the image's code size.
#
#   check.sh ROOT OBJECTS_DIR IMAGE IMPORT_LIST FLAGS_FILE DEVICE_CXX LLVM_OBJDUMP LLVM_READELF WORK_DIR
set -euo pipefail
root=$1 objects=$2 image=$3 import_list=$4 flags_file=$5
cxx=$6 objdump=$7 readelf=$8 work=$9

mapfile -t flags <"$flags_file"
rm -rf "$work"
mkdir -p "$work"
failed=0

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
    echo "ok: $symbol is $(printf '%s\n' "$body" | head -n 1); bx lr"
}
check_routine "$objects/coprocessor.o" _Z11ReadCclkcfgv 'mrc p14, #0, r[0-9]+, c6, c0, #0'
check_routine "$objects/coprocessor.o" _Z12WriteCclkcfgm 'mcr p14, #0, r[0-9]+, c6, c0, #0'

# The mnemonics of a file's code; literal pools (raw bytes, .word) are skipped.
# The code is decoded as ARMv7-A, a superset that also knows the later
# instructions (LLVM 14 cannot decode the pre-v6 form of MUL as ARMv5TE).
mnemonics() {
    "$objdump" -d --no-show-raw-insn --triple=armv7a-none-eabi "$1" |
        awk '/^ *[0-9a-f]+:/ {
                 sub(/^[ \t]*[0-9a-f]+:[ \t]*/, "")
                 if ($1 ~ /^[0-9a-f][0-9a-f]$/ && $2 ~ /^[0-9a-f][0-9a-f]$/) next
                 if ($1 ~ /^\./) next
                 print $1
             }'
}

v5te='adc|add|and|asr|b|bic|bkpt|bl|blx|bx|cdp|cdp2|clz|cmn|cmp|eor|ldc|ldc2|ldm|ldmda|ldmdb|ldmib'
v5te+='|ldr|ldrb|ldrbt|ldrd|ldrh|ldrsb|ldrsh|ldrt|lsl|lsr|mcr|mcr2|mcrr|mla|mov|mrc|mrc2|mrrc|mrs'
v5te+='|msr|mul|mvn|orr|pld|pop|push|qadd|qdadd|qdsub|qsub|ror|rrx|rsb|rsc|sbc|smla(bb|bt|tb|tt)'
v5te+='|smlal|smlal(bb|bt|tb|tt)|smlaw(b|t)|smul(bb|bt|tb|tt)|smull|smulw(b|t)|stc|stc2|stm|stmda'
v5te+='|stmdb|stmib|str|strb|strbt|strd|strh|strt|sub|svc|swp|swpb|teq|tst|umlal|umull'
conditions='(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?'
allowed="^($v5te)s?$conditions$"
doubleword="^(ldrd|strd)$conditions$"

check_code() {
    local file=$1 found
    found=$(mnemonics "$file")
    if [ -z "$found" ]; then
        echo "FAIL: no code found in $(basename "$file")" >&2
        return 1
    fi
    local bad
    bad=$(printf '%s\n' "$found" | grep -vE "$allowed" | sort -u || true)
    if [ -n "$bad" ]; then
        echo "FAIL: $(basename "$file") uses instructions ARMv5TE does not have: ${bad//$'\n'/ }" >&2
        return 1
    fi
    bad=$(printf '%s\n' "$found" | grep -E "$doubleword" | sort -u || true)
    if [ -n "$bad" ]; then
        echo "FAIL: $(basename "$file") uses doubleword accesses: ${bad//$'\n'/ }" >&2
        return 1
    fi
}

check_attributes() {
    local attributes
    attributes=$("$readelf" -A "$1")
    if ! grep -qE 'Description: ARM v5TE?$' <<<"$attributes" || grep -q 'Thumb-2' <<<"$attributes"; then
        echo "FAIL: $(basename "$1") is not marked as ARMv5T(E) code without Thumb-2" >&2
        return 1
    fi
}

count=0
for object in "$objects"/*.o; do
    count=$((count + 1))
    check_code "$object" || failed=1
    check_attributes "$object" || failed=1
done
check_code "$image" || failed=1
[ "$failed" -eq 0 ] || exit 1
echo "ok: $count objects and the image: ARMv5TE instructions only, no ldrd/strd; objects marked v5T(E)"

# The layout checks are in force for the device build: its headers include
# shared/layout.h, whose checks are active when compiling for ARM.
cat >"$work/layout_probe.cpp" <<'PROBE'
#include "platform/platform.h"
#ifndef CORVANE_PLATFORM_WINCE_SHARED_LAYOUT_H
#error the device headers do not include the record layout checks
#endif
#if !defined(__arm__)
#error the record layout checks are not active for the device build
#endif
PROBE
if ! "$cxx" "${flags[@]}" -fsyntax-only "$work/layout_probe.cpp"; then
    echo "FAIL: the record layouts are not checked in the device build" >&2
    exit 1
fi
echo "ok: the record layouts are checked while compiling (shared/layout.h)"

# The platform calls: a translation unit with a static_assert per imported
# function, over its declaration in the device headers, compiled by the
# device compiler as C++11; and one over three declarations that break the
# rule, which must all be refused.
checker="$root/tests/device/platform_call_check.h"
{
    echo '#include "platform/platform.h"'
    echo '#include <string.h>'
    echo "#include \"$checker\""
    awk '!/^#/ && NF >= 2 {
        printf "static_assert(CORVANE_PLATFORM_CALL_OK(decltype(%s)), \"%s (%s) passes or returns more than a 4-byte scalar\");\n", $2, $2, $1
    }' "$import_list"
} >"$work/platform_calls.cpp"
imports=$(grep -c '^static_assert' "$work/platform_calls.cpp" || true)
if [ "$imports" -eq 0 ]; then
    echo "FAIL: no imports in $import_list" >&2
    exit 1
fi
if ! "$cxx" "${flags[@]}" -std=c++11 -fsyntax-only "$work/platform_calls.cpp"; then
    echo "FAIL: a platform call crosses with more than 4-byte scalars (see above)" >&2
    exit 1
fi
cat >"$work/platform_calls_refused.cpp" <<PROBE
#include "platform/platform.h"
#include "$checker"
extern "C" void TakesWide(unsigned long long value);
extern "C" GUID ReturnsRecord(void);
extern "C" void TakesRecord(GUID value);
static_assert(!CORVANE_PLATFORM_CALL_OK(decltype(TakesWide)), "a 64-bit argument is let through");
static_assert(!CORVANE_PLATFORM_CALL_OK(decltype(ReturnsRecord)), "a structure result is let through");
static_assert(!CORVANE_PLATFORM_CALL_OK(decltype(TakesRecord)), "a structure argument is let through");
PROBE
if ! "$cxx" "${flags[@]}" -std=c++11 -fsyntax-only "$work/platform_calls_refused.cpp"; then
    echo "FAIL: the platform call check lets a bad declaration through" >&2
    exit 1
fi
echo "ok: $imports imported functions take and return 4-byte scalars only (a 64-bit argument, a structure argument and a structure result are refused)"

# The image's code size.
section_size() {
    local hex
    hex=$("$objdump" -h "$image" | awk -v name="$1" '$2 == name { print $3 }')
    echo $((16#${hex:-0}))
}
text=$(section_size .text)
rdata=$(section_size .rdata)
stubs=$(awk '!/^#/ && NF >= 2' "$import_list" | wc -l)
echo "code size: .text $text bytes ($((stubs * 12)) of them the $stubs import stubs), .rdata $rdata bytes"
