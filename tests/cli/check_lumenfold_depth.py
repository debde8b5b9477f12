#!/usr/bin/env python3
"""Run by skyloom -f after the integer depth case of output.cases: the depth
file "d" must hold, for the pixels that see the plane halfway between the
camera's near (2) and far (22) planes, half the integer range, and 0 for
the pixels that see nothing (their distance lies beyond the far plane)."""
import struct
import sys

data = open("d", "rb").read()
magic, width, height = struct.unpack("<iHH", data[:8])
values = struct.unpack("<%di" % (width * height), data[8:8 + 4 * width * height])
half = (22 - 12) / (22 - 2) * 2147483647
plane = empty = faults = 0
for row in range(height):
    for column in range(width):
        value = values[row * width + column]
        if column < width // 2 - 1:
            faults += abs(value - half) > 2147483647 * 1e-5
            plane += 1
        elif column > width // 2:
            faults += value != 0
            empty += 1
ok = magic == 56655 and faults == 0 and len(data) == 8 + 4 * width * height
print("integer depths %s: %d on the plane, %d see nothing" % ("match" if ok else "DIFFER", plane, empty))
sys.exit(0 if ok else 1)
