#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: one file per conversation an STB may
hold, built from the protocol's own frames (under each of the session's options), a few
byte streams for the frame scanner, and a handful of STB paths."""
import os
import struct
import sys


def frame(cmd, payload=b""):
    return b"\xa5" + struct.pack("<H", len(payload) + 2) + bytes([cmd]) + payload + bytes([(0x3E + cmd + sum(payload)) & 0xFF])


def path(p, tag=0):
    return bytes([tag]) + p + b"\x00"


# The first byte of a session's or a path's input: its options (fuzz/fuzz_share.h).
READ_ONLY, WIDE_LINKS, CP932, CP1252, UNUSABLE = 0x01, 0x02, 0x04, 0x08, 0x0C
NIHON_CP932 = b"\x93\xfa\x96\x7b.ts"  # the share's U+65E5 U+672C .ts in CP932

SESSIONS = {
    "version": frame(0x11) + frame(0x00),
    "download": frame(0x02, path(b"/a.txt")) + frame(0x03, struct.pack("<II", 0, 100)) + frame(0x23, struct.pack("<II", 5, 10)),
    "download-big": frame(0x22, path(b"/dir/sub/c.ts")) + frame(0x26, struct.pack("<QQ", 0, 70000)) + frame(0x2A, struct.pack("<QQ", 65536, 9000)),
    "download-empty": frame(0x02, path(b"/zero")) + frame(0x26, struct.pack("<QQ", 0, 1)),
    "listing": frame(0x07, path(b"/dir")) + frame(0x23, struct.pack("<II", 0, 1000)),
    "manage": frame(0x09, path(b"/new")) + frame(0x08, path(b"/a.txt")) + frame(0x0A, path(b"/dir")) + frame(0x0F, struct.pack("<I", 1 << 20)) + frame(0x10, path(b"/dir/b.bin")),
    "upload": frame(0x0D, b"\x00" + struct.pack("<I", 20) + b"/up.bin\x00") + frame(0x0E, struct.pack("<I", 0) + b"0123456789") + frame(0x0E, struct.pack("<I", 10) + b"abcdefghij"),
    # Past the fuzz share's buffer budget, so written straight to the file, within its
    # file limit.
    "upload-big": frame(0x27, b"\x00" + struct.pack("<Q", 3 << 19) + b"/big.bin\x00") + frame(0x28, struct.pack("<Q", 0) + b"x" * 1000) + frame(0x2C, struct.pack("<Q", (3 << 19) - 10) + b"y" * 10),
    "upload-too-big": frame(0x27, b"\x00" + struct.pack("<Q", 11 << 20) + b"/big.bin\x00") + frame(0x28, struct.pack("<Q", 0) + b"x" * 1000),
    "copy": frame(0x0B, b"\x00/dir\x00/copy/\x00") + frame(0x0B, b"\x00/dir\x00/copy/\x00") + frame(0x0C, b"\x00/a.txt\x00/dir/\x00"),
    "model": frame(0x12, b"\x00" + struct.pack("<HH", 0x1234, 0x0101) + b"\x00"),
    "dir-down": frame(0x13, path(b"/dir")) + frame(0x01, struct.pack("<I", 0)) + frame(0x01, struct.pack("<I", 1)) + frame(0x24, struct.pack("<II", 0, 5000)) + frame(0x01, struct.pack("<I", 9)) + frame(0x19, struct.pack("<i", 3)),
    "dir-up": frame(0x14, b"\x00" + struct.pack("<IQ", 3, 30) + b"/in/\x00") + frame(0x04, b"D" + struct.pack("<I", 0) + b"\x00") + frame(0x04, b"F" + struct.pack("<I", 10) + b"f.bin\x00") + frame(0x05, struct.pack("<I", 0) + b"0123456789"),
    "garbage": b"\x00\xa5\x01\x00\xa5\x00\x00" + frame(0x11) + b"\xa5\x02\x00\x11\x00",
    "links": frame(0x07, path(b"/out")) + frame(0x02, path(b"/pw")) + frame(0x0D, b"\x00" + struct.pack("<I", 4) + b"/dangling\x00") + frame(0x0E, struct.pack("<I", 0) + b"evil") + frame(0x09, path(b"/dir/abs/made")) + frame(0x08, path(b"/out/secret.txt")) + frame(0x02, path(b"/inlink/b.bin")),
    "links-copy": frame(0x0B, b"\x00/out\x00/copied\x00") + frame(0x0B, b"\x00/out\x00/copied\x00"),
    "links-dir-down": frame(0x13, path(b"/out")) + frame(0x01, struct.pack("<I", 0)) + frame(0x19, struct.pack("<i", 1)),
    "fifo": frame(0x02, path(b"/fifo")) + frame(0x10, path(b"/fifo")) + frame(0x0B, b"\x00/fifo\x00/f2\x00"),
}

# Sessions under other options than the default (the key's second part).
OPTION_SESSIONS = {
    "read-only-manage": (READ_ONLY, "manage"),
    "read-only-upload": (READ_ONLY, "upload"),
    "read-only-dir-up": (READ_ONLY, "dir-up"),
    "wide-links": (WIDE_LINKS, "links"),
    "wide-links-copy": (WIDE_LINKS, "links-copy"),
    "cp932-listing": (CP932, "listing"),
    "cp1252-dir-down": (CP1252, "dir-down"),
    "unusable-code-page": (UNUSABLE, "download"),
}
CP932_SESSIONS = {
    "cp932-download": frame(0x02, path(b"/" + NIHON_CP932)) + frame(0x03, struct.pack("<II", 0, 10)),
    "cp932-listing-dir": frame(0x07, path(b"/dir")) + frame(0x23, struct.pack("<II", 0, 1000)),
    "cp932-dir-up": frame(0x14, b"\x00" + struct.pack("<IQ", 1, 5) + b"/\x00") + frame(0x04, b"F" + struct.pack("<I", 5) + b"\x82\xa0.ts\x00") + frame(0x05, struct.pack("<I", 0) + b"kana!"),
}

FRAMES = {
    "version": frame(0x11),
    "payload": frame(0xD3, struct.pack("<I", 0) + bytes(range(256))),
    "largest": frame(0x23, bytes(65533)),
    "hunting": b"\x00\x11\xa5\x00\x00\xa5\x01\x00\xa5\x02\x00\x11\x50" + frame(0x11),
    "cut-short": frame(0x11) + frame(0x02, path(b"/a.txt"))[:6],
}

PATHS = [b"/a/b", b"\\x", b"a/b", b"", b"/../x", b"..", b"a/..\\b", b"...", b"a..b", b"/./", b"//x"]
# Paths whose bytes mean something else once decoded: a CP932 lead byte before '\\' and
# '.', a name CP932 holds, bytes UTF-16 would read as '.'.
CODED_PATHS = [(CP932, b"/\x81\\..\\x"), (CP932, b"/" + NIHON_CP932), (CP932, b"\x82\x2e\x2e/x"),
               (CP1252, b"/\x80.txt"), (UNUSABLE, b"/a")]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    sessions = {name: bytes([0]) + data for name, data in SESSIONS.items()}
    sessions.update({name: bytes([options]) + SESSIONS[base] for name, (options, base) in OPTION_SESSIONS.items()})
    sessions.update({name: bytes([CP932]) + data for name, data in CP932_SESSIONS.items()})
    for name, data in sessions.items():
        os.makedirs(os.path.join(out, "session"), exist_ok=True)
        with open(os.path.join(out, "session", name), "wb") as f:
            f.write(data)
    for name, data in FRAMES.items():
        os.makedirs(os.path.join(out, "frame"), exist_ok=True)
        with open(os.path.join(out, "frame", name), "wb") as f:
            f.write(data)
    # A path input: the options byte, the request's tag byte, the path.
    paths = [(0, p) for p in PATHS] + CODED_PATHS
    for i, (options, p) in enumerate(paths):
        os.makedirs(os.path.join(out, "path"), exist_ok=True)
        with open(os.path.join(out, "path", "p%02d" % i), "wb") as f:
            f.write(bytes([options, 0]) + p)


main()
