#!/usr/bin/env bash
# Damaged copies of corvane.exe, each with one defect, get the loader's
# refusal with its reason and exit status 2, never a reason that hides the
# cause behind a table it makes unreachable; or, where the loader would load
# them, a program fault that says where, as the device would abort the
# program: never a crash of the simulator by the host's default action.
#   exe_refusals.sh CORVANE_SIM CORVANE_EXE SCENARIO [-- EMULATOR...]
set -u
sim=$1 exe=$2 scenario=$3
shift 3
[ $# -gt 0 ] && [ "$1" = "--" ] && shift
run=("$@" "$sim")
python=$(command -v /usr/bin/python3 || command -v python3)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each damaged copy: NAME, then what the damage does (Python over `b`, the
# file's bytes; `pe` the PE header, `opt` the optional header, `sections`
# the section table's (name, raw offset, raw size) rows).
"$python" - "$exe" "$work" <<'PY'
import struct, sys
src, work = sys.argv[1], sys.argv[2]
good = open(src, 'rb').read()
pe = struct.unpack_from('<I', good, 0x3C)[0]
opt = pe + 24
count = struct.unpack_from('<H', good, pe + 6)[0]
table = opt + struct.unpack_from('<H', good, pe + 20)[0]
sections = []
for i in range(count):
    at = table + 40 * i
    virtual_size, rva, raw_size, raw_offset = struct.unpack_from('<IIII', good, at + 8)
    sections.append((good[at:at + 8].rstrip(b'\0').decode(), raw_offset, raw_size, rva,
                     virtual_size))
symbol_map = open(src[:-len('.exe')] + '.map', 'rb').read()
def put(name, data):
    # Beside each copy its symbol map, as beside the exe, so that a refusal
    # is the image's and not a missing map's.
    open(f'{work}/{name}.exe', 'wb').write(data)
    open(f'{work}/{name}.map', 'wb').write(symbol_map)
def poke(fmt, at, value):
    b = bytearray(good)
    struct.pack_into(fmt, b, at, value)
    return bytes(b)
idata = next(s for s in sections if s[0] == '.idata')
put('cut_one_byte_into_idata', good[:idata[1] + idata[2] - 1])
last = sections[-1]
put('cut_one_byte_off_the_end', good[:last[1] + last[2] - 1])
put('base_off_64k', poke('<I', opt + 28, 0x10800))
put('no_sections', poke('<H', pe + 6, 0))
put('optional_header_240', poke('<H', pe + 20, 240))
b = bytearray(good)
at = good.lower().find(b'coredll.dll')
b[at:at + 11] = b'\x1b]0;pwn\x07\x1b[J'
put('terminal_escapes_in_a_dll_name', bytes(b))
# Loads (4 MB is the highest base), but its code addresses its data at the
# base it was linked for, where nothing is reserved.
put('fixed_at_4mb', poke('<I', opt + 28, 0x400000))
# The image's code leaving its code: an entry point in Thumb state, off a
# word, at the last word of .text; code zero-filled; no import directory,
# so that the program calls through address-table slots never filled.
entry = struct.unpack_from('<I', good, opt + 16)[0]
text = sections[0]
put('thumb_entry', poke('<I', opt + 16, entry | 1))
put('misaligned_entry', poke('<I', opt + 16, entry + 2))
put('entry_at_the_last_word_of_text', poke('<I', opt + 16, text[3] + text[4] - 4))
b = bytearray(good)
b[text[1]:text[1] + text[2]] = bytes(text[2])
put('text_zero_filled', bytes(b))
b = bytearray(good)
for name, raw_offset, raw_size, rva, virtual_size in sections:
    b[raw_offset:raw_offset + raw_size] = bytes(raw_size)
put('every_section_zero_filled', bytes(b))
put('import_directory_of_size_0', poke('<I', opt + 96 + 8 + 4, 0))
# Every literal that holds the address of the program's critical section
# (from the symbol map) made an address the program may not use: the first
# platform call handed it, InitializeCriticalSection, goes through it.
lock_rva = next(int(line.split()[0], 16) for line in symbol_map.decode().splitlines()
                if line.split()[-1:] == ['ClockLock'])
lock = struct.pack('<I', struct.unpack_from('<I', good, opt + 28)[0] + lock_rva)
b = bytearray(good)
for at in range(text[1], text[1] + text[2] - 3, 4):
    if b[at:at + 4] == lock:
        b[at:at + 4] = struct.pack('<I', 0x4DE5F002)
put('critical_section_at_a_wild_address', bytes(b))
PY

failures=0
# expect NAME PATTERN: exit 2, PATTERN in the refusal, no raw control byte.
expect() {
    local name=$1 pattern=$2
    "${run[@]}" --exe "$work/$name.exe" --script "$scenario" --quiet >"$work/out" 2>"$work/err"
    local status=$?
    if [ "$status" -ne 2 ] || ! grep -qF -- "$pattern" "$work/err" ||
        LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' "$work/err"; then
        echo "FAIL $name: status $status: $(head -c 400 "$work/err" | cat -v)"
        failures=$((failures + 1))
    else
        echo "ok   $name: $(head -n 1 "$work/err")"
    fi
}
expect cut_one_byte_into_idata "the file is truncated: section 4 (.idata)'s raw data"
expect cut_one_byte_off_the_end "the file is truncated: section 5 (.rsrc)'s raw data"
expect base_off_64k "its base 0x10800 is not a multiple of 64 KB"
expect no_sections "(error 193): no sections"
expect optional_header_240 "(error 193): optional header of 240 bytes"
# expect_fault NAME PATTERN: the run ends in a program fault that says
# where: the address and the instruction's.
expect_fault() {
    local name=$1 pattern=$2
    # In a subshell whose own stderr is dropped: the shell's "Aborted" notice
    # is not the simulator's report.
    ("${run[@]}" --exe "$work/$name.exe" --script "$scenario" --quiet >"$work/out" 2>"$work/err"; exit $?) \
        2>/dev/null
    local status=$?
    if [ "$status" -eq 0 ] || ! grep -qE -- "$pattern" "$work/err" ||
        grep -qE "uncaught target signal (11|7|4) " "$work/err"; then
        echo "FAIL $name: status $status: $(head -c 400 "$work/err" | cat -v)"
        failures=$((failures + 1))
    else
        echo "ok   $name: $(grep -m1 'program fault' "$work/err")"
    fi
}
expect_fault fixed_at_4mb "program fault: str at 0x[0-9A-F]+ \\(unreserved\\) by the instruction at 0x4[0-9A-F]{5}: no reserved range there"
abort="program fault: (prefetch|data|alignment or bus) abort at 0x[0-9a-f]{8} by the code at 0x[0-9a-f]{8}"
expect_fault thumb_entry "$abort \\(Thumb state"
expect_fault misaligned_entry "$abort \\(ARM state"
expect_fault entry_at_the_last_word_of_text "$abort \\(ARM state, outside the image's code"
expect_fault text_zero_filled "$abort \\(ARM state, outside the image's code"
expect_fault every_section_zero_filled "$abort"
expect_fault import_directory_of_size_0 "$abort \\(ARM state, outside the image's code"
expect_fault critical_section_at_a_wild_address "program fault: InitializeCriticalSection went through 0x4de5f002, an address the program handed it"
expect terminal_escapes_in_a_dll_name 'no DLL '"'"'\x1b]0;pwn\x07\x1b[J'"'"' on the device'
echo "$((14 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
