#!/usr/bin/env python3
"""Draws Vantor's program icon: a chip with a downward arrow into it, in
32 x 32 and 16 x 16 pixels of the 16-colour palette, written as one .ico.
Usage: make_icon.py OUTPUT.ico"""
import struct
import sys

# The 16 colours of the standard Windows palette, each as (blue, green, red).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128),
    (128, 0, 0), (128, 0, 128), (128, 128, 0), (192, 192, 192),
    (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
# Colour numbers used in the drawing.
BLACK, DARK_GREY, LIGHT_GREY = 0, 8, 7
DARK_BLUE, YELLOW = 4, 11
TRANSPARENT = None


def draw(size):
    """Rows top to bottom of colour numbers, None where transparent."""
    s = size / 32.0
    pixels = [[TRANSPARENT] * size for _ in range(size)]

    def box(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    pixels[y][x] = colour

    # Pins on the left and right of the package.
    for y in range(12, 30, 4):
        box(3, y, 8, y + 2, DARK_GREY)
        box(24, y, 29, y + 2, DARK_GREY)
    # The package with its outline and the pin-1 mark.
    box(7, 10, 25, 31, BLACK)
    box(8, 11, 24, 30, DARK_BLUE)
    box(10, 26, 13, 28, LIGHT_GREY)
    # The arrow: a shaft from the top edge and a head entering the package.
    box(14, 0, 18, 12, YELLOW)
    for row in range(0, 8):
        box(10 + row / 2, 10 + row, 22 - row / 2, 11 + row, YELLOW)
    # A dark edge on the arrow's shaft so it reads on light backgrounds.
    box(13, 0, 14, 12, BLACK)
    box(18, 0, 19, 12, BLACK)
    return pixels


def image(size):
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in PALETTE)
    xor_rows = []
    and_rows = []
    for row in reversed(pixels):  # bottom row first
        nibbles = [0 if c is None else c for c in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(data + b"\0" * ((-len(data)) % 4))
        bits = 0
        mask = bytearray()
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is None else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b"\0" * ((-len(mask)) % 4))
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def main():
    images = [(32, image(32)), (16, image(16))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
