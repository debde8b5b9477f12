#!/usr/bin/env python3
"""Curvature measured on spheres, checked against their radii.

  check_curvature.py scene
      prints the scene: two spheres (fine polysets with their true
      normals) of radius 1 and 0.5 side by side, and a plane behind them,
      glowing with their mean curvature through `cscale = 0.25` (so a
      radius r shows the grey 255 / (4 r)).
  check_curvature.py ...   (run by skyloom -f after the render)
      converts "img" with the converter named by SKYLOOM_CONVERT and
      compares the middle of each sphere and of the plane with the grey
      its radius gives. Prints "curvature matches" when each is within 3
      levels.
"""
import math
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pngio import read_png  # noqa: E402
from sdl_shapes import sphere_polyset  # noqa: E402

SIZE = 120
SPHERES = (((-1.0, 0.0, 0.0), 1.0), ((1.0, 0.0, 0.0), 0.5))


def scene():
    print("DEFINITION\nversion = 8;\nresolution = %d %d;" % (SIZE, SIZE))
    print("shader s (model = lambert, color = (0, 0, 0), diffuse = 0, "
          "incandescence = environment (procedure = Mean, cscale = 0.25));")
    print("triple o (0, 0, 0);")
    print("MODEL\ncamera (eye = (0, 0, 8), view = o, aov = 30, pix = \"img\");")
    for centre, radius in SPHERES:
        print(sphere_polyset("s", centre, radius))
    print("polyset (shader = (s), vertices = ((cv((-9, -9, -3), 1)), (cv((9, -9, -3), 1)), "
          "(cv((9, 9, -3), 1)), (cv((-9, 9, -3), 1))), polygons = (polygon(0, 1, 2, 3)));")


def pixel(point):
    """The pixel (column, row from the top) a point straight ahead of the eye falls on."""
    focal = (SIZE / 2) / math.tan(math.radians(15))
    depth = 8 - point[2]
    return int(SIZE / 2 + focal * point[0] / depth), int(SIZE / 2 - focal * point[1] / depth)


def check():
    subprocess.run([os.environ["SKYLOOM_CONVERT"], "img.qrl", "img.png"], check=True,
                   stdout=subprocess.DEVNULL)
    image = read_png("img.png")
    places = [((c[0], c[1], c[2] + r), 255 / (4 * r)) for c, r in SPHERES]
    places.append(((0.0, 2.5, -3.0), 0.0))
    worst = 0.0
    for point, expected in places:
        column, row = pixel(point)
        # The mean of the 3 x 3 pixels there.
        grey = sum(image[row + dy][column + dx][0] for dx in (-1, 0, 1) for dy in (-1, 0, 1)) / 9
        print("at %s: %.1f, expected %.1f" % (point, grey, expected))
        worst = max(worst, abs(grey - expected))
    ok = worst <= 3.0
    print("curvature %s: worst %.1f levels off" % ("matches" if ok else "DIFFERS", worst))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "scene":
        scene()
    else:
        check()
