#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: one file per conversation an STB may
hold, built from the protocol's own frames, a few byte streams for the frame scanner,
and a handful of STB paths."""
import os
import struct
import sys


def frame(cmd, payload=b""):
    return b"\xa5" + struct.pack("<H", len(payload) + 2) + bytes([cmd]) + payload + bytes([(0x3E + cmd + sum(payload)) & 0xFF])


def path(p, tag=0):
    return bytes([tag]) + p + b"\x00"


SESSIONS = {
    "version": frame(0x11) + frame(0x00),
    "download": frame(0x02, path(b"/a.txt")) + frame(0x03, struct.pack("<II", 0, 100)) + frame(0x23, struct.pack("<II", 5, 10)),
    "download-big": frame(0x22, path(b"/dir/sub/c.ts")) + frame(0x26, struct.pack("<QQ", 0, 70000)) + frame(0x2A, struct.pack("<QQ", 65536, 9000)),
    "download-empty": frame(0x02, path(b"/zero")) + frame(0x26, struct.pack("<QQ", 0, 1)),
    "listing": frame(0x07, path(b"/dir")) + frame(0x23, struct.pack("<II", 0, 1000)),
    "manage": frame(0x09, path(b"/new")) + frame(0x08, path(b"/a.txt")) + frame(0x0A, path(b"/dir")) + frame(0x0F, struct.pack("<I", 1 << 20)) + frame(0x10, path(b"/dir/b.bin")),
    "upload": frame(0x0D, b"\x00" + struct.pack("<I", 20) + b"/up.bin\x00") + frame(0x0E, struct.pack("<I", 0) + b"0123456789") + frame(0x0E, struct.pack("<I", 10) + b"abcdefghij"),
    "upload-big": frame(0x27, b"\x00" + struct.pack("<Q", 11 << 20) + b"/big.bin\x00") + frame(0x28, struct.pack("<Q", 0) + b"x" * 1000) + frame(0x2C, struct.pack("<Q", (11 << 20) - 10) + b"y" * 10),
    "copy": frame(0x0B, b"\x00/dir\x00/copy/\x00") + frame(0x0B, b"\x00/dir\x00/copy/\x00") + frame(0x0C, b"\x00/a.txt\x00/dir/\x00"),
    "model": frame(0x12, b"\x00" + struct.pack("<HH", 0x1234, 0x0101) + b"\x00"),
    "dir-down": frame(0x13, path(b"/dir")) + frame(0x01, struct.pack("<I", 0)) + frame(0x01, struct.pack("<I", 1)) + frame(0x24, struct.pack("<II", 0, 5000)) + frame(0x01, struct.pack("<I", 9)) + frame(0x19, struct.pack("<i", 3)),
    "dir-up": frame(0x14, b"\x00" + struct.pack("<IQ", 3, 30) + b"/in/\x00") + frame(0x04, b"D" + struct.pack("<I", 0) + b"\x00") + frame(0x04, b"F" + struct.pack("<I", 10) + b"f.bin\x00") + frame(0x05, struct.pack("<I", 0) + b"0123456789"),
    "garbage": b"\x00\xa5\x01\x00\xa5\x00\x00" + frame(0x11) + b"\xa5\x02\x00\x11\x00",
}

FRAMES = {
    "version": frame(0x11),
    "payload": frame(0xD3, struct.pack("<I", 0) + bytes(range(256))),
    "largest": frame(0x23, bytes(65533)),
    "hunting": b"\x00\x11\xa5\x00\x00\xa5\x01\x00\xa5\x02\x00\x11\x50" + frame(0x11),
    "cut-short": frame(0x11) + frame(0x02, path(b"/a.txt"))[:6],
}

PATHS = [b"/a/b", b"\\x", b"a/b", b"", b"/../x", b"..", b"a/..\\b", b"...", b"a..b", b"/./", b"//x"]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    for name, data in SESSIONS.items():
        os.makedirs(os.path.join(out, "session"), exist_ok=True)
        with open(os.path.join(out, "session", name), "wb") as f:
            f.write(data)
    for name, data in FRAMES.items():
        os.makedirs(os.path.join(out, "frame"), exist_ok=True)
        with open(os.path.join(out, "frame", name), "wb") as f:
            f.write(data)
    for i, p in enumerate(PATHS):
        os.makedirs(os.path.join(out, "path"), exist_ok=True)
        with open(os.path.join(out, "path", "p%02d" % i), "wb") as f:
            f.write(p)


main()
