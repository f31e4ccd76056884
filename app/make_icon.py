#!/usr/bin/env python3
"""Writes a Windows .ico from a picture of the program drawn as an XPM array in a C++ header.

    make_icon.py HEADER ARRAY OUTPUT.ico

The picture is enlarged in whole pixel blocks, never smoothed, to 16, 32 and 48 pixels (32-bit
bitmaps with their AND masks) and to 256 pixels (PNG, as Windows stores that size).
"""
import re
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)


def read_xpm(header, name):
    text = open(header, encoding="utf-8").read()
    body = re.search(r"\b%s\[\]\s*=\s*\{(.*?)\};" % re.escape(name), text, re.S)
    if not body:
        sys.exit("make_icon.py: no array %s in %s" % (name, header))
    rows = re.findall(r'"((?:[^"\\]|\\.)*)"', body.group(1))
    width, height, count, _ = (int(v) for v in rows[0].split())
    palette = {}
    for line in rows[1:1 + count]:
        colour = line[1:].split()[-1]
        palette[line[0]] = None if colour == "None" else int(colour.lstrip("#"), 16)
    pixels = rows[1 + count:1 + count + height]
    if len(pixels) != height or any(len(row) != width for row in pixels):
        sys.exit("make_icon.py: %s is not %dx%d" % (name, width, height))
    return width, height, [[palette.get(c) for c in row] for row in pixels]


def scaled(picture, size):
    width, height, pixels = picture
    return [[pixels[y * height // size][x * width // size] for x in range(size)]
            for y in range(size)]


def bmp_entry(pixels, size):
    """BITMAPINFOHEADER, BGRA rows bottom-up, then the AND mask (1 = transparent)."""
    colour = bytearray()
    mask = bytearray()
    stride = (size + 31) // 32 * 4
    for row in reversed(pixels):
        bits = bytearray(stride)
        for x, rgb in enumerate(row):
            if rgb is None:
                colour += b"\0\0\0\0"
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                colour += struct.pack("<BBBB", rgb & 0xFF, rgb >> 8 & 0xFF, rgb >> 16, 0xFF)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def png_entry(pixels, size):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = bytearray()
    for row in pixels:
        raw += b"\0"  # no filter
        for rgb in row:
            raw += b"\0\0\0\0" if rgb is None else struct.pack(
                ">BBBB", rgb >> 16, rgb >> 8 & 0xFF, rgb & 0xFF, 0xFF)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    picture = read_xpm(sys.argv[1], sys.argv[2])
    images = [(size, (png_entry if size >= 256 else bmp_entry)(scaled(picture, size), size))
              for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(sys.argv[3], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
