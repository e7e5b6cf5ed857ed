#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the client's own artwork and bell sound: data/images/*.png, data/bell.wav and the
application icon in data/icons/hicolor/<size>/apps/tileparlor.png.

Run from the repository root: python3 tools/artwork/make_artwork.py
Everything is computed from simple shapes and gradients; no outside material is used.
"""
import math
import os
import struct
import wave
import zlib

ROOT = os.path.join(os.path.dirname(__file__), "..", "..", "data")


def write_png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(chunk(b"IEND", b""))


def tile(x, y):
    # One tile of the faint grid of mahjong-like tiles, as white over the window's gradient
    # (a style-sheet gradient under it): a small picture that repeats costs little memory,
    # where a whole window's worth of pixels would cost megabytes.
    tx, ty = x % 64, y % 88
    if 4 <= tx < 60 and 4 <= ty < 84:
        edge = tx in (4, 59) or ty in (4, 83)
        return bytes((255, 255, 255, 38 if edge else 15))
    return bytes((0, 0, 0, 0))


def guide(x, y):
    # A simple guide figure: round head, body as a rounded trapezoid, on a transparent field.
    cx = 72
    head = (x - cx) ** 2 + (y - 60) ** 2 <= 30 ** 2
    hair = (x - cx) ** 2 + (y - 52) ** 2 <= 34 ** 2 and y < 58
    half = 22 + (y - 100) * 0.35
    body = 100 <= y <= 232 and abs(x - cx) <= half
    if hair:
        return bytes((60, 40, 90, 255))
    if head:
        eye = y in range(58, 64) and (abs(x - (cx - 11)) <= 2 or abs(x - (cx + 11)) <= 2)
        return bytes((30, 30, 40, 255)) if eye else bytes((250, 225, 205, 255))
    if body:
        stripe = (y // 12) % 2 == 0
        return bytes((200, 60, 70, 255)) if stripe else bytes((230, 90, 90, 255))
    return bytes((0, 0, 0, 0))


def rounded_box(u, v, x0, y0, x1, y1, r):
    # Inside a rectangle with rounded corners, in the icon's unit square.
    dx = max(x0 + r - u, 0, u - (x1 - r))
    dy = max(y0 + r - v, 0, v - (y1 - r))
    return x0 <= u <= x1 and y0 <= v <= y1 and dx * dx + dy * dy <= r * r


def icon_colour(u, v):
    # A white tile with a red circle and a blue bar, standing on a green felt square; the tile's
    # shadow falls to the lower right.
    if rounded_box(u, v, 0.27, 0.13, 0.75, 0.87, 0.07):
        if (u - 0.51) ** 2 + (v - 0.38) ** 2 <= 0.13 ** 2:
            inner = (u - 0.51) ** 2 + (v - 0.38) ** 2 <= 0.07 ** 2
            return (250, 246, 236, 255) if inner else (205, 40, 50, 255)
        if rounded_box(u, v, 0.37, 0.62, 0.65, 0.72, 0.03):
            return (40, 80, 170, 255)
        return (250, 246, 236, 255)
    if rounded_box(u, v, 0.30, 0.16, 0.79, 0.91, 0.07):
        return (10, 50, 30, 255)
    if rounded_box(u, v, 0.04, 0.04, 0.96, 0.96, 0.18):
        shade = int(40 * v)
        return (30, 125 - shade, 75 - shade // 2, 255)
    return (0, 0, 0, 0)


def icon(size):
    # Four by four samples a pixel, so that the small sizes keep smooth edges.
    n = 4

    def pixel(x, y):
        total = [0, 0, 0, 0]
        for i in range(n):
            for j in range(n):
                c = icon_colour((x + (i + 0.5) / n) / size, (y + (j + 0.5) / n) / size)
                for k in range(3):
                    total[k] += c[k] * c[3]
                total[3] += c[3]
        if total[3] == 0:
            return bytes((0, 0, 0, 0))
        return bytes([round(total[k] / total[3]) for k in range(3)] + [round(total[3] / n / n)])

    return pixel


ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def bell(path):
    rate, seconds = 22050, 0.35
    frames = bytearray()
    for i in range(int(rate * seconds)):
        t = i / rate
        envelope = math.exp(-9 * t)
        sample = envelope * (0.6 * math.sin(2 * math.pi * 1320 * t) + 0.3 * math.sin(2 * math.pi * 2640 * t))
        frames.extend(struct.pack("<h", int(sample * 20000)))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    write_png(os.path.join(ROOT, "images", "back0.png"), 64, 88, tile)
    write_png(os.path.join(ROOT, "images", "guide0.png"), 144, 240, guide)
    bell(os.path.join(ROOT, "bell.wav"))
    for size in ICON_SIZES:
        folder = os.path.join(ROOT, "icons", "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, "tileparlor.png"), size, size, icon(size))
