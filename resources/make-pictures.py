#!/usr/bin/env python3
"""Draws Tenvar's own pictures as PNG files into resources/pictures.

Run it again after changing a drawing; the PNGs it writes are committed, so a build needs
neither this script nor anything beyond Python's standard library to have been run.
"""
import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "pictures")


class Canvas:
    def __init__(self, width, height, fill=(0, 0, 0, 0)):
        self.width, self.height = width, height
        self.pixels = [list(fill) for _ in range(width * height)]

    def blend(self, x, y, colour, coverage=1.0):
        if not (0 <= x < self.width and 0 <= y < self.height) or coverage <= 0:
            return
        r, g, b, a = colour
        a = a / 255.0 * min(coverage, 1.0)
        dst = self.pixels[y * self.width + x]
        da = dst[3] / 255.0
        oa = a + da * (1 - a)
        if oa == 0:
            return
        for i, c in enumerate((r, g, b)):
            dst[i] = round((c * a + dst[i] * da * (1 - a)) / oa)
        dst[3] = round(oa * 255)

    def shape(self, inside, colour, samples=4):
        """Fills every pixel by the share of its sub-samples for which inside(x, y) holds."""
        for y in range(self.height):
            for x in range(self.width):
                hits = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                            hits += 1
                self.blend(x, y, colour, hits / samples ** 2)

    def rect(self, left, top, right, bottom, colour):
        for y in range(top, bottom):
            for x in range(left, right):
                self.blend(x, y, colour)

    def write(self, name):
        raw = b"".join(
            b"\x00" + bytes(c for px in self.pixels[y * self.width:(y + 1) * self.width] for c in px)
            for y in range(self.height))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        png = (b"\x89PNG\r\n\x1a\n"
               + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0))
               + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(png)


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) <= width / 2


def globe(canvas, cx, cy, r, body, lines):
    """A globe: a disc with an equator, two parallels and a meridian ellipse."""
    canvas.shape(disc(cx, cy, r), body)
    inside = disc(cx, cy, r - 0.8)
    w = max(1.0, r / 9)
    canvas.shape(lambda x, y: inside(x, y) and abs(y - cy) <= w / 2, lines)
    for k in (-0.5, 0.5):
        canvas.shape(lambda x, y, k=k: inside(x, y) and abs(y - (cy + k * r)) <= w / 2, lines)
    for squeeze in (0.45,):
        canvas.shape(lambda x, y, s=squeeze: inside(x, y) and abs(
            math.hypot((x - cx) / s, y - cy) - r) <= w * 1.2, lines)
    canvas.shape(lambda x, y: inside(x, y) and abs(x - cx) <= w / 2, lines)
    canvas.shape(ring(cx, cy, r - 0.5, 1.0), (20, 40, 70, 255))


BLUE = (42, 127, 212, 255)
GREY = (140, 146, 152, 255)
WHITE = (245, 248, 252, 235)


def state_icon(name, body, badge, mark):
    canvas = Canvas(32, 32)
    globe(canvas, 14, 14, 12.5, body, WHITE)
    canvas.shape(disc(24, 24, 7.2), (30, 30, 30, 255))
    canvas.shape(disc(24, 24, 6), badge)
    mark(canvas)
    canvas.write(name)


def tick(canvas):
    canvas.shape(lambda x, y: abs((y - 24) - (x - 21) * 1.0) <= 0.9 and 20.5 <= x <= 23 or
                 abs((y - 27) + (x - 23) * 1.4) <= 1.1 and 22.5 <= x <= 27.5, (255, 255, 255, 255))


def dots(canvas):
    for x in (21, 24, 27):
        canvas.shape(disc(x, 24, 1.1), (255, 255, 255, 255))


def cross(canvas):
    canvas.shape(lambda x, y: (abs((x - 24) - (y - 24)) <= 1.1 or abs((x - 24) + (y - 24)) <= 1.1)
                 and abs(x - 24) <= 3.2 and abs(y - 24) <= 3.2, (255, 255, 255, 255))


def dialling_frame(index):
    canvas = Canvas(32, 32)
    globe(canvas, 16, 16, 10.5, BLUE, WHITE)
    angle = math.pi / 2 * index - math.pi / 2
    for trail, alpha in ((0.0, 255), (-0.45, 150), (-0.9, 70)):
        a = angle + trail
        canvas.shape(disc(16 + 13.5 * math.cos(a), 16 + 13.5 * math.sin(a), 2.4),
                     (240, 170, 20, alpha))
    canvas.write("dialling-%d.png" % (index + 1))


def empty_graph():
    # A dark strip framed in grey; bars stand on the row above the bottom frame line, so the
    # inside is rows 1 to 25 and columns 1 to 100. Faint lines mark every 20 %.
    canvas = Canvas(102, 27, (0, 0, 0, 255))
    for y in (5, 10, 15, 20):
        canvas.rect(1, 26 - y - 1, 101, 26 - y, (0, 70, 0, 255))
    canvas.rect(0, 0, 102, 1, (128, 128, 128, 255))
    canvas.rect(0, 26, 102, 27, (128, 128, 128, 255))
    canvas.rect(0, 0, 1, 27, (128, 128, 128, 255))
    canvas.rect(101, 0, 102, 27, (128, 128, 128, 255))
    canvas.write("graph.png")


def logo():
    canvas = Canvas(110, 130, (0, 0, 0, 0))
    for y in range(130):
        shade = 60 + y
        canvas.rect(0, y, 110, y + 1, (20, 50, min(255, shade + 60), 255))
    globe(canvas, 55, 74, 38, (58, 140, 220, 255), (235, 245, 255, 220))
    # A bold T over the globe: one line in, many machines out.
    canvas.rect(25, 14, 85, 26, (250, 250, 250, 255))
    canvas.rect(49, 26, 61, 70, (250, 250, 250, 255))
    for x in (22, 42, 68, 88):
        canvas.shape(disc(x, 118, 5), (240, 170, 20, 255))
        canvas.rect(x - 1, 100, x + 1, 113, (240, 170, 20, 255))
    canvas.write("logo.png")


def main():
    os.makedirs(OUT, exist_ok=True)
    state_icon("connected.png", BLUE, (40, 170, 60, 255), tick)
    state_icon("connecting.png", BLUE, (235, 160, 20, 255), dots)
    state_icon("not-connected.png", GREY, (200, 40, 40, 255), cross)
    for index in range(4):
        dialling_frame(index)
    empty_graph()
    logo()
    return 0


if __name__ == "__main__":
    sys.exit(main())
