#!/usr/bin/env python3
"""corvane.exe as pefile reads it: the headers a Windows CE 3.0 loader
checks, the sections, the imports the program needs and no others, and every
resource of corvane.res with its bytes unchanged. Two more modes hold the
resources other readers found to the same .res:

    readers.py EXE RES NEEDS EXPORTS_DIR EXPECTED_OUT
    readers.py --llvm-readobj RES OUTPUT    (llvm-readobj --coff-resources EXE)
    readers.py --peres RES DIRECTORY        (where peres -X EXE extracted)

NEEDS lists the program's undefined symbols (llvm-nm -u of program.o), one a
line; each must be in an export list of EXPORTS_DIR, and the executable must
import exactly those, each as its list says. EXPECTED_OUT receives the
expected imports, "<dll> <function> <by-name|by-ordinal> <ordinal>" sorted,
for the other readers. Exits 1 with one line per failure.
"""
import os
import re
import struct
import sys

import pefile

IMAGE_BASE = 0x10000
MACHINE_ARM = 0x1C0
SUBSYSTEM_WINDOWS_CE_GUI = 9
CODE, INITIALIZED, EXECUTE, READ, WRITE = 0x20, 0x40, 0x20000000, 0x40000000, 0x80000000
SECTIONS = [
    (".text", CODE | EXECUTE | READ),
    (".rdata", INITIALIZED | READ),
    (".data", INITIALIZED | READ | WRITE),
    (".idata", INITIALIZED | READ | WRITE),
    (".rsrc", INITIALIZED | READ),
]
RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14
IDD_SETTINGS = 104

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def read_export_lists(directory):
    """{function: (dll, mode, ordinal)} from the lists' own format."""
    exports = {}
    for name in sorted(os.listdir(directory)):
        if not name.endswith(".exports"):
            continue
        dll = None
        for line in open(os.path.join(directory, name), encoding="ascii"):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            if dll is None:
                dll = words[1].lower()
                continue
            function, ordinal, mode = words
            exports[function] = (dll, mode, int(ordinal))
    return exports


def expected_imports(needs_path, exports_dir):
    exports = read_export_lists(exports_dir)
    expected = set()
    for symbol in open(needs_path).read().split():
        if check(symbol in exports, f"the program needs {symbol}, which no export list has"):
            dll, mode, ordinal = exports[symbol]
            expected.add((dll, symbol, mode, ordinal))
    return expected


def check_headers(pe):
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(header.Machine == MACHINE_ARM, f"machine {header.Machine:#x}, not 0x1C0")
    flags = header.Characteristics
    check(flags & 0x0002 and flags & 0x0001 and flags & 0x0100 and not flags & 0x2000,
          f"file characteristics {flags:#x}: not an executable without relocations")
    check(optional.Magic == 0x10B, "not a PE32 optional header")
    check(optional.Subsystem == SUBSYSTEM_WINDOWS_CE_GUI, f"subsystem {optional.Subsystem}")
    version = (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion)
    check(version <= (3, 0), f"subsystem version {version}, newer than 3.00")
    check(optional.ImageBase == IMAGE_BASE, f"image base {optional.ImageBase:#x}")
    check(optional.SectionAlignment == 0x1000 and optional.FileAlignment == 0x200,
          "section or file alignment")
    check(0x4000 <= optional.SizeOfStackReserve <= 0x100000,
          f"stack reserve {optional.SizeOfStackReserve:#x} outside 16 KB..1 MB")
    check(optional.CheckSum == pe.generate_checksum(), "the checksum is not the file's")
    directories = optional.DATA_DIRECTORY
    check(directories[5].Size == 0, "the image has base relocations")
    check(directories[14].VirtualAddress == 0 and directories[14].Size == 0,
          "the COM descriptor directory is not empty")


def check_sections(pe):
    found = [(s.Name.rstrip(b"\0").decode(), s.Characteristics) for s in pe.sections]
    check(found == SECTIONS, f"sections {found}")
    for section in pe.sections:
        check(section.VirtualAddress % 0x1000 == 0, f"{section.Name} not on a page")
    text = pe.sections[0]
    entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
    check(text.VirtualAddress <= entry < text.VirtualAddress + text.Misc_VirtualSize,
          "the entry point is not in .text")


def found_imports(pe):
    imports = set()
    for descriptor in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = descriptor.dll.decode().lower()
        check(descriptor.struct.OriginalFirstThunk != 0, f"{dll} has no lookup table")
        for function in descriptor.imports:
            if function.import_by_ordinal:
                imports.add((dll, function.ordinal, "by-ordinal"))
            else:
                imports.add((dll, function.name.decode(), "by-name"))
    return imports


def check_imports(pe, expected):
    wanted = set()
    for dll, function, mode, ordinal in expected:
        wanted.add((dll, ordinal if mode == "by-ordinal" else function, mode))
    found = found_imports(pe)
    for missing in sorted(wanted - found, key=str):
        failures.append(f"import missing: {missing}")
    for extra in sorted(found - wanted, key=str):
        failures.append(f"import the program does not need: {extra}")


def parse_id(data, offset):
    if struct.unpack_from("<H", data, offset)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
    end = offset
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def read_res(path):
    """{(type, name, language): data} of a .res, the leading empty entry skipped."""
    data = open(path, "rb").read()
    entries, offset = {}, 0
    while offset < len(data):
        data_size, header_size = struct.unpack_from("<II", data, offset)
        kind, at = parse_id(data, offset + 8)
        name, at = parse_id(data, at)
        at = (at + 3) & ~3
        language = struct.unpack_from("<H", data, at + 6)[0]
        body = data[offset + header_size:offset + header_size + data_size]
        if offset > 0:
            entries[(kind, name, language)] = body
        offset = (offset + header_size + data_size + 3) & ~3
    return entries


def directory_key(entry):
    return str(entry.name) if entry.name is not None else entry.id


def check_order(entries, level):
    named = [e for e in entries if e.name is not None]
    ids = [e.id for e in entries if e.name is None]
    check(entries[:len(named)] == named, f"{level}: named entries do not come first")
    check(ids == sorted(ids), f"{level}: ids not ascending")
    names = [str(e.name).upper() for e in named]
    check(names == sorted(names), f"{level}: names not ascending")


def found_resources(pe):
    resources = {}
    root = pe.DIRECTORY_ENTRY_RESOURCE.entries
    check_order(root, "types")
    for kind in root:
        check_order(kind.directory.entries, f"names of type {directory_key(kind)}")
        for name in kind.directory.entries:
            check_order(name.directory.entries, "languages")
            for language in name.directory.entries:
                entry = language.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                check(entry.OffsetToData % 4 == 0, "resource data not aligned")
                resources[(directory_key(kind), directory_key(name), language.id)] = data
    return resources


def check_resource_tree(pe, res_path):
    """The directory's order, and every resource of the .res with its data."""
    found = found_resources(pe)
    same_resources(found, read_res(res_path))
    return found


def same_resources(found, expected):
    """found, expected: {(type, name, language): data}, as one reader and the .res have them."""
    check(found.keys() == expected.keys(),
          f"resources differ: {sorted(found.keys() ^ expected.keys(), key=str)}")
    for key in sorted(found.keys() & expected.keys(), key=str):
        check(found[key] == expected[key], f"resource {key}: its data differs from the .res")


def compare_resources(found, expected):
    """As same_resources, and the program's own: its dialog and its icons."""
    same_resources(found, expected)
    kinds = {kind for kind, _, _ in found}
    check(any(k == RT_DIALOG and n == IDD_SETTINGS for k, n, _ in found), "no dialog 104")
    check(RT_GROUP_ICON in kinds and RT_ICON in kinds, "no icon groups or no icons")


def readobj_resources(path):
    """{(type, name, language): data} from llvm-readobj's tree: "Type: ICON (ID 3) [",
    "Name: (ID 1) [" or "Name: SOMENAME [", "Language: (ID 1033) [", then the leaf's
    "DataSize: N" and "Data (" with lines "0010: 00000000 80020000 ...  |ascii|" that
    print the bytes in file order, four to a group."""
    resources, where, data, size = {}, {}, None, None
    for line in open(path, encoding="utf-8"):
        text = line.strip()
        level = re.fullmatch(r"(Type|Name|Language): (.*) \[", text)
        if level:
            number = re.search(r"\(ID (\d+)\)$", level[2])
            where[level[1]] = int(number[1]) if number else level[2]
        elif text.startswith("DataSize:"):
            size = int(text.split()[1])
        elif text == "Data (":
            data, in_sequence = bytearray(), True
        elif data is not None and text == ")":
            key = (where["Type"], where["Name"], where["Language"])
            check(len(data) == size, f"resource {key}: {len(data)} bytes shown, DataSize {size}")
            check(in_sequence, f"resource {key}: the dump's row offsets are out of sequence")
            resources[key] = bytes(data)
            data = None
        elif data is not None:
            hexes, ascii_ = text.split("|", 1)
            offset, groups = hexes.split(":")
            row = bytes.fromhex(groups)
            in_sequence = in_sequence and int(offset, 16) == len(data)
            shown = "".join(chr(b) if 0x20 <= b < 0x7F else "." for b in row)
            check(ascii_ == shown + "|", f"dump row {offset}: the bytes are not read in order")
            data += row
    return resources


# peres's names for the predefined types; index = type id.
PERES_TYPES = [None, "RT_CURSOR", "RT_BITMAP", "RT_ICON", "RT_MENU", "RT_DIALOG", "RT_STRING",
               "RT_FONTDIR", "RT_FONT", "RT_ACCELERATOR", "RT_RCDATA", "RT_MESSAGETABLE",
               "RT_GROUP_CURSOR", None, "RT_GROUP_ICON", None, "RT_VERSION"]


def peres_resources(directory):
    """{(type, name, language): data} from peres -X's files, "<dir>/RT_ICON 0001 0409.ico"
    (type, name and language in hex). peres writes an icon as a .ico file: a 22-byte
    header (one image, at offset 22) before the resource's data, which is stripped here.
    (An icon whose bitmap header peres cannot read it writes bare, and that fails here.)"""
    resources = {}
    for folder, _, files in os.walk(directory):
        for file in files:
            kind, name, language = os.path.splitext(file)[0].split(" ")
            kind = PERES_TYPES.index(kind) if kind in PERES_TYPES else kind
            key = (kind, int(name, 16), int(language, 16))
            data = open(os.path.join(folder, file), "rb").read()
            if kind == RT_ICON:
                check(data[:6] == b"\0\0\1\0\1\0" and data[18:22] == struct.pack("<I", 22),
                      f"resource {key}: not a one-image .ico")
                data = data[22:]
            check(key not in resources, f"resource {key} extracted twice")
            resources[key] = data
    return resources


def check_other_reader(reader, res_path, found_path):
    found = (readobj_resources if reader == "llvm-readobj" else peres_resources)(found_path)
    compare_resources(found, read_res(res_path))
    for failure in failures:
        print(f"FAIL ({reader}): {failure}", file=sys.stderr)
    if not failures:
        print(f"ok ({reader}): {len(found)} resources as in the .res")
    return 1 if failures else 0


def main():
    if sys.argv[1] in ("--llvm-readobj", "--peres"):
        return check_other_reader(sys.argv[1][2:], *sys.argv[2:4])
    exe, res, needs, exports_dir, expected_out = sys.argv[1:6]
    expected = expected_imports(needs, exports_dir)
    with open(expected_out, "w") as out:
        for dll, function, mode, ordinal in sorted(expected):
            out.write(f"{dll} {function} {mode} {ordinal}\n")
    pe = pefile.PE(exe)
    for warning in pe.get_warnings():
        # pefile remarks on any file that is mostly zeros, as a small image is.
        check(warning.startswith("Byte 0x00 makes up"), f"pefile: {warning}")
    check_headers(pe)
    check_sections(pe)
    check_imports(pe, expected)
    compare_resources(check_resource_tree(pe, res), read_res(res))
    for failure in failures:
        print(f"FAIL (pefile): {failure}", file=sys.stderr)
    if not failures:
        print(f"ok (pefile): headers, {len(pe.sections)} sections, {len(expected)} imports, "
              f"{len(read_res(res))} resources as in the .res")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
