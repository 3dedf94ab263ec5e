#!/usr/bin/env bash
# The size of the device build's image, build/device/corvane.elf (make device
# builds it): the program's code and the import stubs (.text), its constant
# data (.rdata: texts, tables), its data and the uninitialised part of it,
# the import tables, and corvane.exe's size on disk. A benchmark, not a test.
#   bench/code_size.sh [DEVICE_BUILD_DIR [LLVM_OBJDUMP]]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/device} objdump=${2:-llvm-objdump}
command -v "$objdump" >/dev/null || objdump=llvm-objdump-14
if [ ! -f "$build/corvane.elf" ] || [ ! -f "$build/corvane.exe" ]; then
    echo "no device build in $build: run make device first" >&2
    exit 1
fi
size_of() {
    local hex
    hex=$("$objdump" -h "$build/corvane.elf" | awk -v name="$1" '$2 == name { print $3 }')
    echo $((16#${hex:-0}))
}
stubs=$(grep -vc '^#' "$build/imports.txt")
printf 'code (.text): %d bytes, %d of them the %d import stubs\n' \
    "$(size_of .text)" $((stubs * 12)) "$stubs"
printf 'constant data (.rdata): %d bytes\n' "$(size_of .rdata)"
printf 'data: %d bytes, bss: %d bytes, import tables (.idata): %d bytes\n' \
    "$(size_of .data)" "$(size_of .bss)" "$(size_of .idata)"
printf 'corvane.exe: %d bytes\n' "$(stat -c %s "$build/corvane.exe")"
