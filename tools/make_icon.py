#!/usr/bin/env python3
"""Usage: python3 tools/make_icon.py   (regenerates app/res/pindral.ico)

Draws the application icon, a mouse with a wheel and two signal arcs, from
distance functions with supersampled coverage, so that every size is drawn on
its own pixel grid instead of being scaled from another. The images are
classic BMP payloads (no PNG) so that every Windows version and windres take
them. The 4- and 8-bit images, for shells that never pick the 32-bit ones,
use fixed palettes and a hard alpha edge carried by the AND mask, so the
output is the same bytes on every run.
"""
import functools
import math
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "res", "pindral.ico")
IMAGES = [(16, 4), (32, 4), (16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32)]  # (size, bpp)
SUPERSAMPLE = 8
INK, ACCENT = (30, 36, 52), (36, 112, 240)

# Windows' 16-colour VGA palette; the 256-colour one adds a 6x6x6 cube and a grey ramp.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
CUBE = [(r, g, b) for r in range(0, 256, 51) for g in range(0, 256, 51) for b in range(0, 256, 51)]
PALETTES = {4: VGA, 8: VGA + CUBE + [(v, v, v) for v in range(8, 248, 10)]}


def rounded_box(x, y, cx, cy, hw, hh, r, r_bottom=None):
    r = r if y < cy or r_bottom is None else r_bottom
    qx, qy = abs(x - cx) - hw + r, abs(y - cy) - hh + r
    return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r


def arc(x, y, cx, cy, radius, a0, a1, half_width):
    """Distance to a stroked circular arc from angle a0 to a1, with round caps."""
    if a0 <= math.atan2(y - cy, x - cx) <= a1:
        return abs(math.hypot(x - cx, y - cy) - radius) - half_width
    return min(math.hypot(x - cx - radius * math.cos(a), y - cy - radius * math.sin(a))
               for a in (a0, a1)) - half_width


G = 1 / 16   # one pixel of the 16x16 image: shapes sit on this grid, so edges stay sharp at 32 and 48 too


def colour_at(x, y):
    """Colour of the topmost shape at (x, y) in unit coordinates, or None."""
    w = G / 2                                             # half a stroke: 1, 2 and 3 pixels wide
    body = rounded_box(x, y, 5.5 * G, 9 * G, 4.5 * G, 6 * G, 4.5 * G, 3.5 * G)
    if rounded_box(x, y, 5.5 * G, 5.5 * G, w, 1.5 * G, w) <= 0:
        return ACCENT                                     # wheel
    if body <= 0:
        if body >= -2 * w or (abs(x - 5.5 * G) <= w and y <= 7.5 * G) or abs(y - 7.5 * G) <= w:
            return INK                                    # outline and button split
        shade = round(255 - 36 * (y - 3 * G) / (12 * G))
        return (shade, shade, min(255, shade + 6))
    if min(arc(x, y, 9.5 * G, 6 * G, r, -1.40, -0.17, w) for r in (2.5 * G, 5 * G)) <= 0:
        return ACCENT                                     # signal arcs
    return None


def render(size):
    """For each pixel, top row first, the colours of its subsamples (None where empty)."""
    n = SUPERSAMPLE
    return [[colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
             for sy in range(n) for sx in range(n)] for py in range(size) for px in range(size)]


def blend(samples):
    """Straight (not premultiplied) BGRA of the coverage-weighted mean."""
    hit = [c for c in samples if c]
    if not hit:
        return b"\0" * 4
    r, g, b = (round(sum(c[i] for c in hit) / len(hit)) for i in range(3))
    return bytes((b, g, r, round(255 * len(hit) / len(samples))))


@functools.lru_cache(maxsize=None)
def nearest(bpp, rgb):
    palette = PALETTES[bpp]
    return min(range(len(palette)), key=lambda i: sum((p - c) ** 2 for p, c in zip(palette[i], rgb)))


def pick(bpp, samples):
    """Palette index that most covered subsamples fall to: no blended colours at the edges."""
    hit = [nearest(bpp, c) for c in samples if c]
    return max(sorted(set(hit)), key=hit.count)


def pad4(row):
    return row + b"\0" * (-len(row) % 4)


def bmp_payload(pixels, size, bpp):
    palette = PALETTES.get(bpp, [])
    opaque = [2 * sum(1 for c in p if c) >= len(p) for p in pixels]
    xor, mask = b"", b""
    for y in reversed(range(size)):                       # bottom-up rows
        row = range(y * size, (y + 1) * size)
        if bpp == 32:
            line = b"".join(blend(pixels[i]) for i in row)
        else:                                             # index 0 is black: under the mask it leaves the screen as is
            idx = [pick(bpp, pixels[i]) if opaque[i] else 0 for i in row]
            line = bytes(idx) if bpp == 8 else bytes(a << 4 | b for a, b in zip(idx[::2], idx[1::2]))
        xor += pad4(line)
        mask += pad4(int("".join("0" if opaque[i] else "1" for i in row), 2).to_bytes(size // 8, "big"))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bpp, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + b"".join(struct.pack("4B", b, g, r, 0) for r, g, b in palette) + xor + mask


def main():
    rendered = {size: render(size) for size in sorted({size for size, _ in IMAGES})}
    payloads = [bmp_payload(rendered[size], size, bpp) for size, bpp in IMAGES]
    offset = 6 + 16 * len(IMAGES)
    out = struct.pack("<HHH", 0, 1, len(IMAGES))
    for (size, bpp), data in zip(IMAGES, payloads):
        out += struct.pack("<BBBBHHII", size, size, 16 if bpp == 4 else 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
    out += b"".join(payloads)
    with open(OUT, "wb") as f:
        f.write(out)
    print(f"wrote {os.path.normpath(OUT)} ({len(out)} bytes)")


if __name__ == "__main__":
    main()
