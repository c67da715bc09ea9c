#!/usr/bin/env python3
"""Checks the Windows DLLs from the build machine: the bridge exports exactly
the C functions unmangled plus the public classes' members and the runtime's
exception types, every DLL needs only system DLLs, and the import library
made from the .def serves every C function."""
import argparse
import re
import subprocess
import sys


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def exports(objdump, dll):
    text = run(objdump, "-p", dll)
    names, inside = [], False
    for line in text.splitlines():
        if "[Ordinal/Name Pointer] Table" in line:
            inside = True
            continue
        if inside:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)$", line)
            if not m:
                break
            names.append(m.group(1))
    return names, re.findall(r"DLL Name: (\S+)", text)


def def_names(path):
    names, inside = [], False
    for line in open(path, encoding="utf-8"):
        line = line.split(";")[0].strip()
        if line == "EXPORTS":
            inside = True
        elif inside and line:
            names.append(line.split()[0])
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--cxxfilt", required=True)
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--def", dest="def_file", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--header", required=True)
    parser.add_argument("--sdk", nargs="+", required=True)
    args = parser.parse_args()
    failures = []

    # Every C function the header declares is in the .def.
    declared = set(re.findall(r"QUELTO_API\s[^;(]*?\b(Quelto_Bridge_\w+)\s*\(", open(args.header, encoding="utf-8").read()))
    for name in sorted(declared - set(def_names(args.def_file))):
        failures.append(f"{name} is declared in the header but not in the .def")

    names, _ = exports(args.objdump, args.bridge)
    c_names = {n for n in names if not n.startswith("_Z")}
    expected = set(def_names(args.def_file))
    if len(expected) < 24:
        failures.append(f"the .def names only {len(expected)} functions")
    if c_names != expected:
        failures.append(f"C exports differ from the .def: missing {sorted(expected - c_names)}, "
                        f"extra {sorted(c_names - expected)}")
    mangled = [n for n in names if n.startswith("_Z")]
    demangled = run(args.cxxfilt, *mangled).splitlines() if mangled else []
    for raw, name in zip(mangled, demangled):
        public = name.startswith("Quelto_") or re.match(r"(vtable|typeinfo|typeinfo name) for Quelto_", name)
        # The runtime's exception types, which hosts catch by type.
        public = public or re.match(r"((vtable|typeinfo|typeinfo name) for )?Runtime::\w*Exception\b", name)
        if not public:
            failures.append(f"unexpected export {name} ({raw})")
    if "Quelto_DaqSystem::Quelto_DaqSystem()" not in demangled:
        failures.append("the facade's constructor is not exported")
    if "typeinfo for Runtime::Exception" not in demangled:
        failures.append("the type information of Runtime::Exception is not exported")

    # Linked with -static: nothing from the MinGW runtime DLLs.
    for dll in [args.bridge] + args.sdk:
        _, imported = exports(args.objdump, dll)
        if not imported:
            failures.append(f"{dll}: no import table found")
        for name in imported:
            if name.lower().startswith("lib"):
                failures.append(f"{dll} needs {name}")

    # The import library made from the .def: one import symbol per function.
    symbols = set(re.findall(r"\b__imp_(\w+)", run(args.objdump, "-t", args.lib)))
    for name in sorted(expected - symbols):
        failures.append(f"{args.lib} has no import of {name}")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(c_names)} C functions, {len(mangled)} C++ names exported; {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
