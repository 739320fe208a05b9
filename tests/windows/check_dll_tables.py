#!/usr/bin/env python3
"""Checks zentrok.dll as objdump reads it: a 32-bit PE DLL that exports
exactly the five calls and qen_GetLineState under their plain names and
imports nothing but
Windows system DLLs (the compiler's runtime is linked in).

Usage: check_dll_tables.py <objdump> <zentrok.dll>
"""
import re
import subprocess
import sys

EXPORTS = {"Qen_GetName", "qen_InitComm", "qen_CloseComm", "qen_GetMsg", "qen_GetSysMsg", "qen_GetLineState"}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll", "ntdll.dll"}


def exported_names(dump):
    """The names of the export name table, in table order."""
    section = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(section) < 2:
        return []
    names = []
    for line in section[1].splitlines()[1:]:
        match = re.match(r"\s*\[\s*\d+\]\s+(\S+)\s*$", line)
        if not match:
            break
        names.append(match.group(1))
    return names


def problems(dump):
    found = []
    if "file format pei-i386" not in dump:
        found.append("not a 32-bit PE image")
    if not re.search(r"^Characteristics .*\n(?:\s+.*\n)*?\s+DLL$", dump, re.MULTILINE):
        found.append("not marked as a DLL")
    names = exported_names(dump)
    if sorted(names) != sorted(EXPORTS):
        found.append(f"exports {names}, expected exactly {sorted(EXPORTS)}")
    imports = re.findall(r"DLL Name: (\S+)", dump)
    if not imports:
        found.append("no import table found")
    for dll in imports:
        if dll.lower() not in SYSTEM_DLLS:
            found.append(f"imports {dll}, which is not a Windows system DLL")
    return found


def main(objdump, dll):
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    found = problems(dump)
    for problem in found:
        print(f"FAIL: {problem}")
    if not found:
        print("zentrok.dll: six plain exports, system imports only")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
