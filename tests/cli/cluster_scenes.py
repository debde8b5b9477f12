#!/usr/bin/env python3
"""Scenes whose square is placed by a cluster, for check_motion_blur.py.

  cluster_scenes.py KIND
      prints check_motion_blur.py's scene of a white square over black,
      with the square's corners written elsewhere and put back in place by
      a cluster, so that check_motion_blur.py's worked-out picture still
      holds. KIND:
        matrix     a 16-value cluster matrix (scale by 2, then translate)
                   takes corners written at half size near (3, 1) to the
                   square; check as "static";
        patch      the same matrix on the corners of a flat patch; check as
                   "static";
        face       the same matrix on the outline of a face; check as
                   "static";
        half       a 28-value cluster matrix at percentage 0.5: the matrix
                   (a far translation) is not used, its steps are replayed
                   at half their amounts (translate 4 units: 2), and a step
                   of an unknown kind is skipped; check as "static";
        blur       the cluster matrix's translation follows the frame, 2
                   units over the shutter; check as "square";
        transform  the cluster is a transformation variable set in the
                   model to a translation that follows the frame; check as
                   "square".
"""
import contextlib
import io
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_motion_blur  # noqa: E402

CORNERS = [(-1, -0.5), (1, -0.5), (1, 0.5), (-1, 0.5)]


def header(moving):
    """check_motion_blur.py's scene up to and with its camera."""
    text = io.StringIO()
    with contextlib.redirect_stdout(text):
        check_motion_blur.scene("square" if moving else "static")
    lines = text.getvalue().splitlines()
    lines.insert(lines.index("MODEL"), "transformation handle;")
    camera = next(i for i, line in enumerate(lines) if line.startswith("camera"))
    return "\n".join(lines[:camera + 1])


def polyset(corners, cluster, percentage, clusters):
    vertices = ", ".join("(%s)" % clustered(x, y, cluster, percentage) for x, y in corners)
    return ("polyset (motion_blur = ON, shader = (white), %svertices = (%s), "
            "polygons = (polygon(0, 1, 2, 3)));" % (clusters, vertices))


HALF_SIZE = ("clusters = (clm(handle, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, -6, -2, 0, 1)), ")


def clustered(x, y, cluster='"handle"', percentage=""):
    return "cluster(cv((%g, %g, 0), 1), %s%s)" % (x, y, cluster, percentage)


def half_size(corners):
    return [(x / 2 + 3, y / 2 + 1) for x, y in corners]


def scene(kind):
    print(header(kind in ("blur", "transform")))
    if kind == "matrix":
        print(polyset(half_size(CORNERS), '"handle"', "", HALF_SIZE))
    elif kind == "patch":
        a, b, c, d = [clustered(x, y) for x, y in half_size(CORNERS)]
        print("patch (shader = (white), motion_blur = ON, divisions = (1, 1), uknots = (0, 1), "
              "vknots = (0, 1), %scvs = ((%s, %s), (%s, %s)));" % (HALF_SIZE, a, b, d, c))
    elif kind == "face":
        outline = ", ".join(clustered(x, y) for x, y in half_size(CORNERS + CORNERS[:1]))
        print("face (shader = (white), divisions = 1, %sboundaries = ((degree = 1, "
              "knots = (0, 1, 2, 3, 4), cvs = (%s))));" % (HALF_SIZE, outline))
    elif kind == "half":
        corners = [(x - 2, y) for x, y in CORNERS]
        print(polyset(corners, '"handle"', ", 0.5",
                      "clusters = (clm(other, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 9, 9, 9, 1), "
                      "clm(handle, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 100, 0, 0, 1, "
                      "1, 4, 0, 0, 0, 0, 0, 0, 11, 5, 5, 5)), "))
    elif kind == "blur":
        print(polyset(CORNERS, '"handle"', "",
                      "clusters = (clm(handle, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, "
                      "frame * 4 - 4, 0, 0, 1)), "))
    elif kind == "transform":
        print("{ translate (frame * 4 - 4, 0, 0); handle = cur_xform(); }")
        print(polyset(CORNERS, "handle", "", ""))


if __name__ == "__main__":
    scene(sys.argv[1])
