#!/usr/bin/env python3
"""mkpe's resource directory beyond what corvane.res needs: named types and
names (which must come first at their level, sorted without regard to case),
ordinals out of order, several languages of one resource, and data of sizes
that leave it unaligned. A .res holding them is written here, mkpe writes an
executable with it, and pefile must find each resource with its bytes at its
place. Two names that differ only in case must be refused.

    resource_tree.py MKPE IMAGE WORK_DIR
"""
import os
import struct
import subprocess
import sys

import pefile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import readers  # noqa: E402


def res_id(value):
    if isinstance(value, int):
        return struct.pack("<HH", 0xFFFF, value)
    return value.encode("utf-16-le") + b"\0\0"


def res_entry(kind, name, language, data):
    header = res_id(kind) + res_id(name)
    header += b"\0" * (-(8 + len(header)) % 4)
    header += struct.pack("<IHHII", 0, 0x1030, language, 0, 0)
    entry = struct.pack("<II", len(data), 8 + len(header)) + header + data
    return entry + b"\0" * (-len(entry) % 4)


def write_res(path, entries):
    with open(path, "wb") as out:
        out.write(res_entry(0, 0, 0, b""))
        for entry in entries:
            out.write(res_entry(*entry))


# Scrambled on purpose: mkpe must sort every level.
ENTRIES = [
    (10, 7, 0x409, b"seven"),
    ("zdata", "gamma", 0x409, b"zdata gamma"),
    (10, "beta", 0x407, b"beta in German, 23 bytes"),
    (10, "Alpha", 0x409, b"alpha"),
    ("ADATA", 3, 0x409, b"x"),
    (10, "beta", 0x409, b"beta"),
    (10, 2, 0x409, bytes(range(256)) * 3),
    (6, 1, 0x409, b"string table"),
    (10, "DELTA", 0x409, b"delta!!"),
]


def run_mkpe(mkpe, image, res, work):
    return subprocess.run([mkpe, "write", image, res, "--exe", os.path.join(work, "tree.exe"),
                           "--map", os.path.join(work, "tree.map")], capture_output=True,
                          text=True)


def main():
    mkpe, image, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    tree_res = os.path.join(work, "tree.res")
    write_res(tree_res, ENTRIES)
    result = run_mkpe(mkpe, image, tree_res, work)
    if readers.check(result.returncode == 0, f"mkpe refused the tree: {result.stderr}"):
        pe = pefile.PE(os.path.join(work, "tree.exe"))
        found = readers.check_resource_tree(pe, tree_res)
        types = [readers.directory_key(e) for e in pe.DIRECTORY_ENTRY_RESOURCE.entries]
        readers.check(types == ["ADATA", "zdata", 6, 10], f"types in the order {types}")
        readers.check(len(found) == len(ENTRIES), f"{len(found)} resources found")

    case_res = os.path.join(work, "case.res")
    write_res(case_res, [(10, "Alpha", 0x409, b"a"), (10, "ALPHA", 0x409, b"b")])
    os.remove(os.path.join(work, "tree.exe"))
    result = run_mkpe(mkpe, image, case_res, work)
    readers.check(result.returncode == 1 and "differ only in case" in result.stderr,
                  f"two names differing only in case: status {result.returncode}, "
                  f"said {result.stderr!r}")
    readers.check(not os.path.exists(os.path.join(work, "tree.exe")),
                  "an executable was written for names differing only in case")

    for failure in readers.failures:
        print(f"FAIL: {failure}", file=sys.stderr)
    if not readers.failures:
        print(f"ok: {len(ENTRIES)} resources, named and numbered, in order with their data; "
              "names differing only in case refused")
    return 1 if readers.failures else 0


if __name__ == "__main__":
    sys.exit(main())
