"""Shapes the whole-program checks render, written as SDL."""
import math


def sphere_polyset(shader, centre=(0.0, 0.0, 0.0), radius=1.0, rings=48, segments=96):
    """A sphere as a polyset of quadrilaterals with its true normals."""
    vertices, normals, polygons = [], [], []
    for i in range(rings + 1):
        theta = math.pi * i / rings
        for j in range(segments):
            phi = 2 * math.pi * j / segments
            n = (math.sin(theta) * math.cos(phi), math.cos(theta), math.sin(theta) * math.sin(phi))
            vertices.append("(cv((%.6f, %.6f, %.6f), 1))" % tuple(centre[k] + radius * n[k] for k in range(3)))
            normals.append("norm(%.6f, %.6f, %.6f)" % n)
    for i in range(rings):
        for j in range(segments):
            a, b = i * segments + j, i * segments + (j + 1) % segments
            polygons.append("polygon(%d, %d, %d, %d)" % (a, a + segments, b + segments, b))
    return ("polyset (shader = (%s), vertices = (%s), vertex_normals = (%s), polygons = (%s));"
            % (shader, ", ".join(vertices), ", ".join(normals), ", ".join(polygons)))
