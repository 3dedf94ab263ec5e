#!/usr/bin/env bash
# mkpe refuses bad input with a message that names what is wrong and where,
# exits 1, and writes nothing: no output file appears, and one left from
# before is not touched.
#
#   bad_input.sh MKPE DEVICE_AS DEVICE_LD EXPORTS_DIR RES IMAGE PROGRAM_OBJECT WORK_DIR
set -euo pipefail
mkpe=$1 as=$2 ld=$3 exports=$4 res=$5 image=$6 program=$7 work=$8
rm -rf "$work"
mkdir -p "$work"
lists=("$exports"/*.exports)
failed=0

# expect_refusal NAME MESSAGE_PATTERN COMMAND...: COMMAND must exit 1 with a
# line matching MESSAGE_PATTERN (grep -E) on stderr, and leave the outputs
# (out.s, out.txt, out.exe, out.map in $work/NAME) as they were.
expect_refusal() {
    local name=$1 pattern=$2
    shift 2
    local dir=$work/$name status=0
    mkdir -p "$dir"
    echo stale >"$dir/out.map"
    (cd "$dir" && "$@") 2>"$dir/stderr" >/dev/null || status=$?
    if [ "$status" -ne 1 ]; then
        echo "FAIL: $name: exit status $status, not 1" >&2
        failed=1
    elif ! grep -qE "$pattern" "$dir/stderr"; then
        echo "FAIL: $name: no message matching '$pattern'; mkpe said:" >&2
        sed 's/^/    /' "$dir/stderr" >&2
        failed=1
    elif [ -e "$dir/out.s" ] || [ -e "$dir/out.txt" ] || [ -e "$dir/out.exe" ] ||
        [ "$(cat "$dir/out.map")" != stale ] || compgen -G "$dir/*tmp*" >/dev/null; then
        echo "FAIL: $name: an output was written: $(cd "$dir" && echo *)" >&2
        failed=1
    else
        echo "ok: $name: $(head -n 1 "$dir/stderr")"
    fi
}

imports() { "$mkpe" imports "$@" --asm out.s --list out.txt; }
write() { "$mkpe" write "$@" --exe out.exe --map out.map; }

# An object that calls what no DLL exports: a libgcc helper, and another.
cat >"$work/helpers.s" <<'EOF'
    .arch armv5t
    .text
    .global Divide
Divide:
    bl __aeabi_uidiv
    bl __aeabi_ldivmod
    bl Sleep
    bx lr
EOF
"$as" -o "$work/helpers.o" "$work/helpers.s"
"$ld" -r -o "$work/helpers.ro" "$work/helpers.o"
expect_refusal unknown_symbol \
    '^mkpe: undefined symbol __aeabi_uidiv is exported by no DLL in the lists$' \
    imports "$work/helpers.ro" "${lists[@]}"
expect_refusal every_unknown_symbol_named \
    '^mkpe: undefined symbol __aeabi_ldivmod is exported by no DLL in the lists$' \
    imports "$work/helpers.ro" "${lists[@]}"

# Export lists with a bad line: the message names the file and the line.
bad_list() {
    local name=$1 line=$2 replacement=$3
    awk -v line="$line" -v text="$replacement" 'NR == line { print text; next } { print }' \
        "$exports/coredll.exports" >"$work/$name.exports"
}
sleep_line=$(grep -n '^Sleep ' "$exports/coredll.exports" | cut -d: -f1)
library_line=$(grep -n '^library ' "$exports/coredll.exports" | cut -d: -f1)
bad_list bad_ordinal "$sleep_line" 'Sleep four-nine-six by-name'
bad_list bad_mode "$sleep_line" 'Sleep 496 by-hint'
bad_list extra_word "$sleep_line" 'Sleep 496 by-name coredll'
bad_list ordinal_twice "$sleep_line" 'Sleep 492 by-name'
bad_list no_library "$library_line" '# no library line'
for case in bad_ordinal bad_mode extra_word ordinal_twice; do
    expect_refusal "list_$case" "^mkpe: $work/$case.exports:$sleep_line: " \
        imports "$program" "$work/$case.exports"
done
expect_refusal list_without_library "^mkpe: $work/no_library.exports:[0-9]+: expected 'library" \
    imports "$program" "$work/no_library.exports"
bad_list other_dll "$library_line" 'library other.dll'
expect_refusal function_in_two_lists "^mkpe: $work/other_dll.exports:[0-9]+: .* is listed for another DLL too, at " \
    imports "$program" "${lists[@]}" "$work/other_dll.exports"
# A DLL listed twice (its name in another case: the loader ignores case),
# and a DLL name that would break the assembly's string.
bad_list same_dll "$library_line" 'library COREDLL.DLL'
expect_refusal dll_in_two_lists "^mkpe: $work/same_dll.exports: COREDLL.DLL has a list already" \
    imports "$program" "${lists[@]}" "$work/same_dll.exports"
bad_list bad_dll_name "$library_line" 'library core"dll.dll'
expect_refusal bad_dll_name "^mkpe: $work/bad_dll_name.exports:$library_line: 'core\"dll.dll' is not a DLL name" \
    imports "$program" "$work/bad_dll_name.exports"

# Corrupt resource files: cut short, an entry claiming more than the file
# holds, a file that does not begin with the empty entry, an empty file, and
# one whose first resource comes twice (the same type, name and language).
size=$(stat -c %s "$res")
head -c $((size - 100)) "$res" >"$work/short.res"
cp "$res" "$work/oversized.res"
printf '\xff\xff\xff\x7f' | dd of="$work/oversized.res" bs=1 seek=32 conv=notrunc status=none
tail -c +33 "$res" >"$work/headless.res"
: >"$work/empty.res"
read -r data_size header_size < <(od -An -tu4 -j32 -N8 "$res")
first_entry=$(((header_size + data_size + 3) / 4 * 4))
cp "$res" "$work/twice.res"
head -c $((32 + first_entry)) "$res" | tail -c +33 >>"$work/twice.res"
expect_refusal res_cut_short "^mkpe: $work/short.res: at offset 0x[0-9a-f]+: " \
    write "$image" "$work/short.res"
expect_refusal res_oversized_entry \
    "^mkpe: $work/oversized.res: at offset 0x20: resource header or data runs past the end" \
    write "$image" "$work/oversized.res"
expect_refusal res_without_leading_entry "^mkpe: $work/headless.res: .*not a 32-bit resource file" \
    write "$image" "$work/headless.res"
expect_refusal res_empty "^mkpe: $work/empty.res: at offset 0x0: not a 32-bit resource file" \
    write "$image" "$work/empty.res"
expect_refusal res_entry_twice \
    "^mkpe: $work/twice.res: a second resource of type [0-9]+, name [^ ]+ and language [0-9]+$" \
    write "$image" "$work/twice.res"

# ELF files that are not what they should be: cut short, not ELF at all, an
# image where an object belongs and an object where the image belongs.
head -c 2000 "$image" >"$work/short.elf"
head -c 40 "$image" >"$work/stub.elf"
expect_refusal elf_cut_short "^mkpe: $work/short.elf: at offset 0x[0-9a-f]+: " \
    write "$work/short.elf" "$res"
expect_refusal elf_header_only "^mkpe: $work/stub.elf: at offset 0x0: not an ELF file" \
    write "$work/stub.elf" "$res"
expect_refusal not_elf "^mkpe: $res: at offset 0x0: not an ELF file" write "$res" "$res"
expect_refusal image_for_object "not a relocatable object" imports "$image" "${lists[@]}"
expect_refusal object_for_image "not a linked executable" write "$program" "$res"

[ "$failed" -eq 0 ] || exit 1
echo "ok: every bad input refused, nothing written"
