"""PNG bytes built and split with struct and zlib alone: one copy of the chunk
helpers that the tests, the fuzz corpus, the examples and the scripts share.
Each adds this folder to sys.path and imports what it needs from here."""
import os
import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, data, crc=None):
    """A chunk framed with its big-endian length and CRC-32 (crc: store this one instead)."""
    body = kind + data
    if crc is None:
        crc = zlib.crc32(body)
    return struct.pack(">I", len(data)) + body + struct.pack(">I", crc)


IEND = chunk(b"IEND", b"")


def ihdr(width, height, depth=8, colour=0, interlace=0):
    """An IHDR chunk; colour is the PNG colour type (0 grey, 2 true colour)."""
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace))


def idat(rows, level=-1):
    """An IDAT chunk of these pixel rows, each given filter type 0, deflated at zlib `level`."""
    return chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows), level))


def text(keyword, value):
    """A tEXt chunk."""
    return chunk(b"tEXt", keyword + b"\0" + value)


def ztxt(keyword, value, level=-1):
    """A zTXt chunk, its text deflated at zlib `level`."""
    return chunk(b"zTXt", keyword + b"\0\0" + zlib.compress(value, level))


def big_png(megabytes, before=b""):
    """A 1x1 true-colour PNG, `before` (chunks) after IHDR, then an IDAT of random MiB: for sizes."""
    return (SIGNATURE + ihdr(1, 1, colour=2) + before
            + chunk(b"IDAT", os.urandom(megabytes << 20)) + IEND)


def chunks(data):
    """[(type, data, raw bytes of the whole chunk)]; fails on any flaw."""
    assert data[:8] == SIGNATURE, "no PNG signature"
    out = []
    pos = 8
    while pos < len(data):
        assert pos + 12 <= len(data), "chunk header cut short at %d" % pos
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        end = pos + 12 + length
        assert end <= len(data), "%r at %d runs past the end" % (kind, pos)
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[end - 4:end])
        assert crc == zlib.crc32(kind + body), "bad CRC in %r at %d" % (kind, pos)
        out.append((kind, body, data[pos:end]))
        pos = end
    return out
