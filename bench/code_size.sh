#!/usr/bin/env bash
# The program's size for the PXA25x at -Os: its sources compiled as the ARM
# check compiles them, linked from WinMain with unused sections dropped (the
# platform's imports left unresolved, as a device link resolves them from
# coredll, commctrl and aygshell). Prints the code (.text) and the constant
# data (.rodata: texts, tables) in bytes. A benchmark, not a test.
#   bench/code_size.sh [CLANG [LD_LLD [LLVM_SIZE]]]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
clang=${1:-clang++} lld=${2:-ld.lld} size=${3:-llvm-size}
# shellcheck source=tests/arm/flags.sh
source "$here/tests/arm/flags.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT; [ -n "${KEEP:-}" ] && trap - EXIT && echo "work: $work"
objects=()
for source in "${ARM_PROGRAM_SOURCES[@]}"; do
    object="$work/$(basename "${source%.cpp}").o"
    "$clang" "${ARM_FLAGS[@]}" -I"$here" -isystem "$here/platform/wince/sdk-subset" \
        -c "$here/$source" -o "$object"
    objects+=("$object")
done
"$lld" -o "$work/corvane.elf" --gc-sections -e WinMain --unresolved-symbols=ignore-all \
    "${objects[@]}" 2>/dev/null || "$lld" -o "$work/corvane.elf" --gc-sections \
    -e _Z7WinMainP11HINSTANCE__S0_Pwi --unresolved-symbols=ignore-all "${objects[@]}"
"$size" -A "$work/corvane.elf" | awk '
    $1 == ".text"   { text = $2 }
    $1 == ".rodata" { rodata = $2 }
    $1 == ".data"   { data = $2 }
    $1 == ".bss"    { bss = $2 }
    END { printf "code (.text): %d bytes\nconstant data (.rodata): %d bytes\ndata: %d bytes, bss: %d bytes\n", text, rodata, data, bss }'
