#!/usr/bin/env python3
"""Draws the generic parameter panel's bitmaps.

One panel row is 240 x 20 pixels: the parameter's name, value text and unit label on the upper
half, and under them, from x 20 to 219 and y 12 to 17, the room for the value bar.

  slider.bmp         157  240 x 20, 16 colours  a row's background with an empty groove
  slider_active.bmp  158  240 x 20, 16 colours  the same, highlighted, for the row being dragged
  value_bar.bmp      159  200 x 6, 24 bits      the bar drawn into the groove, cut to the value

Usage: make_bitmaps.py [--check] [folder]   (folder: where the .bmp files live, this one by
default; --check compares instead of writing and fails when a file differs)
"""

import struct
import sys
from pathlib import Path

ROW_WIDTH, ROW_HEIGHT = 240, 20
BAR_WIDTH, BAR_HEIGHT = 200, 6
BAR_LEFT, BAR_TOP = 20, 12  # where the panel copies the value bar into a row


def rgb(value):
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


# One 16-colour palette for both rows: the normal row uses the first half, the dragged row the
# second.
PALETTE = [rgb(c) for c in (
    0xF1F3F8,  # 0 background
    0xFFFFFF,  # 1 top highlight
    0xC9CFDC,  # 2 separator under the row
    0xDDE2EC,  # 3 groove
    0xA3ACBF,  # 4 groove border
    0xC6CCD9,  # 5 groove's inner shadow
    0xCDD3DF,  # 6 quarter marks
    0x000000,  # 7 (unused)
    0xE2E9F8,  # 8 dragged: background
    0xF6F8FE,  # 9 dragged: top highlight
    0x9FB2DA,  # 10 dragged: separator
    0xCBD6EF,  # 11 dragged: groove
    0x6D87C0,  # 12 dragged: groove border
    0xB2C1E4,  # 13 dragged: groove's inner shadow
    0xB9C6E6,  # 14 dragged: quarter marks
    0x3F5FAF,  # 15 dragged: marker at the left edge
)]


def draw_row(active):
    """A row as rows of palette indices, top row first."""
    base = 8 if active else 0
    background, highlight, separator = base + 0, base + 1, base + 2
    groove, border, shadow, marks = base + 3, base + 4, base + 5, base + 6
    pixels = [[background] * ROW_WIDTH for _ in range(ROW_HEIGHT)]
    pixels[0] = [highlight] * ROW_WIDTH
    pixels[ROW_HEIGHT - 1] = [separator] * ROW_WIDTH
    # The groove: a one-pixel border around the bar's room, with softened corners.
    left, right = BAR_LEFT - 1, BAR_LEFT + BAR_WIDTH
    top, bottom = BAR_TOP - 1, BAR_TOP + BAR_HEIGHT
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = y in (top, bottom) or x in (left, right)
            pixels[y][x] = border if edge else groove
    for x, y in ((left, top), (right, top), (left, bottom), (right, bottom)):
        pixels[y][x] = background
    for x in range(BAR_LEFT, BAR_LEFT + BAR_WIDTH):
        pixels[BAR_TOP][x] = shadow
    for quarter in (1, 2, 3):
        x = BAR_LEFT + quarter * BAR_WIDTH // 4
        for y in range(BAR_TOP + 1, BAR_TOP + BAR_HEIGHT - 1):
            pixels[y][x] = marks
    if active:
        for y in range(ROW_HEIGHT):
            for x in range(3):
                pixels[y][x] = 15
    return pixels


def draw_bar():
    """The value bar as rows of (r, g, b), top row first: lit from above, deepening leftwards."""
    shades = (0x93ACEB, 0x7393E1, 0x6083D8, 0x5275CD, 0x4668C1, 0x3A5AB2)
    rows = []
    for shade in shades:
        r, g, b = rgb(shade)
        row = []
        for x in range(BAR_WIDTH):
            k = 0.88 + 0.12 * x / (BAR_WIDTH - 1)
            row.append((round(r * k), round(g * k), round(b * k)))
        rows.append(row)
    return rows


def bmp_file(width, height, bits, palette, rows):
    """A Windows bitmap file, rows stored bottom-up and padded to four bytes."""
    data = bytearray()
    stride = (width * bits + 31) // 32 * 4
    for row in reversed(rows):
        line = bytearray()
        if bits == 4:
            for x in range(0, width, 2):
                line.append(row[x] << 4 | (row[x + 1] if x + 1 < width else 0))
        else:
            for r, g, b in row:
                line += bytes((b, g, r))
        data += line + bytes(stride - len(line))
    colour_table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + 40 + len(colour_table)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(data), 2835, 2835,
                       len(palette), 0)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    return header + info + colour_table + bytes(data)


def bitmaps():
    return {
        "slider.bmp": bmp_file(ROW_WIDTH, ROW_HEIGHT, 4, PALETTE, draw_row(False)),
        "slider_active.bmp": bmp_file(ROW_WIDTH, ROW_HEIGHT, 4, PALETTE, draw_row(True)),
        "value_bar.bmp": bmp_file(BAR_WIDTH, BAR_HEIGHT, 24, [], draw_bar()),
    }


def main(argv):
    check = "--check" in argv
    folders = [a for a in argv if a != "--check"]
    folder = Path(folders[0]) if folders else Path(__file__).resolve().parent
    stale = []
    for name, content in bitmaps().items():
        path = folder / name
        if check:
            if not path.is_file() or path.read_bytes() != content:
                stale.append(name)
        else:
            path.write_bytes(content)
    if stale:
        print("out of date, run make_bitmaps.py: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
