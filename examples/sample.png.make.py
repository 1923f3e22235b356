#!/usr/bin/env python3
"""Recipe for sample.png: a 32x16 RGB gradient with text chunks before and
after IDAT, written with the standard library only (zlib, struct).

    python3 examples/sample.png.make.py examples/sample.png
"""
import struct
import sys
import zlib


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main(path):
    width, height = 32, 16
    rows = b"".join(
        b"\0" + bytes(v for x in range(width) for v in (x * 8, y * 16, 128))
        for y in range(height))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"tEXt", b"Title\0A gradient")
    png += chunk(b"tEXt", b"Author\0pngcomment")
    png += chunk(b"zTXt", b"Description\0\0" + zlib.compress(
        b"A 32 by 16 test image.\nIts text chunks stand before and after IDAT."))
    png += chunk(b"IDAT", zlib.compress(rows, 9))
    png += chunk(b"tEXt", b"Comment\0written after the image data")
    png += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sample.png")
