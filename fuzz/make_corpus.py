#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets, standard library only (and the
chunk helpers of tests/support/pngbytes.py), so that every byte of it is
accounted for by a recipe below:

    python3 fuzz/make_corpus.py            # into fuzz/corpus/

corpus/get_comment/    PNG files (and broken ones), one per recipe
corpus/write_comment/  two bytes (big-endian) giving the image's length, the
                       image, then the comment text to write into it
corpus/parse_comment/  comment texts as a host hands them over

Each recipe's file is rewritten; the other files, named by their SHA-1, are
what `make fuzz-long` merged in from fuzzing runs, and stay.
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from pngbytes import IEND, SIGNATURE, chunk, idat, ihdr, text, ztxt  # noqa: E402

IDAT = idat([b"\x80"], 9)  # one grey pixel


def ztxt_raw(keyword, stream):
    return chunk(b"zTXt", keyword + b"\0\0" + stream)


def png(*chunks):
    return SIGNATURE + ihdr(1, 1) + b"".join(chunks) + IDAT + IEND


DEFLATED = zlib.compress(b"A text long enough to be cut.\n" * 8)
# A zlib header announcing a preset dictionary (FDICT): inflate asks for it.
NEED_DICT = b"\x78\xbb" + struct.pack(">I", zlib.adler32(b"dict")) + b"\x4b\x04\x00"
# Shift_JIS: a whole word, a lead byte before LF (the LF rides along), a lead
# byte before NUL (the NUL still counts) and a lead byte as the last byte.
SJIS_TEXT = "日本語のコメント".encode("shift_jis") + b"\n\x82\n\x83\x00x\n\x88"
SJIS_KEYWORD = "題名".encode("shift_jis")


# Text chunks whose bytes a rebuilt chunk could not keep, with the comment
# text GetComment shows for each: kind, keyword, text, shown.
METADATA = [
    (text, b"Title", b"\nlead and trail\n", b"[Title]\r\n\r\nlead and trail\r\n\r\n"),
    (ztxt, b"Raw profile type exif", b"\nexif\n      12\n4578696600\n",
     b"<Raw profile type exif>\r\n\r\nexif\r\n      12\r\n4578696600\r\n\r\n"),
    (text, b"", b"empty keyword", b"[]\r\nempty keyword\r\n"),
    (text, b"K", b"a\0b", b"[K]\r\nab\r\n"),
    (text, b"H", b"x\n[Y]\nz", b"[H]\r\nx\r\n[Y]\r\nz\r\n"),
]


def get_comment_recipes():
    yield "minimal", png()
    kinds = ((1, 0), (8, 2), (4, 3), (16, 4), (8, 6), (8, 5))  # depth, colour type; 5 is unknown
    headers = b"".join(ihdr(2, 3, depth, colour) for depth, colour in kinds)
    yield "ihdr_colour_types", SIGNATURE + headers + IDAT + IEND
    yield "ihdr_interlace_and_huge_size", (SIGNATURE + ihdr(0xFFFFFFFF, 0x80000000, 8, 2, 1)
                                           + ihdr(7, 7, 8, 0, 9) + IEND)
    yield "ihdr_cut_short", SIGNATURE + chunk(b"IHDR", struct.pack(">IIBB", 5, 5, 8, 2)) + IEND
    yield "ihdr_last_runs_past_end", SIGNATURE + ihdr(9, 9)[:-6]
    yield "no_ihdr_text_only", SIGNATURE + text(b"Title", b"no header chunk") + IEND
    yield "text_simple", png(text(b"Title", b"Hello"))
    yield "text_lines_nul_crlf", png(text(b"Comment", b"one\ntwo\r\nthree\0four\n\n"))
    yield "text_no_keyword_nul", png(chunk(b"tEXt", b"KeywordOnly"))
    yield "text_empty_chunk", png(chunk(b"tEXt", b""))
    yield "text_empty_keyword", png(text(b"", b"nameless"))
    yield "text_latin1", png(text(b"R\xe9sum\xe9", b"caf\xe9 cr\xe8me"))
    yield "text_shift_jis", png(text(SJIS_KEYWORD, SJIS_TEXT), ztxt(SJIS_KEYWORD, SJIS_TEXT))
    yield "text_bad_crc", png(chunk(b"tEXt", b"Title\0wrong crc", crc=0x12345678))
    yield "text_runs_past_end", (SIGNATURE + ihdr(1, 1)
                                 + text(b"Title", b"cut here, no further")[:-10])
    yield "text_after_iend", png() + text(b"Late", b"after IEND") + ztxt(b"Later", b"also after")
    yield "text_before_and_after_idat", (SIGNATURE + ihdr(1, 1) + text(b"A", b"1") + IDAT
                                         + ztxt(b"B", b"2") + IEND)
    yield "ztxt_simple", png(ztxt(b"Description", b"Compressed text.\nSecond line."))
    yield "ztxt_empty_text", png(ztxt(b"Empty", b""))
    levels = (ztxt(b"L%d" % n, b"level %d text" % n, n) for n in (0, 1, 6, 9))
    yield "ztxt_levels_01_9c_da", png(*levels)
    yield "ztxt_keyword_only", png(chunk(b"zTXt", b"NoMethod\0"))
    yield "ztxt_method_no_stream", png(chunk(b"zTXt", b"NoStream\0\0"))
    damaged = DEFLATED[:20] + b"\xff\xff\xff" + DEFLATED[23:]
    yield "ztxt_damaged_stream", png(ztxt_raw(b"Damaged", damaged))
    yield "ztxt_cut_stream", png(ztxt_raw(b"Cut", DEFLATED[: len(DEFLATED) // 2]))
    yield "ztxt_bad_header", png(ztxt_raw(b"BadHeader", b"\x78\x00" + DEFLATED[2:]))
    yield "ztxt_need_dictionary", png(ztxt_raw(b"Dict", NEED_DICT))
    yield "ztxt_trailing_bytes", png(ztxt_raw(b"Trailing", DEFLATED + b"garbage after the stream"))
    yield "ztxt_large_output", png(ztxt(b"Large", b"abcdefgh" * 6000, 9))
    yield "ztxt_runs_past_end", SIGNATURE + ihdr(1, 1) + ztxt(b"Cut", b"the chunk is cut" * 4)[:-12]
    yield "itxt_and_unknown_chunks", png(
        chunk(b"iTXt", b"Intl\0\0\0en\0Titel\0international"), chunk(b"prVt", b"private"),
        chunk(b"abCd", b"\x00\x01\x02"), chunk(b"tIME", b"\x07\xe8\x01\x01\x00\x00\x00"))
    yield "header_cut_short", png(text(b"A", b"b"))[:-3]
    yield "length_2_31", SIGNATURE + ihdr(1, 1) + struct.pack(">I", 0x80000000) + b"tEXtwhatever"
    yield "length_2_31_minus_1", (SIGNATURE + ihdr(1, 1) + struct.pack(">I", 0x7FFFFFFF)
                                  + b"tEXtKey\0text")
    yield "no_signature", b"GIF89a\0\0" + ihdr(1, 1) + text(b"Title", b"not a PNG signature")
    yield "signature_only", SIGNATURE
    yield "five_bytes", SIGNATURE[:5]
    yield "empty", b""


def write_comment_recipes():
    images = {
        "minimal": png(),
        "with_text": png(text(b"Old", b"old text"), ztxt(b"OldZ", b"old compressed")),
        "two_ihdr": SIGNATURE + ihdr(2, 2) + text(b"A", b"1") + ihdr(3, 3) + IDAT + IEND,
        "no_ihdr": SIGNATURE + text(b"Title", b"x") + IDAT + IEND,
        "cut_tail": png(text(b"Title", b"kept?"))[:-7],
        "huge_length_tail": (SIGNATURE + ihdr(1, 1) + text(b"T", b"dropped")
                             + struct.pack(">I", 0xFFFFFFF0) + b"IDATrest"),
        "short": SIGNATURE[:6],
        "bad_crc_chunks": (SIGNATURE + ihdr(1, 1) + chunk(b"IDAT", b"\x78\x9c\x03\x00", crc=0)
                           + IEND),
        "metadata": png(*(kind(keyword, value) for kind, keyword, value, _ in METADATA)),
    }
    comments = {
        "none": b"",
        "plain": b"Just one line",
        "sections": (b"[Title]\r\nA title\r\n<Description>\r\nLine one\r\n\r\nLine three\r\n"
                     b"[Author]\r\nsomeone"),
        "body_then_headers": b"loose line\r\n\r\n[]\r\n<>\r\nempty keywords\r\n",
        "zero_bytes": b"a\0xb\r\n\0\0[K]\0yc",
        "lone_cr_lf": b"[Key]\r\none\rtwo\nthree\r\n\r\n\r\n",
        "shift_jis": (b"[" + SJIS_KEYWORD + b"]\r\n" + SJIS_TEXT.replace(b"\0", b"")
                      + b"\r\n<" + SJIS_KEYWORD + b">\r\n" + SJIS_TEXT[:12]),
        "long_keyword": b"<" + b"K" * 120 + b">\r\n" + b"body " * 60,
        # As the reader shows "metadata": unedited, one section edited, two swapped.
        "unedited": b"".join(shown for *_, shown in METADATA),
        "one_edited": b"".join(shown if keyword != b"Title" else b"[Title]\r\nnew title\r\n"
                               for _, keyword, _, shown in METADATA),
        "swapped": b"".join(shown for *_, shown in METADATA[1::-1] + METADATA[2:]),
    }
    pairs = [
        ("minimal", "plain"), ("minimal", "none"), ("with_text", "sections"), ("with_text", "none"),
        ("two_ihdr", "body_then_headers"), ("no_ihdr", "sections"), ("cut_tail", "zero_bytes"),
        ("huge_length_tail", "lone_cr_lf"), ("short", "plain"), ("bad_crc_chunks", "shift_jis"),
        ("with_text", "long_keyword"), ("metadata", "unedited"), ("metadata", "one_edited"),
        ("metadata", "swapped"),
    ]
    for image, comment in pairs:
        data = images[image]
        yield "%s__%s" % (image, comment), struct.pack(">H", len(data)) + data + comments[comment]


def parse_comment_recipes():
    yield "empty", b""
    yield "plain_line", b"Hello"
    yield "sections_text_and_ztxt", b"[Title]\r\nA title\r\n<Description>\r\nOne\r\nTwo\r\n"
    yield "blank_lines_around_and_inside", b"\r\n\r\n[K]\r\n\r\na\r\n\r\n\r\nb\r\n\r\n"
    yield "body_before_first_header", b"loose\r\n[Then]\r\ntext"
    yield "empty_keywords", b"[]\r\n<>\r\n[]"
    yield "header_lookalikes", b"[\r\n]\r\n[>\r\n<]\r\n[a]b\r\n<x>>"
    yield "zero_bytes_end_lines", b"a\0bc\0\0d\r\n\0"
    yield "lone_cr_and_lf", b"a\rb\nc\r\r\n\n"
    yield "crlf_at_end_only", b"text\r\n"
    yield "shift_jis", b"[" + SJIS_KEYWORD + b"]\r\n" + SJIS_TEXT.replace(b"\0", b"")
    yield "long_line", b"<Long>\r\n" + bytes(range(32, 127)) * 20
    yield "many_sections", b"".join(b"[k%d]\r\nv%d\r\n<z%d>\r\n" % (i, i, i) for i in range(20))
    yield "latin1", b"[R\xe9sum\xe9]\r\ncaf\xe9"


def write_folder(folder, recipes, suffix):
    os.makedirs(folder, exist_ok=True)
    for name, data in recipes:
        with open(os.path.join(folder, name + suffix), "wb") as f:
            f.write(data)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    write_folder(os.path.join(out, "get_comment"), get_comment_recipes(), ".png")
    write_folder(os.path.join(out, "write_comment"), write_comment_recipes(), ".bin")
    write_folder(os.path.join(out, "parse_comment"), parse_comment_recipes(), ".txt")


if __name__ == "__main__":
    main()
