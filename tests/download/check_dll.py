#!/usr/bin/env python3
"""check_dll.py OBJDUMP DLL: the library exports exactly its undecorated
functions (each in an ANSI and a UTF-16 form) and imports nothing but Windows
system libraries."""
import re
import subprocess
import sys

EXPORTS = {"rvdl_SetOption", "rvdl_Download", "rvdl_SetOptionW", "rvdl_DownloadW"}
SYSTEM = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
          "msvcrt.dll", "wininet.dll", "comctl32.dll", "ole32.dll", "ws2_32.dll"}

dump = subprocess.run([sys.argv[1], "-p", sys.argv[2]], check=True, capture_output=True,
                      text=True).stdout
names = set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", dump.split("[Ordinal/Name Pointer] Table")[-1],
                       re.M))
imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
problems = []
if names != EXPORTS:
    problems.append("exports %s, expected %s" % (sorted(names), sorted(EXPORTS)))
if not imports <= SYSTEM:
    problems.append("imports non-system libraries %s" % sorted(imports - SYSTEM))
for problem in problems:
    print("check_dll:", problem)
print("exports:", ", ".join(sorted(names)))
print("imports:", ", ".join(sorted(imports)))
sys.exit(1 if problems else 0)
