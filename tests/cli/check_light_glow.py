#!/usr/bin/env python3
"""Run by skyloom -f after the light glow case of post_effects.cases: a
white point light at (1, 0.5, 0) seen from (0, 0, 10) (horizontal angle of
view 50 degrees, 160 x 120 pixels) over nothing, with a linear glow of
spread 1: the glow must be centred where the light projects and fall off
as 255 (1 - d / R) with R, a sixteenth of the width, 10 pixels.

Converts "img" with the converter named by SKYLOOM_CONVERT and prints
"glow matches" when the brightest pixel lies within a pixel of the light's
place and every pixel within the glow is within 3 of the line's value.

With the argument "chequer" the glow's colour is a Checker texture of red
and blue laid across the glow: prints "chequer matches" when, halfway out,
the glow is red in the lower left and upper right quarters and blue in the
others."""
import math
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pngio import read_png  # noqa: E402

WIDTH, HEIGHT, RADIUS = 160, 120, 10.0
with tempfile.TemporaryDirectory() as scratch:
    png = os.path.join(scratch, "img.png")
    subprocess.run([os.environ["SKYLOOM_CONVERT"], "img.qrl", png], check=True)
    rows = read_png(png)
focal = (WIDTH / 2) / math.tan(math.radians(25))
lx, ly = WIDTH / 2 + focal * 0.1, HEIGHT / 2 - focal * 0.05  # from the top
if "chequer" in sys.argv[1:]:
    quarters = []
    for sx, sy in ((-1, 1), (1, -1), (1, 1), (-1, -1)):  # rows count down the image
        r, g, b = rows[int(ly + sy * 3.5)][int(lx + sx * 3.5)]
        quarters.append((r, b))
    ok = all(r > 20 and b == 0 for r, b in quarters[:2]) and \
        all(b > 20 and r == 0 for r, b in quarters[2:])
    print("chequer %s: %s" % ("matches" if ok else "DIFFERS", quarters))
    sys.exit(0 if ok else 1)
brightest = max(((rows[r][x][0], x, r) for r in range(HEIGHT) for x in range(WIDTH)))
worst, inside = 0, 0
for r in range(HEIGHT):
    for x in range(WIDTH):
        d = math.hypot(x + 0.5 - lx, r + 0.5 - ly)
        expected = 255 * (1 - d / RADIUS) if d < RADIUS else 0
        if d < RADIUS:
            inside += 1
        worst = max(worst, abs(rows[r][x][0] - expected))
off = math.hypot(brightest[1] + 0.5 - lx, brightest[2] + 0.5 - ly)
ok = off <= 1.0 and worst <= 3 and inside > 250
print("glow %s: brightest %d at %.2f pixels from the light, worst difference %d over %d pixels"
      % ("matches" if ok else "DIFFERS", brightest[0], off, worst, inside))
sys.exit(0 if ok else 1)
