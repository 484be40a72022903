#!/usr/bin/env python3
"""Draws the sample site's picture (sample-site/images/vantrel.png): a blue
square with a white "V". Run it again only to change the picture."""
import os
import struct
import zlib

SIZE = 96


def pixel(x, y):
    # The V: two strokes from the top corners meeting at the bottom middle.
    cx = SIZE / 2
    depth = (y - 16) / (SIZE - 32)
    if 0 <= depth <= 1:
        half = (1 - depth) * (cx - 14)
        if abs(abs(x + 0.5 - cx) - half) < 7:
            return (255, 255, 255)
    shade = 90 + (x + y) * 80 // (2 * SIZE)
    return (20, 60 + shade // 3, shade + 70)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main():
    rows = b"".join(
        b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(rows, 9))
           + chunk(b"IEND", b""))
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                          "sample-site", "images", "vantrel.png")
    with open(target, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main()
