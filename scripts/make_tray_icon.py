#!/usr/bin/env python3
"""Writes the tray icon of the Windows server: a 32 x 32, 16-colour icon (a blue disc with a
white level meter). Run again only to change the picture; the result is committed as
src/shell/win32/tray.ico."""
import math
import struct
import sys

SIZE = 32
# The 16-colour palette, each entry (blue, green, red); index 0 is black, the transparent pixels
# are black too and masked out.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
DARK_BLUE, BLUE, WHITE = 1, 9, 15


def pixel(x, y):
    """Palette index and visibility of the pixel at column x, row y (row 0 at the top)."""
    cx = cy = (SIZE - 1) / 2
    distance = math.hypot(x - cx, y - cy)
    if distance > 15.2:
        return 0, False
    bars = {9: 6, 13: 10, 17: 14, 21: 8}  # column -> half height of the meter bar
    for column, half in bars.items():
        if column <= x <= column + 2 and abs(y - cy) <= half:
            return WHITE, True
    return (DARK_BLUE if distance > 13.5 else BLUE), True


def icon_bytes():
    rows_xor = []
    rows_and = []
    for y in range(SIZE - 1, -1, -1):  # bitmaps are stored bottom-up
        nibbles = []
        mask_bits = []
        for x in range(SIZE):
            index, visible = pixel(x, y)
            nibbles.append(index)
            mask_bits.append(0 if visible else 1)
        rows_xor.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        rows_and.append(bytes(
            sum(bit << (7 - j) for j, bit in enumerate(mask_bits[i:i + 8])) for i in range(0, SIZE, 8)))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    image = header + palette + b"".join(rows_xor) + b"".join(rows_and)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + image


if __name__ == "__main__":
    with open(sys.argv[1] if len(sys.argv) > 1 else "src/shell/win32/tray.ico", "wb") as out:
        out.write(icon_bytes())
