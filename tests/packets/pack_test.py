#!/usr/bin/env python3
"""skyloom-pack and binary scene data through the whole program.

usage: pack_test.py SKYLOOM SKYLOOM_PACK SKYLOOM_LINK [unittest options]

A mesh packed from an OBJ file with its texture packed from a PNG renders the
very image of the same mesh written as an SDL polyset reading the PNG file;
PLY and glTF meshes arrive with their vertices and polygons; packet data
travels over the link as well as in a file.
"""
import base64
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

SKYLOOM = PACK = LINK = None

OBJ = """# a pyramid: four triangles, texture coordinates, shared apex
v -1 -1 0
v 1 -1 0
v 1 1 0
v -1 1 0
v 0 0 1
vt 0 0
vt 1 0
vt 1 1
vt 0 1
vt 0.5 0.5
f 1/1 2/2 5/5
f 2/2 3/3 5/5
f 3/3 4/4 5/5
f 4/4 1/1 5/5
"""

POLYSET = """polyset (shader = (s), vertices = ((cv((-1, -1, 0), 1), st(0, 0)),
    (cv((1, -1, 0), 1), st(1, 0)), (cv((1, 1, 0), 1), st(1, 1)),
    (cv((-1, 1, 0), 1), st(0, 1)), (cv((0, 0, 1), 1), st(0.5, 0.5))),
  polygons = (polygon(0, 1, 4), polygon(1, 2, 4), polygon(2, 3, 4), polygon(3, 0, 4)));
"""

SCENE = """DEFINITION
version = 8;
resolution = 80 60;
aalevelmin = 1; aalevelmax = 4;
shader s (model = phong, color = texture (procedure = file, image = "checks.png"));
triple o (0, 0, 0);
MODEL
camera (eye = (0.5, -1.5, 4), view = o, aov = 45, pix = "img");
light (model = directional, direction = (-1, -1, -1));
light (model = ambient, intensity = 0.3);
"""


def write_png(path, width, height, pixel):
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + \
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def checks(x, y):
    return (230, 40, 20) if (x // 4 + y // 4) % 2 else (20, 70, 230)


class PackTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="skyloom-pack-")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)

    def run_in(self, folder, *args, **kw):
        os.makedirs(self.path(folder), exist_ok=True)
        return subprocess.run(list(args), cwd=self.path(folder), capture_output=True, text=True,
                              timeout=120, **kw)

    def pack(self, *args):
        done = subprocess.run([PACK, *args], cwd=self.dir, capture_output=True, text=True, timeout=60)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        return done.stdout

    def read(self, *names):
        with open(self.path(*names), "rb") as f:
            return f.read()

    def test_a_packed_obj_and_png_render_as_the_polyset_and_the_file_they_came_from(self):
        self.write("pyramid.obj", OBJ)
        write_png(self.path("checks.png"), 16, 16, checks)
        self.write("plain.sdl", SCENE + POLYSET)
        self.write("packed.sdl", SCENE + 'polyset (shader = (s), mesh = "pyramid");\n')
        self.pack("-o", "scene.pkt", "-m", "pyramid.obj", "-i", "checks.png", "-s", "packed.sdl")
        self.assertEqual(self.pack("--list", "scene.pkt"),
                         'mesh "pyramid": 5 vertices, 4 polygons, texture coordinates\n'
                         'image "checks.png": 16 by 16, 3 channels of bytes\n'
                         'then %d bytes of SDL text\n' % len(SCENE + 'polyset (shader = (s), mesh = "pyramid");\n'))

        os.makedirs(self.path("files"))
        os.replace(self.path("checks.png"), self.path("files", "checks.png"))
        done = self.run_in("files", SKYLOOM, "-n", "1", "../plain.sdl")
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        # No PNG beside the packet: the texture comes from the packet.
        done = self.run_in("packet", SKYLOOM, "-n", "2", "../scene.pkt")
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertEqual(self.read("files", "img.qrl"), self.read("packet", "img.qrl"))
        # and the texture shows: the picture is not one flat colour.
        self.assertGreater(len(set(self.read("packet", "img.qrl")[-3000:])), 20)

        # The packet data over the link, the scene text after it.
        self.pack("-o", "assets.pkt", "-m", "pyramid.obj", "-i", "checks.png=files/checks.png")
        done = self.run_in("link", LINK, "-q", "-s", SKYLOOM, "-b", "../assets.pkt", "-o", "img.png",
                           "--log", "log.txt", "../packed.sdl", "--", "-n", "1")
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        log = self.read("link", "log.txt").decode().splitlines()
        self.assertIn("file img.qrl", log)
        self.assertFalse([line for line in log if "Warning" in line], log)
        self.assertEqual(log[-1], "end")

    def test_ply_and_gltf_meshes_arrive_with_their_vertices_and_polygons(self):
        self.write("square.ply", "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\n"
                   "property float y\nproperty float z\nelement face 1\n"
                   "property list uchar int vertex_indices\nend_header\n"
                   "0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n")
        positions = struct.pack("<9f", 0, 0, 0, 1, 0, 0, 0, 1, 0)
        indices = struct.pack("<3H", 0, 1, 2)
        buffer = positions + indices + b"\0\0"
        gltf = {
            "asset": {"version": "2.0"},
            "scene": 0, "scenes": [{"nodes": [0]}],
            "nodes": [{"mesh": 0, "translation": [0, 0, 5]}],
            "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1}]}],
            "buffers": [{"byteLength": len(buffer),
                         "uri": "data:application/octet-stream;base64," +
                                base64.b64encode(buffer).decode()}],
            "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36},
                            {"buffer": 0, "byteOffset": 36, "byteLength": 6}],
            "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                           "min": [0, 0, 0], "max": [1, 1, 0]},
                          {"bufferView": 1, "componentType": 5123, "count": 3, "type": "SCALAR"}],
        }
        self.write("tri.gltf", json.dumps(gltf))
        self.pack("-o", "both.pkt", "-m", "square.ply", "-m", "lifted=tri.gltf")
        listing = self.pack("--list", "both.pkt").splitlines()
        self.assertIn('mesh "square": 4 vertices, 1 polygons', listing)
        self.assertTrue(any(line.startswith('mesh "lifted": 3 vertices, 1 polygons')
                            for line in listing), listing)
        # The node's translation is applied: the triangle stands at z 5.
        self.write("show.sdl", 'DEFINITION\nshader s (model = lambert);\nMODEL\n'
                   'polyset (shader = (s), mesh = "lifted");\n')
        with open(self.path("both.pkt"), "ab") as f:
            f.write(self.read("show.sdl"))
        done = self.run_in("show", SKYLOOM, "-n", "1", "../both.pkt")
        self.assertEqual((done.returncode, done.stderr), (0, ""))

    def test_a_channel_from_a_text_file_of_keys_drives_its_variable(self):
        self.write("rise.keys", "# a ramp, read at frame x 2 - 1\n"
                   "tangents = linear\nout_of_range = PRE_CONSTANT POST_LINEAR\n"
                   "timing = 2 -1\n0 0\n4 10   # ten at four\n")
        self.write("show.sdl", 'DEFINITION\nstartframe = 1; endframe = 4;\nscalar h (0);\n'
                   'MODEL\nprint("h", h);\n')
        self.pack("-o", "rise.pkt", "-c", "h=rise.keys", "-s", "show.sdl")
        self.assertIn('channel "h": 2 keys, tangents 16, mode 520, timing frame * 2 + -1',
                      self.pack("--list", "rise.pkt"))
        done = self.run_in("rise", SKYLOOM, "../rise.pkt")
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        # t = 1, 3, 5, 7: on the ramp, then on past its last key.
        self.assertEqual([line for line in done.stdout.splitlines() if line.startswith("h ")],
                         ["h 2.5", "h 7.5", "h 12.5", "h 17.5"])
        self.write("bad.keys", "tangents = wobbly\n")
        done = subprocess.run([PACK, "-o", "x.pkt", "-c", "h=bad.keys"], cwd=self.dir,
                              capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stderr),
                         (1, "skyloom-pack: bad.keys:1: unknown tangent type wobbly\n"))

    def test_assets_that_cannot_be_read_are_named(self):
        done = subprocess.run([PACK, "-o", "x.pkt", "-m", "missing.obj"], cwd=self.dir,
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 1)
        self.assertTrue(done.stderr.startswith("skyloom-pack: missing.obj: "), done.stderr)
        self.write("broken.png", "not a picture")
        done = subprocess.run([PACK, "-o", "x.pkt", "-i", "broken.png"], cwd=self.dir,
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 1)
        self.assertTrue(done.stderr.startswith("skyloom-pack: broken.png: "), done.stderr)
        self.assertFalse(os.path.exists(self.path("x.pkt")))


if __name__ == "__main__":
    SKYLOOM, PACK, LINK = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
