#!/usr/bin/env python3
"""to_utf16.py SOURCE TARGET: writes a UTF-8 language file as UTF-16 LE with a
byte order mark and CRLF line ends, the form the profile functions read as Unicode."""
import sys

with open(sys.argv[1], encoding="utf-8") as source:
    text = source.read().replace("\r\n", "\n").replace("\n", "\r\n")
with open(sys.argv[2], "wb") as target:
    target.write(b"\xff\xfe" + text.encode("utf-16-le"))
