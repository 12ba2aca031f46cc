#!/usr/bin/env python3
"""Writes the stub's icon (src/stub/res/korvan.ico): a box in the band's blue
with a white K, at 16x16 and 32x32, 32 bits per pixel. Run once; the result is
kept in the tree so that the build needs no image tools."""
import struct
import sys


def image(n):
    rows = []
    for y in range(n):
        row = []
        for x in range(n):
            edge = x in (0, n - 1) or y in (0, n - 1)
            u, v = x / (n - 1), y / (n - 1)
            stem = 0.25 <= u <= 0.38 and 0.2 <= v <= 0.8
            arm = 0.2 <= v <= 0.8 and abs((u - 0.38) - abs(v - 0.5) * 0.9) < 0.07 and u > 0.38
            if edge:
                px = (40, 30, 0, 255)
            elif stem or arm:
                px = (255, 255, 255, 255)
            else:
                px = (152, 78, 0, 255)  # BGRA of RGB(0, 78, 152)
            row.append(bytes(px))
        rows.append(b"".join(row))
    pixels = b"".join(reversed(rows))  # bottom-up
    mask_row = ((n + 31) // 32) * 4
    mask = bytes(mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def main(out):
    sizes = [16, 32]
    images = [image(n) for n in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, img in zip(sizes, images):
        data += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    open(out, "wb").write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/stub/res/korvan.ico")
