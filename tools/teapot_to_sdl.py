#!/usr/bin/env python3
"""Writes examples/teapot.sdl: the Utah teapot as 32 bicubic Bezier patches,
with a camera, a spot light and an ambient light.

    tools/teapot_to_sdl.py /path/to/teapot.txt > examples/teapot.sdl

The data file holds 'patches N', N lines of 16 one-based point indices (four
rows of four), then 'points M' and one 'x y z' line per point, z up.
"""
import sys


def read_teapot(path):
    words = []
    for line in open(path, encoding="utf-8"):
        line = line.split("#", 1)[0].strip()
        if line:
            words.append(line.split())
    it = iter(words)
    header = next(it)
    assert header[0] == "patches", header
    patches = [[int(i) - 1 for i in next(it)] for _ in range(int(header[1]))]
    header = next(it)
    assert header[0] == "points", header
    points = [tuple(float(v) for v in next(it)) for _ in range(int(header[1]))]
    return patches, points


def cv(point):
    return "cv((%g, %g, %g), 1)" % point


def main():
    patches, points = read_teapot(sys.argv[1])
    out = sys.stdout
    out.write("/* The Utah teapot (Martin Newell, 1975) as its 32 bicubic Bezier patches,\n"
              "   on a floor, lit by a spot light from above that casts the teapot's\n"
              "   shadow, and an ambient light. Written by\n"
              "   tools/teapot_to_sdl.py.\n"
              "   Render: skyloom examples/teapot.sdl   (writes teapot.qrl) */\n")
    out.write("DEFINITION\n")
    out.write("version = 9.0;\n")
    out.write("up = zaxis;\n")
    out.write("resolution = 645 486;\n")
    out.write("aalevelmin = 1; aalevelmax = 16; aathreshold = 0.5;\n")
    out.write("triple target (0, 0, 1.5);\n")
    out.write("shader porcelain (model = phong, color = (230, 220, 200), diffuse = 0.8,\n"
              "                  specular = (200, 200, 200), shinyness = 40);\n")
    out.write("light key (model = spot, color = (255, 250, 240), intensity = 1.1, decay = 0,\n"
              "           shine_along = (-0.5, 0.4, -1), spread = 50, penumbra = 6,\n"
              "           shadow = ON, use_shadow_map = ON, shadow_resolution = 1024);\n")
    out.write("light fill (model = ambient, intensity = 0.2);\n")
    out.write("shader stone (model = lambert, color = (150, 160, 175), diffuse = 0.9);\n")
    out.write("patch ground (shader = (stone), uknots = (0, 1), vknots = (0, 1), divisions = (1, 1),\n"
              "             cvs = ((cv((-9, -9, 0), 1), cv((-9, 9, 0), 1)),\n"
              "                    (cv((9, -9, 0), 1), cv((9, 9, 0), 1))));\n")
    for n, patch in enumerate(patches):
        rows = []
        for r in range(4):
            rows.append("(" + ", ".join(cv(points[i]) for i in patch[4 * r:4 * r + 4]) + ")")
        out.write("patch piece%d (udegree = 3, vdegree = 3, uknots = (0, 0, 0, 1, 1, 1),\n"
                  "    vknots = (0, 0, 0, 1, 1, 1), subdivide = ON, divisions = (2, 16),\n"
                  "    curvature = 0.95, shader = (porcelain),\n"
                  "    cvs = (%s));\n" % (n, ",\n           ".join(rows)))
    out.write("MODEL\n")
    out.write("camera (pix = \"teapot\", eye = (6, -7, 5), view = target, aov = 50);\n")
    out.write("{ translate (4, -3, 8); instance key (); }\n")
    out.write("instance fill ();\n")
    out.write("instance ground ();\n")
    for n in range(len(patches)):
        out.write("instance piece%d ();\n" % n)


if __name__ == "__main__":
    main()
