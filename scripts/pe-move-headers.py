#!/usr/bin/env python3
"""Moves the NT headers of a PE file to offset 0x100.

The package reader takes a file as an executable when "PE\\0\\0" stands at
offset 256, and reads the package end from the 4 bytes at 252 (0xFC), inside
the DOS header area. GNU ld puts the NT headers right after its DOS stub, at
0x80, so this post-link step moves the signature, the file header, the
optional header and the section table to 0x100 and updates e_lfanew. The
room comes out of the padding before the first section's raw data, which the
script checks before it writes anything. Bytes 0x80..0xFF become zero, so the
value at 252 reads 0 until korvan-pack writes the package end there.

Usage: pe-move-headers.py FILE   (prints the size of the result)
"""
import struct
import sys

TARGET = 0x100


def main(path):
    data = bytearray(open(path, "rb").read())
    if data[:2] != b"MZ":
        sys.exit(f"{path}: not an MZ executable")
    lfanew = struct.unpack_from("<I", data, 0x3C)[0]
    if data[lfanew:lfanew + 4] != b"PE\0\0":
        sys.exit(f"{path}: no PE signature at e_lfanew 0x{lfanew:x}")
    if lfanew != TARGET:
        nsections = struct.unpack_from("<H", data, lfanew + 6)[0]
        opt_size = struct.unpack_from("<H", data, lfanew + 20)[0]
        headers_len = 4 + 20 + opt_size + 40 * nsections
        opt = lfanew + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        # SizeOfHeaders sits at the same offset in PE32 and PE32+.
        size_of_headers = struct.unpack_from("<I", data, opt + 60)[0]
        first_raw = min(
            (struct.unpack_from("<I", data, lfanew + 24 + opt_size + 40 * i + 20)[0]
             for i in range(nsections)
             if struct.unpack_from("<I", data, lfanew + 24 + opt_size + 40 * i + 20)[0]),
            default=size_of_headers)
        if magic not in (0x10B, 0x20B):
            sys.exit(f"{path}: unknown optional header magic 0x{magic:x}")
        if TARGET + headers_len > min(size_of_headers, first_raw):
            sys.exit(f"{path}: no room to move {headers_len} header bytes to 0x{TARGET:x}")
        if lfanew > TARGET:
            sys.exit(f"{path}: NT headers already beyond 0x{TARGET:x}")
        block = bytes(data[lfanew:lfanew + headers_len])
        data[lfanew:TARGET + headers_len] = bytes(TARGET + headers_len - lfanew)
        data[TARGET:TARGET + headers_len] = block
        struct.pack_into("<I", data, 0x3C, TARGET)
        open(path, "wb").write(data)
    print(f"{path}: {len(data)} bytes")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
