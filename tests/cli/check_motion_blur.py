#!/usr/bin/env python3
"""Motion blur against the time average of coverage, worked out here.

  check_motion_blur.py scene KIND
      prints a scene: a white square (incandescent, nothing else lights it)
      2 units wide and 1 high, at z = 0, seen from 10 units away (horizontal
      angle of view 40 degrees) over black, with a 180 degree shutter at
      frame 1. KIND says what moves:
        square   the square slides 2 units to the right over the shutter;
        camera   the camera (eye and view point) slides 2 units to the left;
        static   nothing moves (motion blur on, all the same);
        back     the square slides over a grey static back plane (z = -1);
        pane     a half-transparent square slides over a static white one;
        still    the square "moves" by 1e-7 units: less than counts as motion.
  check_motion_blur.py ...   (run by skyloom -f, KIND in MOTION_KIND)
      converts the image it names with the converter named by
      SKYLOOM_CONVERT and compares the middle rows with the time average:
      a column's sample at x sees the square while its left edge L(t) and
      right edge R(t) enclose x, both moving linearly from their shutter-open
      to their shutter-close positions, so the covered fraction of the
      shutter has a closed form, integrated here over the pixel's width.
      Prints "motion blur matches" and the error figures, or "DIFFERS".
      With MOTION_REFERENCE (a PNG of the same scene's static render), the
      rows' total brightness must equal the reference's within 2%; for "still",
      the image must equal the reference exactly.
"""
import math
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pngio import read_png  # noqa: E402

WIDTH, HEIGHT = 160, 40
AOV = 40.0
DISTANCE = 10.0
TRAVEL = 2.0  # world units over the shutter
GREY = 100    # the back plane's grey


def focal():
    return (WIDTH / 2) / math.tan(math.radians(AOV / 2))


def square(name, x0, x1, y0, y1, z):
    return ("polyset (motion_blur = ON, shader = (%s), vertices = ((cv((%g, %g, %g), 1)), "
            "(cv((%g, %g, %g), 1)), (cv((%g, %g, %g), 1)), (cv((%g, %g, %g), 1))), "
            "polygons = (polygon(0, 1, 2, 3)));"
            % (name, x0, y0, z, x1, y0, z, x1, y1, z, x0, y1, z))


def scene(kind):
    print("DEFINITION\nversion = 8;\nresolution = %d %d;" % (WIDTH, HEIGHT))
    print("aalevelmin = 4; aalevelmax = 16; aathreshold = 1;")
    print("motion_blur_on = ON;\nshutter_angle = 180;\nstartframe = 1; endframe = 1;")
    print("shader white (model = lambert, color = (0, 0, 0), diffuse = 0, "
          "incandescence = (255, 255, 255));")
    print("shader grey (model = lambert, color = (0, 0, 0), diffuse = 0, "
          "incandescence = (%d, %d, %d));" % (GREY, GREY, GREY))
    print("shader glass (model = lambert, color = (0, 0, 0), diffuse = 0, "
          "incandescence = (0, 0, 0), transparency = (128, 128, 128));")
    print("triple target (0, 0, 0);\nMODEL")
    # Shutter open at frame 0.75, close at 1.25: 4 units per frame is 2 units
    # over the shutter, the square centred at x = 0 at the frame time.
    if kind == "camera":
        print("target = (4 - frame * 4, 0, 0);")
        print("camera (pix = \"img\", eye = (4 - frame * 4, 0, %g), view = target, aov = %g, "
              "motion_blur = ON);" % (DISTANCE, AOV))
        print(square("white", -1, 1, -0.5, 0.5, 0))
        return
    depth = ", depth_file = \"dep\"" if kind == "back" else ""
    print("camera (pix = \"img\", eye = (0, 0, %g), view = target, aov = %g%s);"
          % (DISTANCE, AOV, depth))
    if kind == "back":
        print("{ " + square("grey", -6, 6, -3, 3, -1).replace("motion_blur = ON", "motion_blur = OFF")
              + " }")
    if kind == "pane":
        print("{ " + square("white", -6, 6, -3, 3, -1).replace("motion_blur = ON", "motion_blur = OFF")
              + " }")
    speed = {"static": 0, "still": 4e-7 / 2}.get(kind, 4)
    print("translate (frame * %g - %g, 0, 0);" % (speed, speed))
    print(square("glass" if kind == "pane" else "white", -1, 1, -0.5, 0.5, 0))


def covered(x, left0, right0, travel):
    """Fraction of [0, 1] during which left0 + travel·t <= x <= right0 + travel·t."""
    if travel == 0:
        return 1.0 if left0 <= x <= right0 else 0.0
    a, b = (x - right0) / travel, (x - left0) / travel
    lo, hi = max(0.0, min(a, b)), min(1.0, max(a, b))
    return max(0.0, hi - lo)


def expected_row(kind):
    f = focal()
    # Screen x of world x (z = 0, 10 units away); the square at the frame
    # time spans -1..1, at shutter open one unit further left.
    def screen(x):
        return WIDTH / 2 + f * x / DISTANCE
    travel = 0.0 if kind in ("static", "still") else screen(TRAVEL) - screen(0)
    left0, right0 = screen(-1) - travel / 2, screen(1) - travel / 2
    row = []
    for column in range(WIDTH):
        steps = 64
        total = sum(covered(column + (k + 0.5) / steps, left0, right0, travel)
                    for k in range(steps))
        row.append(total / steps)
    return row


def depth_faults(fractions):
    """Pixels whose depth is not the nearest surface seen during the shutter:
    the square (z = 0) wherever it covers any sample of the pixel at any
    time, the back plane (z = -1) elsewhere; eye distances."""
    data = open("dep", "rb").read()
    magic, width, height = struct.unpack("<iHH", data[:8])
    depths = struct.unpack("<%df" % (width * height), data[8:8 + 4 * width * height])
    f, faults = focal(), 0
    for row in range(HEIGHT // 2 - 3, HEIGHT // 2 + 3):
        for column in range(WIDTH):
            fraction = fractions[column]
            if 0 < fraction < 0.02 or (column > 0 and fractions[column - 1] == 0 < fraction):
                continue  # a sample may just miss the square's first touch
            dx = (column + 0.5 - WIDTH / 2) / f
            dy = (HEIGHT - 1 - row + 0.5 - HEIGHT / 2) / f
            plane = DISTANCE if fraction > 0 else DISTANCE + 1
            expected = plane * math.sqrt(1 + dx * dx + dy * dy)
            # The pixel keeps its samples' smallest depth; samples spread
            # over the pixel change the distance by a fraction of a pixel.
            faults += abs(depths[row * width + column] - expected) > 0.02 * expected
    return faults + (magic != 55655)


def check(kind, reference, written):
    image = "img.png"
    subprocess.run([os.environ["SKYLOOM_CONVERT"], written, image], check=True)
    rows = read_png(image)
    middle = rows[HEIGHT // 2 - 3:HEIGHT // 2 + 3]
    fractions = expected_row(kind)
    if kind == "back":
        # The grey plane shows whenever the square does not cover the sample.
        want = [255 * c + GREY * (1 - c) for c in fractions]
    elif kind == "pane":
        # Half of the white behind shows through the pane while it covers.
        want = [255 * (1 - c) + 255 * c * (128 / 255) for c in fractions]
    else:
        want = [255 * c for c in fractions]
    errors = [abs(pixel[0] - w) for row in middle for pixel, w in zip(row, want)]
    mean, worst = sum(errors) / len(errors), max(errors)
    ok = mean <= 2 and worst <= 12
    message = "mean error %.2f, largest %d" % (mean, worst)
    if reference:
        ref = read_png(reference)
        if kind == "still":
            same = all(a[:3] == b[:3] for r1, r2 in zip(rows, ref) for a, b in zip(r1, r2))
            ok = ok and same
            message += ", %s the static render" % ("equal to" if same else "UNLIKE")
        else:
            total = sum(p[0] for row in middle for p in row)
            static = sum(p[0] for row in ref[HEIGHT // 2 - 3:HEIGHT // 2 + 3] for p in row)
            ratio = total / static if static else 0
            ok = ok and abs(ratio - 1) <= 0.02
            message += ", brightness %.4f of the static render" % ratio
    if kind == "back":
        faults = depth_faults(fractions)
        ok = ok and faults == 0
        message += ", %d depths wrong" % faults
    print("motion blur %s: %s" % ("matches" if ok else "DIFFERS", message))
    return 0 if ok else 1


if __name__ == "__main__":
    if sys.argv[1] == "scene":
        scene(sys.argv[2])
        sys.exit(0)
    # skyloom -f passes the frame, its extension and the image file's name.
    sys.exit(check(os.environ["MOTION_KIND"], os.environ.get("MOTION_REFERENCE"), sys.argv[3]))
