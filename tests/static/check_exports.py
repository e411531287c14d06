#!/usr/bin/env python3
"""Checks the export directory of the built bridge modules against the
method table.

    check_exports.py --table core/method_table.h --binding demo|library \
        --objdump i686-w64-mingw32-objdump MODULE.dll      (32-bit Windows)
    check_exports.py --table core/method_table.h --binding demo|library \
        --nm nm MODULE.so                                  (Linux)

Windows: the module name, exactly the expected names (the demo binding's
short names; the library binding's short and decorated names, each pair at
one address), every return of every export removes N bytes ("ret $N"), and
only system DLLs are imported. Linux: exactly the short names are exported.
Prints one line per problem and exits 1 if there is any."""

import argparse
import re
import subprocess
import sys

CLASSES = {"demo": "wsq_1sun_1java_Tessaly", "library": "wsq_1sun_1java_Corvane"}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}
ROW = re.compile(r'^CORVANE_METHOD\((\w+), (\w+), "([^"]+)", (\d+), .+\)$')


def read_table(path):
    rows = [ROW.match(line.strip()) for line in open(path, encoding="utf-8")]
    return [(m.group(2), int(m.group(4))) for m in rows if m]


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def expected_names(table, binding, windows):
    """name -> (short name it aliases, N)"""
    names = {}
    for mangled, n in table:
        short = f"Java_{CLASSES[binding]}_{mangled}"
        names[short] = (short, n)
        if windows and binding == "library":
            names[f"_{short}@{n}"] = (short, n)
    return names


def compare_sets(found, expected, problems):
    for name in sorted(set(expected) - set(found)):
        problems.append(f"missing export {name}")
    for name in sorted(set(found) - set(expected)):
        problems.append(f"unexpected export {name}")


def check_pe(module, binding, table, objdump, problems):
    headers = run(objdump, "-p", module)
    name = re.search(r"^Name\s+[0-9a-f]+\s+(\S+)$", headers, re.M)
    if not name or name.group(1) != "Corvane_jniexport32.dll":
        problems.append(f"export directory names the module {name.group(1) if name else None}")
    base = int(re.search(r"^ImageBase\s+([0-9a-f]+)$", headers, re.M).group(1), 16)
    rvas = {int(i): int(rva, 16) for i, rva in re.findall(r"^\s+\[\s*(\d+)\] \+base\[\s*\d+\] ([0-9a-f]+) Export RVA", headers, re.M)}
    pointer_table = headers.split("[Ordinal/Name Pointer] Table", 1)[1]
    found = {}
    for i, export in re.findall(r"^\s+\[\s*(\d+)\] (\S+)$", pointer_table, re.M):
        found[export] = rvas[int(i)]
    expected = expected_names(table, binding, windows=True)
    compare_sets(found, expected, problems)

    for dll in re.findall(r"DLL Name: (\S+)", headers):
        if dll.lower() not in SYSTEM_DLLS:
            problems.append(f"imports {dll}, not a system DLL")

    # Every return instruction of each export's function.
    disassembly = run(objdump, "-d", "--no-show-raw-insn", module)
    functions = {}
    current = None
    for line in disassembly.splitlines():
        label = re.match(r"^([0-9a-f]+) <(.+)>:$", line)
        if label:
            current = int(label.group(1), 16)
            functions[current] = []
        elif current is not None and re.search(r"\sret\b", line):
            functions[current].append(line.split("\t")[-1].strip())
    for export, (short, n) in expected.items():
        if export not in found:
            continue
        if found[export] != found.get(short):
            problems.append(f"{export} is not at the address of {short}")
        rets = functions.get(base + found[export])
        if not rets:
            problems.append(f"{export}: no function with a return found at its address")
        for ret in rets or []:
            if ret != f"ret    $0x{n:x}":
                problems.append(f"{export}: '{ret}', expected 'ret $0x{n:x}' ({n} bytes of arguments)")


def check_elf(module, binding, table, nm, problems):
    found = {line.split()[-1] for line in run(nm, "-D", "--defined-only", module).splitlines() if line.strip()}
    compare_sets(found, expected_names(table, binding, windows=False), problems)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--table", required=True)
    parser.add_argument("--binding", required=True, choices=sorted(CLASSES))
    tools = parser.add_mutually_exclusive_group(required=True)
    tools.add_argument("--objdump")
    tools.add_argument("--nm")
    parser.add_argument("module")
    args = parser.parse_args()
    table = read_table(args.table)
    if not table:
        sys.exit(f"{args.table}: no methods")
    problems = []
    if args.objdump:
        check_pe(args.module, args.binding, table, args.objdump, problems)
    else:
        check_elf(args.module, args.binding, table, args.nm, problems)
    for problem in problems:
        print(f"{args.module}: {problem}")
    if problems:
        sys.exit(1)
    print(f"{args.module}: {len(table)} methods, exports as expected")


if __name__ == "__main__":
    main()
