#!/usr/bin/env python3
"""Draws the program icons: one scalable SVG and PNGs of every hicolor size, from the same shapes.

Run from anywhere: `python3 tamrin/desktop/make_icons.py`; it rewrites tamrin/desktop/icons/. Only
the standard library is used, so the icons can be redrawn on any machine; the PNGs are committed.
"""
import math
import os
import struct
import zlib

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
HERE = os.path.dirname(os.path.abspath(__file__))

# Every shape is drawn on a 256 x 256 canvas; the PNGs scale it. Colours are (r, g, b).
BACK = (0x1F, 0x3A, 0x5F)
DISC = (0xC9, 0xD3, 0xDE)
RING = (0x9A, 0xA8, 0xB8)
HOLE = (0x1F, 0x3A, 0x5F)


def rounded_square(x, y):
    r, lo, hi = 40.0, 12.0, 244.0
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and lo <= x <= hi and lo <= y <= hi


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_in, r_out):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def triangle(a, b, c):
    def side(p, q, x, y):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    def inside(x, y):
        s1, s2, s3 = side(a, b, x, y), side(b, c, x, y), side(c, a, x, y)
        return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)

    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def disc_layers():
    return [
        (rounded_square, BACK),
        (circle(112, 112, 84), DISC),
        (ring(112, 112, 54, 58), RING),
        (ring(112, 112, 70, 73), RING),
        (circle(112, 112, 24), RING),
        (circle(112, 112, 12), HOLE),
    ]


def tamrin_layers():
    # The disc with a play mark: the program finds and plays the media of a disc.
    orange = (0xF2, 0x8C, 0x28)
    return disc_layers() + [
        (triangle((150, 128), (150, 232), (234, 180)), (0xFF, 0xFF, 0xFF)),
        (triangle((160, 146), (160, 214), (216, 180)), orange),
    ]


def tabulor_layers():
    # The disc with a sheet of rows: the editor of a disc's stream list.
    green = (0x3C, 0xA5, 0x5C)
    layers = disc_layers() + [(rect(140, 130, 236, 236), (0xFF, 0xFF, 0xFF)), (rect(148, 138, 228, 228), green)]
    for row in range(4):
        y = 150 + row * 20
        layers.append((rect(156, y, 220, y + 8), (0xFF, 0xFF, 0xFF)))
    return layers


def raster(layers, size, samples=4):
    """RGBA rows, each pixel the average of samples x samples points of the 256 canvas."""
    scale = 256.0 / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    colour = None
                    for inside, fill in layers:
                        if inside(x, y):
                            colour = fill
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 255.0
            n = samples * samples
            alpha = acc[3] / n
            if alpha > 0:
                # Colours are averaged over the covered samples only (straight alpha).
                covered = acc[3] / 255.0
                row += bytes(round(c / covered) for c in acc[:3]) + bytes([round(alpha)])
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return rows


def png(rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + r for r in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def hexcolour(c):
    return "#%02x%02x%02x" % c


def svg(extra):
    disc = f"""  <rect x="12" y="12" width="232" height="232" rx="40" fill="{hexcolour(BACK)}"/>
  <circle cx="112" cy="112" r="84" fill="{hexcolour(DISC)}"/>
  <circle cx="112" cy="112" r="56" fill="none" stroke="{hexcolour(RING)}" stroke-width="4"/>
  <circle cx="112" cy="112" r="71.5" fill="none" stroke="{hexcolour(RING)}" stroke-width="3"/>
  <circle cx="112" cy="112" r="24" fill="{hexcolour(RING)}"/>
  <circle cx="112" cy="112" r="12" fill="{hexcolour(HOLE)}"/>
"""
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">\n'
            + disc + extra + "</svg>\n")


SVG_EXTRA = {
    "tamrin": '  <polygon points="150,128 150,232 234,180" fill="#ffffff"/>\n'
              '  <polygon points="160,146 160,214 216,180" fill="#f28c28"/>\n',
    "tabulor": '  <rect x="140" y="130" width="96" height="106" fill="#ffffff"/>\n'
               '  <rect x="148" y="138" width="80" height="90" fill="#3ca55c"/>\n'
               + "".join(f'  <rect x="156" y="{150 + r * 20}" width="64" height="8" fill="#ffffff"/>\n'
                         for r in range(4)),
}
LAYERS = {"tamrin": tamrin_layers, "tabulor": tabulor_layers}


def main():
    out = os.path.join(HERE, "icons")
    os.makedirs(out, exist_ok=True)
    for name, layers in LAYERS.items():
        with open(os.path.join(out, f"{name}.svg"), "w", encoding="utf-8") as f:
            f.write(svg(SVG_EXTRA[name]))
        for size in SIZES:
            with open(os.path.join(out, f"{name}-{size}.png"), "wb") as f:
                f.write(png(raster(layers(), size), size))


if __name__ == "__main__":
    main()
