#!/usr/bin/env python3
"""Draws Corvane's application icon: a screen with a folder on it, the shared folder seen
from the set-top box. Writes it in the usual sizes of an icon theme: res/corvane.png at
64x64 (also the dialog's and tray's icon) and res/icons/corvane-N.png for the others, and
res/corvane.ico for Windows (16, 32 and 48 pixels as bitmaps, 256 as PNG). Run it again after changing the drawing: make_icon.py [RES_FOLDER]"""
import os
import struct
import sys
import zlib

CANVAS = 64  # the drawing's own units: shade() takes points of a 64x64 canvas
SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 4  # supersampling per axis, for smooth edges


def rounded_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def shade(x, y):
    """The colour (r, g, b, a) at a point of the canvas."""
    # Folder on the screen: tab and body.
    if rounded_rect(x, y, 20, 20, 32, 28, 2) or rounded_rect(x, y, 20, 24, 44, 40, 2):
        return (255, 196, 64, 255)
    # Screen.
    if rounded_rect(x, y, 10, 12, 54, 46, 3):
        return (32, 48, 72, 255)
    # Bezel.
    if rounded_rect(x, y, 6, 8, 58, 50, 6):
        return (20, 130, 150, 255)
    # Stand.
    if rounded_rect(x, y, 26, 50, 38, 54, 1) or rounded_rect(x, y, 18, 53, 46, 57, 2):
        return (20, 130, 150, 255)
    return (0, 0, 0, 0)


def pixel(px, py, scale):
    """Pixel (px, py) of an image whose pixels are scale canvas units wide."""
    acc = [0, 0, 0, 0]
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            r, g, b, a = shade((px + (sx + 0.5) / SAMPLES) * scale, (py + (sy + 0.5) / SAMPLES) * scale)
            acc[0] += r * a
            acc[1] += g * a
            acc[2] += b * a
            acc[3] += a
    n = SAMPLES * SAMPLES
    if acc[3] == 0:
        return bytes(4)
    return bytes([acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], acc[3] // n])


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """An icon file of (size, rows) images: bitmaps (32-bit BGRA, bottom-up, with the mask
    older systems read) below 256 pixels, PNG for 256."""
    blobs = []
    for size, rows in images:
        if size >= 256:
            blobs.append(png(size, size, rows))
            continue
        xor = b"".join(bytes(c for px in range(size) for c in (row[4 * px + 2], row[4 * px + 1], row[4 * px], row[4 * px + 3]))
                       for row in reversed(rows))
        stride = (size + 31) // 32 * 4
        mask = b""
        for row in reversed(rows):
            bits = bytearray(stride)
            for px in range(size):
                if row[4 * px + 3] == 0:
                    bits[px // 8] |= 0x80 >> (px % 8)
            mask += bytes(bits)
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        blobs.append(header + xor + mask)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, _), blob in zip(images, blobs):
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def main():
    res = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(os.path.join(res, "icons"), exist_ok=True)
    images = {}
    for size in SIZES:
        rows = [b"".join(pixel(x, y, CANVAS / size) for x in range(size)) for y in range(size)]
        images[size] = rows
        name = "corvane.png" if size == CANVAS else os.path.join("icons", "corvane-%d.png" % size)
        with open(os.path.join(res, name), "wb") as f:
            f.write(png(size, size, rows))
    with open(os.path.join(res, "corvane.ico"), "wb") as f:
        f.write(ico([(size, images[size]) for size in (16, 32, 48, 256)]))


main()
