#!/usr/bin/env python3
"""Writes kestrava.ico: the program's icon, the same badge the window's logo draws (a rounded
square shaded from navy to teal with a white lightning bolt), at 16, 32 and 48 pixels, 32-bit
colour with alpha. Standard library only; run it again after changing the drawing:

    python3 app/res/make_icon.py app/res/kestrava.ico
"""
import struct
import sys

NAVY = (16, 42, 84)
TEAL = (0, 150, 170)
WHITE = (255, 255, 255)
# The bolt, in fractions of the side (the logo uses the same points in thousandths).
BOLT = [(0.600, 0.110), (0.270, 0.560), (0.470, 0.560), (0.380, 0.900),
        (0.740, 0.420), (0.540, 0.420), (0.660, 0.110)]
SUPERSAMPLES = 4


def inside_rounded_square(x, y, radius):
    """x, y in [0, 1]; True inside a square with corners rounded by radius."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def pixel(size, px, py):
    """The pixel's BGRA colour, averaged over SUPERSAMPLES x SUPERSAMPLES samples."""
    total = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SUPERSAMPLES):
        for sx in range(SUPERSAMPLES):
            x = (px + (sx + 0.5) / SUPERSAMPLES) / size
            y = (py + (sy + 0.5) / SUPERSAMPLES) / size
            if not inside_rounded_square(x, y, 1 / 6):
                continue
            colour = tuple(n + (t - n) * y for n, t in zip(NAVY, TEAL))
            if inside_polygon(x, y, BOLT):
                colour = WHITE
            for k in range(3):
                total[k] += colour[k]
            total[3] += 1
    samples = SUPERSAMPLES * SUPERSAMPLES
    if total[3] == 0:
        return bytes((0, 0, 0, 0))
    r, g, b = (round(c / total[3]) for c in total[:3])
    return bytes((b, g, r, round(255 * total[3] / samples)))


def image(size):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA rows, then the 1-bit AND mask."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''.join(b''.join(pixel(size, x, y) for x in range(size)) for y in reversed(range(size)))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha decides; the mask marks everything as drawn
    return header + rows + mask


def main():
    sizes = (16, 32, 48)
    images = [image(size) for size in sizes]
    offset = 6 + 16 * len(sizes)
    directory = struct.pack('<HHH', 0, 1, len(sizes))
    for size, data in zip(sizes, images):
        directory += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], 'wb') as out:
        out.write(directory + b''.join(images))


if __name__ == '__main__':
    main()
