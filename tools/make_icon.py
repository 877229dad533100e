#!/usr/bin/env python3
"""Draws the application icon, a closed envelope, and writes resources/VireskaCorreo.ico: one group holding
a 32x32 and a 16x16 image of 16 colours (4 bits per pixel, the standard Windows palette, with a mask).

  tools/make_icon.py           rewrite the icon
  tools/make_icon.py --check   fail if the committed icon differs from what this script draws
"""
import os
import struct
import sys

ICON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "VireskaCorreo.ico")

# The 16-colour Windows palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
NAVY, SILVER, GRAY, RED, WHITE = 4, 7, 8, 9, 15
CLEAR = None  # a transparent pixel


def near_segment(px, py, ax, ay, bx, by, reach):
    """Whether the point lies within `reach` of the segment from a to b."""
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)))
    qx, qy = ax + t * dx - px, ay + t * dy - py
    return qx * qx + qy * qy <= reach * reach


def draw(size):
    """The envelope at the given size, as rows of palette indexes (or CLEAR), top row first."""
    if size == 32:
        left, right, top, bottom, tip, reach, seal = 1, 30, 6, 25, 17, 0.55, 2
    else:
        left, right, top, bottom, tip, reach, seal = 0, 15, 3, 12, 8, 0.5, 1
    middle = (left + right) / 2.0
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = x + 0.5, y + 0.5
            if not (left <= x <= right and top <= y <= bottom):
                row.append(CLEAR)
            elif x in (left, right) or y in (top, bottom):
                row.append(NAVY)
            elif abs(cx - (middle + 0.5)) <= seal and abs(cy - (tip - 0.5)) <= seal:
                row.append(RED)
            elif near_segment(cx, cy, left + 0.5, top + 0.5, middle + 0.5, tip, reach) or \
                    near_segment(cx, cy, right + 0.5, top + 0.5, middle + 0.5, tip, reach):
                row.append(GRAY)
            elif near_segment(cx, cy, left + 0.5, bottom + 0.5, middle - (right - left) / 8.0, tip + 1, reach) or \
                    near_segment(cx, cy, right + 0.5, bottom + 0.5, middle + 1 + (right - left) / 8.0, tip + 1, reach):
                row.append(SILVER)
            else:
                # Inside the flap (above both of its edges) the paper is shaded.
                flap_edge = top + (tip - top) * (1 - abs(cx - (middle + 0.5)) / ((right - left) / 2.0))
                row.append(SILVER if cy < flap_edge else WHITE)
        rows.append(row)
    return rows


def image(rows):
    """One icon image: BITMAPINFOHEADER, palette, colour bits and mask, rows bottom-up."""
    size = len(rows)
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour, mask = b"", b""
    for row in reversed(rows):
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, index in enumerate(row):
            if index is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
                index = 0
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        colour += bytes(line)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + colour + mask


def icon_file():
    images = [image(draw(size)) for size in (32, 16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    data = icon_file()
    if sys.argv[1:] == ["--check"]:
        with open(ICON, "rb") as f:
            if f.read() != data:
                sys.exit("resources/VireskaCorreo.ico differs from what tools/make_icon.py draws; run it")
        return
    with open(ICON, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
