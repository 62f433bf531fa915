#!/usr/bin/env python3
"""set_resource_codepage.py PE_FILE [CODE_PAGE]

Sets the code page of every resource data entry of a PE file (default 1200,
UTF-16, which is what the loader's resources hold). GNU windres always writes
0 there and has no option for it; Windows does not read the field, but the
executable is to name its resources' encoding correctly all the same.
"""
import struct
import sys


def rsrc_location(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("%s: not a PE file" % sys.argv[1])
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rva, size = struct.unpack_from("<II", image, directories + 2 * 8)  # resource directory
    table = optional + optional_size
    for i in range(sections):
        virtual_size, virtual_address, _, raw = struct.unpack_from("<IIII", image, table + i * 40 + 8)
        if virtual_address <= rva < virtual_address + max(virtual_size, 1):
            return rva, raw + (rva - virtual_address)
    raise SystemExit("%s: no resources" % sys.argv[1])


def set_code_pages(image, base, offset, code_page):
    """Walks the directory at offset; returns how many data entries it set."""
    named, numbered = struct.unpack_from("<HH", image, offset + 12)
    count = 0
    for i in range(named + numbered):
        target = struct.unpack_from("<I", image, offset + 16 + i * 8 + 4)[0]
        if target & 0x80000000:
            count += set_code_pages(image, base, base + (target & 0x7FFFFFFF), code_page)
        else:
            struct.pack_into("<I", image, base + target + 8, code_page)
            count += 1
    return count


def main():
    path = sys.argv[1]
    code_page = int(sys.argv[2]) if len(sys.argv) > 2 else 1200
    with open(path, "rb") as f:
        image = bytearray(f.read())
    _, base = rsrc_location(image)
    count = set_code_pages(image, base, base, code_page)
    with open(path, "wb") as f:
        f.write(image)
    print("%s: %d resources now name code page %d" % (path, count, code_page))


if __name__ == "__main__":
    main()
