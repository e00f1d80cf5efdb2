#!/usr/bin/env python3
"""Checks a screenshot of the property page against the places of its windows.

Usage: check_page_screenshot.py SHOT.xwd WINDOWS.txt RESOURCES [--png OUT.png]

SHOT.xwd is `xwd -root` output (ZPixmap, 24 or 32 bits a pixel); WINDOWS.txt is what
page_window_probe wrote: the screen rectangles of the frame, the strip and the panel's client
areas, the panel's row geometry and each row's bar length; RESOURCES holds the panel's bitmaps.

The strip must show its six buttons (grey edge, light face, dark text) inside its rectangle on
the strip's colour; every panel row must show, pixel for pixel, its background bitmap with the
value bar bitmap cut to its length, outside the text lines; the panel must sit right under the
strip. --png writes the frame's part of the screenshot as an 8-bit RGB PNG.
"""

import struct
import sys
import zlib

# The strip's colours (src/propertypage/panel_strip.cpp).
STRIP = (212, 208, 200)
FACE = (236, 233, 226)
EDGE = (128, 128, 128)
BUTTONS = 6


class Image:
    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels  # rows of (r, g, b)

    def at(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise SystemExit("check_page_screenshot: (%d, %d) is off the screen" % (x, y))
        return self.pixels[y][x]


def mask_shift(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    return shift, mask


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack_from(">25I", data, 0)
    (header_size, version, pixmap_format, depth, width, height, _xoffset, byte_order, _unit,
     _bit_order, _pad, bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask, blue_mask,
     _bits_per_rgb, _entries, ncolors) = fields[:20]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32) or depth < 24:
        raise SystemExit("check_page_screenshot: %s: not a 24-bit ZPixmap XWD file "
                         "(version %d, format %d, depth %d, %d bits a pixel)"
                         % (path, version, pixmap_format, depth, bits_per_pixel))
    start = header_size + 12 * ncolors
    if len(data) < start + height * bytes_per_line:
        raise SystemExit("check_page_screenshot: %s is truncated" % path)
    order = "<" if byte_order == 0 else ">"
    step = bits_per_pixel // 8
    channels = [mask_shift(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * step]
        if step == 4:
            values = struct.unpack("%s%dI" % (order, width), line)
        else:
            values = [int.from_bytes(line[i:i + 3], "little" if order == "<" else "big")
                      for i in range(0, len(line), 3)]
        rows.append([tuple(((v >> s) & m) * 255 // m for s, m in channels) for v in values])
    return Image(width, height, rows)


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        raise SystemExit("check_page_screenshot: %s is no BMP file" % path)
    offset = struct.unpack_from("<I", data, 10)[0]
    header = struct.unpack_from("<IiiHHIIiiII", data, 14)
    size, width, height, _planes, bits, compression, _, _, _, used = header[:10]
    if compression != 0 or bits not in (4, 8, 24):
        raise SystemExit("check_page_screenshot: %s: %d bits, compression %d not read"
                         % (path, bits, compression))
    palette = []
    if bits <= 8:
        count = used or (1 << bits)
        for i in range(count):
            b, g, r = data[14 + size + 4 * i:14 + size + 4 * i + 3]
            palette.append((r, g, b))
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for row in range(abs(height)):
        line = data[offset + row * stride:offset + (row + 1) * stride]
        if bits == 24:
            pixels = [(line[3 * x + 2], line[3 * x + 1], line[3 * x]) for x in range(width)]
        elif bits == 8:
            pixels = [palette[line[x]] for x in range(width)]
        else:
            pixels = [palette[(line[x // 2] >> (0 if x & 1 else 4)) & 15] for x in range(width)]
        rows.append(pixels)
    if height > 0:
        rows.reverse()  # stored bottom-up
    return Image(width, abs(height), rows)


def read_windows(path):
    places, bars, geometry = {}, [], None
    for line in open(path):
        words = line.split()
        if not words:
            continue
        if words[0] in ("frame", "strip", "panel"):
            places[words[0]] = tuple(int(w) for w in words[1:5])
        elif words[0] == "row":
            geometry = tuple(int(w) for w in words[1:6])
        elif words[0] == "bar":
            bars.append(int(words[1]))
    for name in ("frame", "strip", "panel"):
        if name not in places:
            raise SystemExit("check_page_screenshot: %s names no %s" % (path, name))
    if geometry is None or not bars:
        raise SystemExit("check_page_screenshot: %s has no rows" % path)
    return places, geometry, bars


def runs(image, y, left, right, colour):
    """The [start, end) runs of `colour` on row y between left and right."""
    found, start = [], None
    for x in range(left, right + 1):
        inside = x < right and image.at(x, y) == colour
        if inside and start is None:
            start = x
        elif not inside and start is not None:
            found.append((start, x))
            start = None
    return found


def check_strip(image, strip, failures):
    left, top, right, bottom = strip
    for x, y in ((left, top), (right - 1, top), (left, bottom - 1), (right - 1, bottom - 1)):
        if image.at(x, y) != STRIP:
            failures.append("strip corner (%d, %d) is %s, not the strip's %s"
                            % (x, y, image.at(x, y), STRIP))
    # The buttons' top and bottom edges: the rows with six wide runs of the edge colour.
    edges = {}
    for y in range(top, bottom):
        wide = [r for r in runs(image, y, left, right, EDGE) if r[1] - r[0] >= 8]
        if len(wide) == BUTTONS:
            edges[y] = wide
    if len(edges) != 2 or len(set(map(tuple, edges.values()))) != 1:
        failures.append("strip: %d rows with %d button edges, not one top and one bottom row "
                        "with the same buttons" % (len(edges), BUTTONS))
        return
    upper, lower = sorted(edges)
    for number, (x0, x1) in enumerate(edges[upper], 1):
        if x0 <= left or x1 >= right or upper <= top or lower >= bottom - 1:
            failures.append("strip: button %d (%d..%d) is not inside the strip" % (number, x0, x1))
        for y in range(upper, lower + 1):
            for x in (x0, x1 - 1):
                if image.at(x, y) != EDGE:
                    failures.append("strip: button %d has no side edge at (%d, %d)"
                                    % (number, x, y))
                    break
        face = [image.at(x, y) for y in range(upper + 1, lower) for x in range(x0 + 1, x1 - 1)]
        text = sum(1 for p in face if sum(p) < sum(FACE) // 2)
        foreign = [p for p in face if p != FACE and any(c > f for c, f in zip(p, FACE))]
        if face.count(FACE) < len(face) // 2 or text < 5 or foreign:
            failures.append("strip: button %d shows %d face and %d text pixels of %d, %d of "
                            "other colours" % (number, face.count(FACE), text, len(face),
                                               len(foreign)))


def check_panel(image, panel, geometry, bars, resources, failures):
    row_height, bar_left, bar_top, bar_width, bar_height = geometry
    row = read_bmp(resources + "/slider.bmp")
    bar = read_bmp(resources + "/value_bar.bmp")
    if (row.height, bar.width, bar.height) != (row_height, bar_width, bar_height):
        failures.append("panel: the bitmaps are %dx%d and %dx%d, the rows %d high with %dx%d bars"
                        % (row.width, row.height, bar.width, bar.height, row_height, bar_width,
                           bar_height))
        return
    left, top = panel[0], panel[1]
    # The lines above and below the text: the top highlight, and from the bar's groove down.
    lines = [0, 1] + list(range(bar_top, row_height))
    for index, length in enumerate(bars):
        wrong, first = 0, None
        for y in lines:
            for x in range(row.width):
                expected = row.at(x, y)
                if bar_left <= x < bar_left + length and bar_top <= y < bar_top + bar_height:
                    expected = bar.at(x - bar_left, y - bar_top)
                got = image.at(left + x, top + index * row_height + y)
                if got != expected:
                    wrong += 1
                    first = first or (x, y, got, expected)
        if wrong:
            failures.append("panel row %d (bar %d pixels): %d pixels differ, first at (%d, %d) "
                            "in the row: %s, not %s" % ((index, length, wrong) + first))


def write_png(image, box, path):
    left, top, right, bottom = (max(box[0], 0), max(box[1], 0), min(box[2], image.width),
                                min(box[3], image.height))
    raw = b"".join(b"\0" + bytes(c for p in image.pixels[y][left:right] for c in p)
                   for y in range(top, bottom))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", right - left, bottom - top, 8, 2, 0, 0,
                                             0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def main(argv):
    png = None
    if "--png" in argv:
        at = argv.index("--png")
        png = argv[at + 1]
        del argv[at:at + 2]
    if len(argv) != 4:
        raise SystemExit(__doc__)
    image = read_xwd(argv[1])
    places, geometry, bars = read_windows(argv[2])
    failures = []
    strip, panel = places["strip"], places["panel"]
    if (panel[0], panel[1]) != (strip[0], strip[3]):
        failures.append("the panel starts at (%d, %d), not under the strip at (%d, %d)"
                        % (panel[0], panel[1], strip[0], strip[3]))
    if panel[3] - panel[1] < len(bars) * geometry[0]:
        failures.append("the panel is %d high, too low for %d rows"
                        % (panel[3] - panel[1], len(bars)))
    check_strip(image, strip, failures)
    check_panel(image, panel, geometry, bars, argv[3], failures)
    if png:
        write_png(image, places["frame"], png)
    for failure in failures:
        print("check_page_screenshot: " + failure, file=sys.stderr)
    if failures:
        return 1
    print("page: strip with %d buttons at %s, %d panel rows at %s, as the windows say"
          % (BUTTONS, strip, len(bars), panel[:2]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
