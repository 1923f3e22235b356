#!/usr/bin/env python3
"""Recipe for the sample PNGs in this folder, written with the standard
library only (zlib, struct), so that every byte of them is accounted for:

    python3 examples/make-examples.py examples

sample.png     32x16 RGB gradient; tEXt before and after IDAT, and a zTXt.
shift_jis.png  8x8 grey; a tEXt and a zTXt whose texts are Shift_JIS
               (Japanese, as Windows code page 932 stores it).
latin1.png     8x8 grey; a tEXt with the Latin-1 keyword "R\\xe9sum\\xe9" and
               a Latin-1 text, as the PNG standard has tEXt written.
"""
import os
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def ihdr(width, height, colour_type):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))


def idat(rows):
    return chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows), 9))


def text(keyword, value):
    return chunk(b"tEXt", keyword + b"\0" + value)


def ztxt(keyword, value):
    return chunk(b"zTXt", keyword + b"\0\0" + zlib.compress(value))


def sample():
    width, height = 32, 16
    rows = [bytes(v for x in range(width) for v in (x * 8, y * 16, 128)) for y in range(height)]
    return (SIGNATURE + ihdr(width, height, 2)
            + text(b"Title", b"A gradient")
            + text(b"Author", b"pngcomment")
            + ztxt(b"Description",
                   b"A 32 by 16 test image.\nIts text chunks stand before and after IDAT.")
            + idat(rows)
            + text(b"Comment", b"written after the image data")
            + chunk(b"IEND", b""))


def grey():
    return [bytes(x * 32 for x in range(8)) for _ in range(8)]


def shift_jis():
    title = "\u30b3\u30e1\u30f3\u30c8".encode("shift_jis")  # "comment" in katakana
    body = "\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8\n\u4e8c\u884c\u76ee".encode("shift_jis")
    return (SIGNATURE + ihdr(8, 8, 0)
            + text(b"Title", title)
            + ztxt(b"Description", body)
            + idat(grey()) + chunk(b"IEND", b""))


def latin1():
    return (SIGNATURE + ihdr(8, 8, 0)
            + text("R\u00e9sum\u00e9".encode("latin-1"), "caf\u00e9 cr\u00e8me".encode("latin-1"))
            + idat(grey()) + chunk(b"IEND", b""))


def main(folder):
    for name, make in (("sample.png", sample), ("shift_jis.png", shift_jis), ("latin1.png", latin1)):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(make())


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
