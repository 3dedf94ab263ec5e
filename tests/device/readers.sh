#!/usr/bin/env bash
# Three independent PE readers accept corvane.exe: pefile (readers.py), pev
# (readpe, and peres for the resources) and llvm-readobj. Each must see an
# ARM (0x1C0) Windows CE GUI executable of subsystem version 3.00 or older at
# image base 0x10000, importing exactly what the program needs (its undefined
# symbols, matched to the export lists), each function by name or by ordinal
# as its list says, and holding every resource of the .res (type, name,
# language) with its bytes unchanged, and no other.
#
#   readers.sh EXE RES PROGRAM_OBJECT EXPORTS_DIR PYTHON READPE LLVM_READOBJ LLVM_NM WORK_DIR
set -euo pipefail
exe=$(realpath "$1") res=$2 program=$3 exports=$4 python=$5 readpe=$6 readobj=$7 nm=$8 work=$9
here=$(cd "$(dirname "$0")" && pwd)
peres=$(dirname "$readpe")/peres  # pev installs its tools side by side
rm -rf "$work"
mkdir -p "$work"
failed=0

"$nm" -u --format=just-symbols "$program" >"$work/needs.txt"
if [ ! -s "$work/needs.txt" ]; then
    echo "FAIL: $program needs nothing from the platform" >&2
    exit 1
fi
"$python" "$here/readers.py" "$exe" "$res" "$work/needs.txt" "$exports" "$work/expected.txt" ||
    failed=1
# What the other readers must list: "<dll> <function or #ordinal>".
awk '{ print $1, ($3 == "by-ordinal" ? "#" $4 : $2) }' "$work/expected.txt" | sort >"$work/want.txt"

compare_imports() {
    local reader=$1
    if ! diff -u "$work/want.txt" "$work/$reader.txt" >"$work/$reader.diff"; then
        echo "FAIL ($reader): the imports differ from the program's needs (- wanted, + found):" >&2
        cat "$work/$reader.diff" >&2
        failed=1
    fi
}

# A header field as a reader prints it, "<label>,<value>" (readpe's CSV).
field() {
    awk -F, -v label="$2" '$1 == label { print $2; exit }' "$1"
}

check_readpe() {
    "$readpe" -f csv -H "$exe" >"$work/readpe-headers.csv"
    local machine subsystem major minor base
    machine=$(field "$work/readpe-headers.csv" Machine)
    subsystem=$(field "$work/readpe-headers.csv" "Subsystem required")
    major=$(field "$work/readpe-headers.csv" "Major version of subsystem")
    minor=$(field "$work/readpe-headers.csv" "Minor version of subsystem")
    base=$(field "$work/readpe-headers.csv" ImageBase)
    if [[ "$machine" != "0x1c0 IMAGE_FILE_MACHINE_ARM" || "$subsystem" != 0x9* ||
        $((major * 100 + minor)) -gt 300 || "$base" != 0x10000 ]]; then
        echo "FAIL (readpe): machine '$machine', subsystem '$subsystem' $major.$minor, base '$base'" >&2
        failed=1
    fi
    "$readpe" -f csv -i "$exe" | awk -F, '
        $1 == "Library" { library = 1; next }
        $1 == "Function" { function_ = 1; next }
        $1 == "Name" && library { dll = tolower($2); library = 0; next }
        $1 == "Name" && function_ { print dll, $2; function_ = 0; next }
        $1 == "Ordinal" && function_ { print dll, "#" $2; function_ = 0; next }' |
        sort >"$work/readpe.txt"
    compare_imports readpe
    # peres -X writes each resource to resources/<kind>/"<type> <name> <language>.<ext>".
    mkdir "$work/peres"
    (cd "$work/peres" && "$peres" -X "$exe" >../peres.log)
    "$python" "$here/readers.py" --peres "$res" "$work/peres/resources" || failed=1
}

check_readobj() {
    "$readobj" --file-headers --sections --coff-imports "$exe" >"$work/readobj.txt.raw"
    local raw=$work/readobj.txt.raw
    if ! grep -q 'Machine: IMAGE_FILE_MACHINE_ARM (0x1C0)' "$raw" ||
        ! grep -q 'Subsystem: IMAGE_SUBSYSTEM_WINDOWS_CE_GUI (0x9)' "$raw" ||
        ! grep -qx '  ImageBase: 0x10000' "$raw" ||
        [ $(($(awk '/MajorSubsystemVersion:/ { print $2 }' "$raw") * 100 +
            $(awk '/MinorSubsystemVersion:/ { print $2 }' "$raw"))) -gt 300 ]; then
        echo "FAIL (llvm-readobj): not an ARM Windows CE GUI (<= 3.00) image at 0x10000" >&2
        failed=1
    fi
    # "Symbol: Name (hint)" for a name, "Symbol:  (ordinal)" for an ordinal.
    awk '
        /^Import \{/ { inside = 1; next }
        inside && $1 == "Name:" { dll = tolower($2); next }
        inside && $1 == "Symbol:" && NF == 3 { print dll, $2; next }
        inside && $1 == "Symbol:" && NF == 2 { gsub(/[()]/, "", $2); print dll, "#" $2; next }
        /^\}/ { inside = 0 }' "$raw" | sort >"$work/llvm-readobj.txt"
    compare_imports llvm-readobj
    "$readobj" --coff-resources "$exe" >"$work/readobj-resources.txt"
    "$python" "$here/readers.py" --llvm-readobj "$res" "$work/readobj-resources.txt" || failed=1
}

check_readpe
check_readobj
[ "$failed" -eq 0 ] || exit 1
echo "ok (readpe, llvm-readobj): ARM Windows CE GUI image at 0x10000, $(wc -l <"$work/want.txt") imports as the program needs"
