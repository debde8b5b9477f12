#!/usr/bin/env python3
"""Run by skyloom -f after the hidden-line cases of render.cases: a
square at z = 0 (x and y from -2 to 1, unfilled) in front of a square at
z = -2 (from -1 to 2.2, filled with (200, 200, 255)), seen from
(0, 0, 10) with a horizontal angle of view of 40 degrees, 160 x 120
pixels, without anti-aliasing, over a white background.

Every pixel corner (x + 0.001, y + 0.001) sees the nearest square that
covers it, found here from the squares' projections; a pixel whose four
corners do not all see the same surface is crossed by an edge and must
be the line colour (0, 0, 128); any other pixel the fill of what its
lower left corner sees. Prints "hidden lines match" when every pixel of
"img" is within 1 of that.

With HIDDEN_LINE_WIDTH = w the lines are w pixels wide: every pixel whose
centre lies within w / 2 of the centre of a crossed pixel (w odd) or of
its lower left corner (w even) is the line colour."""
import math
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pngio import read_png  # noqa: E402

WIDTH, HEIGHT = 160, 120
LINE, WHITE, BACK_FILL = (0, 0, 128), (255, 255, 255), (200, 200, 255)
with tempfile.TemporaryDirectory() as scratch:
    png = os.path.join(scratch, "img.png")
    subprocess.run([os.environ["SKYLOOM_CONVERT"], "img.qrl", png], check=True)
    rows = read_png(png)
focal = (WIDTH / 2) / math.tan(math.radians(20))


def rectangle(low, high, distance):
    def screen(v, half):
        return half + focal * v / distance
    return (screen(low, WIDTH / 2), screen(high, WIDTH / 2),
            screen(low, HEIGHT / 2), screen(high, HEIGHT / 2))


FRONT = rectangle(-2.0, 1.0, 10.0)
BACK = rectangle(-1.0, 2.2, 12.0)


def seen(x, y):
    for name, (x0, x1, y0, y1) in (("front", FRONT), ("back", BACK)):
        if x0 <= x <= x1 and y0 <= y <= y1:
            return name
    return "nothing"


FILL = {"front": WHITE, "back": BACK_FILL, "nothing": WHITE}
line_width = int(os.environ.get("HIDDEN_LINE_WIDTH", "1"))
centre = 0.5 if line_width % 2 else 0.0
crossed = set()
for y in range(HEIGHT):
    for x in range(WIDTH):
        corners = {seen(x + dx + 0.001, y + dy + 0.001) for dx in (0, 1) for dy in (0, 1)}
        if len(corners) > 1:
            crossed.add((x, y))
# The line: pixel centres within half the width of a crossed pixel's centre
# (odd widths) or lower left corner (even widths).
radius = line_width / 2.0
on_line = set()
for (cx, cy) in crossed:
    px, py = cx + centre, cy + centre
    for y in range(int(py - radius) - 1, int(py + radius) + 2):
        for x in range(int(px - radius) - 1, int(px + radius) + 2):
            if math.hypot(x + 0.5 - px, y + 0.5 - py) <= radius + 1e-9:
                on_line.add((x, y))
faults, lines = [], 0
for y in range(HEIGHT):
    for x in range(WIDTH):
        if (x, y) in on_line:
            expected = LINE
            lines += 1
        else:
            expected = FILL[seen(x + 0.001, y + 0.001)]
        got = rows[HEIGHT - 1 - y][x]
        if any(abs(g - e) > 1 for g, e in zip(got, expected)):
            faults.append((x, y, got, expected))
ok = not faults and lines > 300 * line_width
print("hidden lines %s: %d line pixels, %d differ %s"
      % ("match" if ok else "DIFFER", lines, len(faults), faults[:5]))
sys.exit(0 if ok else 1)
