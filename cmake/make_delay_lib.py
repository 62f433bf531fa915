#!/usr/bin/env python3
"""make_delay_lib.py NM DLLTOOL IMPORT_LIB DLL OUT: a delay-import library for a
system DLL, made from mingw-w64's ordinary import library of it, so that a
program loads the DLL on the first call of one of its functions."""
import os
import re
import subprocess
import sys
import tempfile

nm, dlltool, import_lib, dll, out = sys.argv[1:6]
symbols = subprocess.run([nm, import_lib], check=True, capture_output=True, text=True).stdout
# "__imp_Name" (64-bit) or "__imp__Name@8" (32-bit, stdcall decorated).
names = sorted({m.group(1) for m in re.finditer(r" I __imp__?(\S+)$", symbols, re.M)})
if not names:
    sys.exit("make_delay_lib: no imports found in " + import_lib)
with tempfile.TemporaryDirectory() as folder:
    definition = os.path.join(folder, dll + ".def")
    with open(definition, "w") as f:
        f.write("LIBRARY %s.dll\nEXPORTS\n%s\n" % (dll, "\n".join(names)))
    # --kill-at: the DLL exports its functions by their plain names.
    subprocess.run([dlltool, "--kill-at", "--deterministic-libraries", "--input-def", definition,
                    "--output-delaylib", out], check=True)
