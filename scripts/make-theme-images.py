#!/usr/bin/env python3
"""Draws the background images of the shipped themes (no outside images).

    scripts/make-theme-images.py        writes data/theme/{iPhone,iPad}/*.png

Plain PNG writer over zlib: 8-bit RGB, one filter byte per row. The pictures are soft
vertical gradients with a few horizontal bands, so they stay small.
"""
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "theme")


def png(path, width, height, row_color):
    raw = bytearray()
    for y in range(height):
        r, g, b = row_color(y / (height - 1))
        raw.append(0)
        raw.extend(bytes((r, g, b)) * width)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    data += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def gradient(stops, bands=0, band_depth=0.0):
    """stops: [(position, (r, g, b)), ...]; bands darken evenly spaced thin rows."""
    def color(t):
        for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
            if p0 <= t <= p1:
                k = (t - p0) / (p1 - p0) if p1 > p0 else 0.0
                c = [a + (b - a) * k for a, b in zip(c0, c1)]
                break
        else:
            c = list(stops[-1][1])
        if bands:
            phase = (t * bands) % 1.0
            if phase < 0.04:
                c = [v * (1.0 - band_depth) for v in c]
        return tuple(max(0, min(255, int(round(v)))) for v in c)
    return color


DUSK = gradient([(0.0, (24, 20, 64)), (0.55, (120, 40, 110)), (0.85, (232, 110, 70)), (1.0, (250, 170, 90))],
                bands=12, band_depth=0.06)
TIDE = gradient([(0.0, (8, 40, 72)), (0.5, (16, 96, 128)), (1.0, (120, 200, 200))], bands=20, band_depth=0.05)

SIZES = {"iPhone": ((320, 568), (568, 320)), "iPad": ((768, 1024), (1024, 768))}

for device, (portrait, landscape) in SIZES.items():
    folder = os.path.join(ROOT, device)
    os.makedirs(folder, exist_ok=True)
    for name, draw in (("dusk", DUSK), ("tide", TIDE)):
        png(os.path.join(folder, f"{name}-portrait.png"), *portrait, draw)
        png(os.path.join(folder, f"{name}-landscape.png"), *landscape, draw)
