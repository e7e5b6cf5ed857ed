#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the client's own artwork and bell sound: data/images/*.png and data/bell.wav.

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
