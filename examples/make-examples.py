#!/usr/bin/env python3
"""Recipe for the sample PNGs in this folder, written with the standard
library only (zlib and struct, by way of tests/support/pngbytes.py), so that
every byte of them is accounted for:

    python3 examples/make-examples.py examples

sample.png     32x16 RGB gradient; tEXt before and after IDAT, and a zTXt.
shift_jis.png  8x8 grey; a tEXt and a zTXt whose texts are Shift_JIS
               (Japanese, as Windows code page 932 stores it).
latin1.png     8x8 grey; a tEXt with the Latin-1 keyword "R\\xe9sum\\xe9" and
               a Latin-1 text, as the PNG standard has tEXt written.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from pngbytes import IEND, SIGNATURE, idat, ihdr, text, ztxt  # noqa: E402


def sample():
    width, height = 32, 16
    rows = [bytes(v for x in range(width) for v in (x * 8, y * 16, 128)) for y in range(height)]
    return (SIGNATURE + ihdr(width, height, colour=2)
            + text(b"Title", b"A gradient")
            + text(b"Author", b"pngcomment")
            + ztxt(b"Description",
                   b"A 32 by 16 test image.\nIts text chunks stand before and after IDAT.")
            + idat(rows, 9)
            + text(b"Comment", b"written after the image data")
            + IEND)


def grey():
    return [bytes(x * 32 for x in range(8)) for _ in range(8)]


def shift_jis():
    title = "\u30b3\u30e1\u30f3\u30c8".encode("shift_jis")  # "comment" in katakana
    body = "\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8\n\u4e8c\u884c\u76ee".encode("shift_jis")
    return (SIGNATURE + ihdr(8, 8, colour=0)
            + text(b"Title", title)
            + ztxt(b"Description", body)
            + idat(grey(), 9) + IEND)


def latin1():
    return (SIGNATURE + ihdr(8, 8, colour=0)
            + text("R\u00e9sum\u00e9".encode("latin-1"), "caf\u00e9 cr\u00e8me".encode("latin-1"))
            + idat(grey(), 9) + IEND)


def main(folder):
    for name, make in (("sample.png", sample), ("shift_jis.png", shift_jis), ("latin1.png", latin1)):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(make())


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else HERE)
