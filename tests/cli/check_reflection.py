#!/usr/bin/env python3
"""A mirror sphere in an environment, checked against the law of reflection.

  check_reflection.py scene [background]
      prints the scene: a unit sphere (a fine polyset with its true normals)
      at the origin seen from (0, 2, 6), its phong shader black with a white
      specular colour and reflectivity 1, reflecting a Chrome studio whose
      floor is black and whose walls and sky are white. With "background"
      the studio is the environment's background and the shader reflects
      it through reflect_background instead of a reflection map.
  check_reflection.py ...   (run by skyloom -f after the render)
      converts "img" with the converter named by SKYLOOM_CONVERT, and in
      every column that crosses the sphere's middle finds the row where the
      reflection turns from white to black; the ray of each pixel centre,
      reflected about the sphere's normal where it hits, points up above
      that row and down below it. Prints "horizon matches" when every
      column's edge lies within 2 pixels of where the reflection puts it.
"""
import math
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pngio import read_png  # noqa: E402
from sdl_shapes import sphere_polyset  # noqa: E402

SIZE = 160
AOV = 30.0
EYE = (0.0, 2.0, 6.0)  # above the sphere, so the horizon curves below its middle


def scene(background):
    studio = ("environment (procedure = Chrome, floor_color = 0, horizon_color = 255, "
              "sky_color = 255, zenith_color = 255, light_width = 0, light_depth = 0, "
              "grid_width = 0, grid_depth = 0)")
    mirror = "reflect_background = ON" if background else "reflection = " + studio
    print("DEFINITION\nversion = 8;\nresolution = %d %d;" % (SIZE, SIZE))
    print("shader mirror (model = phong, color = (0, 0, 0), diffuse = 0, "
          "specular = (255, 255, 255), reflectivity = 1, %s);" % mirror)
    print("triple o (0, 0, 0);")
    if background:
        print("ENVIRONMENT\nbackground = %s;" % studio)
    print("MODEL\ncamera (eye = (%g, %g, %g), view = o, aov = %g, pix = \"img\");" % (EYE + (AOV,)))
    print(sphere_polyset("mirror"))


def unit(v):
    n = math.sqrt(sum(c * c for c in v))
    return tuple(c / n for c in v)


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def reflected_up(column, row):
    """Whether the ray through (column, row) of the image (row 0 at the top),
    reflected by the sphere, points up; None when it misses the sphere."""
    focal = (SIZE / 2) / math.tan(math.radians(AOV / 2))
    # The camera looks at the origin with y up.
    forward = unit(tuple(-c for c in EYE))
    right = unit(cross(forward, (0.0, 1.0, 0.0)))
    up = cross(right, forward)
    x, y = (column - SIZE / 2) / focal, (SIZE / 2 - row) / focal
    d = unit(tuple(forward[i] + x * right[i] + y * up[i] for i in range(3)))
    b = sum(EYE[i] * d[i] for i in range(3))
    disc = b * b - (sum(c * c for c in EYE) - 1)
    if disc < 0:
        return None
    t = -b - math.sqrt(disc)
    p = tuple(EYE[i] + t * d[i] for i in range(3))
    k = 2 * sum(d[i] * p[i] for i in range(3))
    return d[1] - k * p[1] > 0


def check():
    subprocess.run([os.environ["SKYLOOM_CONVERT"], "img.qrl", "img.png"], check=True,
                   stdout=subprocess.DEVNULL)
    image = read_png("img.png")
    worst, columns = 0.0, 0
    for column in range(SIZE // 2 - 25, SIZE // 2 + 26):
        # The analytic edge: bisect between a row that sees up and one that sees down.
        top, bottom = SIZE / 2 - 30.0, SIZE / 2 + 30.0
        if not (reflected_up(column + 0.5, top) and reflected_up(column + 0.5, bottom) is False):
            continue
        for _ in range(40):
            middle = (top + bottom) / 2
            if reflected_up(column + 0.5, middle):
                top = middle
            else:
                bottom = middle
        expected = (top + bottom) / 2
        # The rendered edge: where the column falls through half brightness.
        values = [image[row][column][0] for row in range(SIZE)]
        found = None
        for row in range(SIZE // 2 - 30, SIZE // 2 + 30):
            if values[row] >= 128 > values[row + 1]:
                found = row + 1 + (values[row] - 128) / max(values[row] - values[row + 1], 1) - 0.5
                break
        if found is None:
            print("column %d has no edge" % column)
            sys.exit(1)
        worst = max(worst, abs(found - expected))
        columns += 1
    ok = columns > 40 and worst <= 2.0
    print("horizon %s: %d columns, worst %.2f pixels off" % ("matches" if ok else "DIFFERS", columns, worst))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "scene":
        scene(len(sys.argv) > 2 and sys.argv[2] == "background")
    else:
        check()
