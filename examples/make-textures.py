#!/usr/bin/env python3
"""Draws the texture images of the bundled example cities into examples/textures/.

Uses only the standard library (zlib and struct write the PNG files), so the images can be
rebuilt anywhere: python3 examples/make-textures.py. The output is deterministic: the same
script always writes the same bytes, so regenerating leaves git clean.

Facades are drawn as a whole number of window bays and storeys, so they tile seamlessly when a
box repeats them; no pixel is pure black, since Ombrel makes pure black transparent.
"""

import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "textures")


class Rng:
    """Small linear congruential generator so the noise is the same on every run."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state >> 16

    def jitter(self, amount):
        return self.next() % (2 * amount + 1) - amount


class Image:
    def __init__(self, width, height, colour):
        self.width = width
        self.height = height
        self.pixels = [list(colour) for _ in range(width * height)]

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y * self.width + x] = list(colour)

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.set(x, y, colour)

    def noise(self, rng, amount):
        for p in self.pixels:
            d = rng.jitter(amount)
            for i in range(3):
                p[i] = max(1, min(255, p[i] + d))

    def save(self, name):
        raw = bytearray()
        for y in range(self.height):
            raw.append(0)  # filter: none
            for x in range(self.width):
                raw.extend(max(1, min(255, c)) for c in self.pixels[y * self.width + x])

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
               + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(png)


def facade(name, size, wall, window, frame, bays, storeys, seed, noise=4, window_w=0.5, window_h=0.55):
    """A wall with bays x storeys windows, each window centred in its tile."""
    w, h = size
    img = Image(w, h, wall)
    img.noise(Rng(seed), noise)
    tw, th = w // bays, h // storeys
    ww, wh = max(2, int(tw * window_w)), max(2, int(th * window_h))
    rng = Rng(seed + 1)
    for by in range(storeys):
        for bx in range(bays):
            x0 = bx * tw + (tw - ww) // 2
            y0 = by * th + (th - wh) // 2
            img.rect(x0 - 1, y0 - 1, x0 + ww + 1, y0 + wh + 1, frame)
            lit = rng.next() % 5 == 0  # a few lit rooms
            pane = (205, 190, 120) if lit else window
            img.rect(x0, y0, x0 + ww, y0 + wh, pane)
            # a highlight across the upper pane
            img.rect(x0, y0, x0 + ww, y0 + 1, tuple(min(255, c + 40) for c in pane))
    img.save(name)


def glass(name, size, seed):
    w, h = size
    img = Image(w, h, (60, 95, 130))
    rng = Rng(seed)
    for y in range(h):
        for x in range(w):
            shade = 20 * y // h + rng.jitter(3)
            img.set(x, y, (60 + shade, 95 + shade, 135 + shade))
    for x in range(0, w, 8):
        img.rect(x, 0, x + 1, h, (170, 175, 180))
    for y in range(0, h, 8):
        img.rect(0, y, w, y + 1, (150, 155, 160))
    img.save(name)


def bands(name, size, seed):
    """Concrete with continuous ribbon windows: three storeys."""
    w, h = size
    img = Image(w, h, (168, 164, 156))
    img.noise(Rng(seed), 5)
    th = h // 3
    for s in range(3):
        y0 = s * th + th // 4
        img.rect(0, y0, w, y0 + th // 2, (52, 70, 88))
        img.rect(0, y0, w, y0 + 1, (110, 130, 150))
        for x in range(0, w, w // 4):
            img.rect(x, y0, x + 2, y0 + th // 2, (140, 138, 132))
    img.save(name)


def tiles(name, size, base, seed):
    w, h = size
    img = Image(w, h, base)
    img.noise(Rng(seed), 6)
    for y in range(0, h, 8):
        img.rect(0, y, w, y + 1, tuple(c // 2 for c in base))
        shift = 4 if (y // 8) % 2 else 0
        for x in range(shift, w, 8):
            img.rect(x, y, x + 1, y + 8, tuple(c * 2 // 3 for c in base))
    img.save(name)


def plain(name, size, colour, seed, amount):
    img = Image(size[0], size[1], colour)
    img.noise(Rng(seed), amount)
    img.save(name)
    return img


def road(name, vertical, seed):
    img = Image(64, 64, (70, 70, 74))
    img.noise(Rng(seed), 6)
    paint = (225, 222, 200)
    for i in range(0, 64, 16):
        if vertical:
            img.rect(31, i + 2, 33, i + 10, paint)
        else:
            img.rect(i + 2, 31, i + 10, 33, paint)
    # kerbs along both edges
    kerb = (150, 150, 145)
    if vertical:
        img.rect(0, 0, 3, 64, kerb)
        img.rect(61, 0, 64, 64, kerb)
    else:
        img.rect(0, 0, 64, 3, kerb)
        img.rect(0, 61, 64, 64, kerb)
    img.save(name)


def crossing(name, seed):
    img = Image(64, 64, (70, 70, 74))
    img.noise(Rng(seed), 6)
    paint = (225, 222, 200)
    for i in range(8, 56, 8):
        img.rect(i, 2, i + 4, 10, paint)
        img.rect(i, 54, i + 4, 62, paint)
        img.rect(2, i, 10, i + 4, paint)
        img.rect(54, i, 62, i + 4, paint)
    img.save(name)


def pavement(name, seed):
    img = Image(32, 32, (178, 172, 160))
    img.noise(Rng(seed), 5)
    for i in range(0, 32, 8):
        img.rect(0, i, 32, i + 1, (140, 136, 128))
        img.rect(i, 0, i + 1, 32, (140, 136, 128))
    img.save(name)


def grass(name, seed):
    img = Image(32, 32, (70, 125, 55))
    rng = Rng(seed)
    for p in img.pixels:
        d = rng.jitter(14)
        p[0] += d // 2
        p[1] += d
    img.save(name)


def main():
    os.makedirs(OUT, exist_ok=True)
    facade("facade1.png", (64, 64), (150, 72, 52), (48, 62, 84), (214, 206, 190), 4, 3, 11)
    facade("facade2.png", (64, 64), (205, 190, 150), (56, 74, 96), (120, 100, 80), 4, 3, 12)
    facade("facade3.png", (64, 64), (176, 182, 186), (40, 56, 78), (96, 100, 104), 4, 3, 13,
           window_w=0.7, window_h=0.7)
    # deliberately not a power of two: Ombrel resizes it to 128 x 128
    facade("office.png", (96, 160), (112, 118, 128), (36, 52, 74), (190, 194, 200), 4, 5, 14,
           window_w=0.75, window_h=0.6)
    glass("glass.png", (64, 64), 15)
    bands("bands.png", (64, 48), 16)
    tiles("roof_tiles.png", (64, 64), (160, 64, 44), 21)
    tiles("roof_slate.png", (64, 64), (82, 88, 100), 22)
    tiles("roof_copper.png", (32, 32), (92, 150, 126), 23)
    plain("roof_gravel.png", (32, 32), (128, 126, 120), 24, 14)
    road("road_h.png", False, 31)
    road("road_v.png", True, 32)
    crossing("crossing.png", 33)
    plain("asphalt.png", (32, 32), (72, 72, 76), 34, 7)
    pavement("pavement.png", 35)
    grass("grass.png", 36)


if __name__ == "__main__":
    main()
