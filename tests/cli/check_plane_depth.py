#!/usr/bin/env python3
"""Run by skyloom -f after the plane case of render.cases: compares the
depth file "dep" in the working directory with the eye distances of the
plane z = 0 seen from (0, 0, 10) (horizontal angle of view 50 degrees, one
sample per pixel at (x + 0.507, y + 0.485)), and pixels that see nothing
with 1e8."""
import math
import struct
import sys

data = open("dep", "rb").read()
magic, width, height = struct.unpack("<iHH", data[:8])
depths = struct.unpack("<%df" % (width * height), data[8:8 + 4 * width * height])
focal = (width / 2) / math.tan(math.radians(25))
worst, hits, misses, faults = 0.0, 0, 0, 0
for row in range(height):
    for column in range(width):
        dx = (column + 0.507 - width / 2) / focal
        dy = (height - 1 - row + 0.485 - height / 2) / focal
        x, y = 10 * dx, 10 * dy  # where the ray meets the plane
        value = depths[row * width + column]
        if max(abs(x), abs(y)) < 2.9:
            expected = 10 * math.sqrt(1 + dx * dx + dy * dy)
            worst = max(worst, abs(value - expected) / expected)
            hits += 1
        elif max(abs(x), abs(y)) > 3.1:
            faults += value != 1e8
            misses += 1
ok = magic == 55655 and worst < 1e-3 and faults == 0 and hits > 500 and misses > 500
print("depth file %s: %d pixels on the plane (worst relative error %.1e), %d see nothing"
      % ("matches" if ok else "DIFFERS", hits, worst, misses))
sys.exit(0 if ok else 1)
