#!/usr/bin/env python3
"""Animation channels through the whole program.

usage: channels_test.py SKYLOOM [unittest options]

A scene whose variables are driven by channels renders, frame by frame, the
very images of the same motion written with animate() in the expressions
that use them (parameter-curve and expression channels), or with motion()
along an evenly parameterised path (motion-path channels).
"""
import os
import subprocess
import sys
import tempfile
import unittest

SKYLOOM = None

HEAD = """DEFINITION
version = 8;
resolution = 48 36;
startframe = 1; endframe = 6;
aalevelmin = 1; aalevelmax = 4;
shader s (model = phong, color = (220, 140, 60));
triple o (0, 0, 0);
"""

CURVES = """parameter_curve bounce (in = PRE_CONSTANT, out = POST_OSCILLATE,
    cvs = (parameter_vertex(0, -1, (1, 0), (1, 0)), parameter_vertex(4, 1.2, (1, 0.5), (1, 0.5)))%s);
parameter_curve spin (in = PRE_CONSTANT, out = POST_CYCLE_OFFSET,
    cvs = (parameter_vertex(0, 0, (1, 0), (1, 0)), parameter_vertex(1, 25, (1, 40), (1, 40)),
           parameter_vertex(3, 30, (1, 0), (1, 0)))%s);
"""

MODEL = """MODEL
camera (eye = (0, 0, 8), view = o, aov = 40, pix = "img");
light (model = directional, direction = (-1, -1, -1));
translate (0, %s, 0);
rotate (zaxis, %s);
polyset (shader = (s), vertices = ((cv((-1, -1, 0), 1)), (cv((1, -1, 0), 1)), (cv((0, 1, 0), 1))),
         polygons = (polygon(0, 1, 2)));
"""

CHANNELS = (HEAD + "scalar height (0);\nscalar angle (0);\n" +
            CURVES % (",\n    channel = height, timing = frame * 1.5",
                      ",\n    channel = angle, timing = frame * 2 + 0.5") +
            MODEL % ("height", "angle"))
ANIMATE = (HEAD + CURVES % ("", "") +
           MODEL % ("animate(bounce, frame * 1.5)", "animate(spin, frame * 2 + 0.5)"))

# An expression channel reads the curve at its own timing; written out, the
# same reading goes in the expression.
EXPRESSION = (HEAD + CURVES % ("", "") +
              "scalar height (0, channel = animate(bounce, frame), timing = frame * 1.5);\n"
              "scalar angle (0, channel = animate(spin, frame), timing = frame * 2 + 0.5);\n" +
              MODEL % ("height", "angle"))

# A straight path of equal segments at equal knot steps: its parameter runs
# evenly, so a fraction of its length is the same fraction of its parameter,
# which motion() reads.
PATH = """curve zigzag (degree = 1, knots = (0, 1, 2, 3),
    cvs = (cv((-1.5, -1, 0), 1), cv((-0.5, 1, 0), 1), cv((0.5, -1, 0), 1), cv((1.5, 1, 0), 1)));
"""
PATH_MODEL = """MODEL
camera (eye = (0, 0, 8), view = o, aov = 40, pix = "img");
light (model = directional, direction = (-1, -1, -1));
translate %s;
polyset (shader = (s), vertices = ((cv((-0.5, -0.5, 0), 1)), (cv((0.5, -0.5, 0), 1)), (cv((0, 0.5, 0), 1))),
         polygons = (polygon(0, 1, 2)));
"""
ON_PATH = (HEAD + PATH + "triple where (0, 0, 0);\n"
           "motion_curve m (zigzag, channel = where, timing = (frame - 1) / 5);\n" +
           PATH_MODEL % "where")
BY_MOTION = (HEAD + PATH + "motion_curve m (zigzag, in = PRE_CONSTANT);\n" +
             PATH_MODEL % "motion(m, (frame - 1) * 3 / 5)")


class ChannelsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="skyloom-channels-")

    def tearDown(self):
        self.tmp.cleanup()

    def render(self, name, text):
        folder = os.path.join(self.tmp.name, name)
        os.mkdir(folder)
        done = subprocess.run([SKYLOOM, "-n", "2"], input=text, cwd=folder,
                              capture_output=True, text=True, timeout=120)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        frames = []
        for frame in range(1, 7):
            with open(os.path.join(folder, "img.%d.qrl" % frame), "rb") as f:
                frames.append(f.read())
        return frames

    def assert_same_moving_frames(self, driven_scene, written_scene):
        driven = self.render("driven", driven_scene)
        written = self.render("written", written_scene)
        for frame, (a, b) in enumerate(zip(driven, written), start=1):
            self.assertEqual(a, b, "frame %d" % frame)
        # and the frames do move.
        self.assertEqual(len(set(driven)), 6)

    def test_channels_render_the_frames_of_the_same_motion_written_with_animate(self):
        self.assert_same_moving_frames(CHANNELS, ANIMATE)

    def test_expression_channels_render_the_frames_of_the_expressions_they_hold(self):
        self.assert_same_moving_frames(EXPRESSION, ANIMATE)

    def test_a_motion_path_channel_moves_the_model_along_its_path(self):
        self.assert_same_moving_frames(ON_PATH, BY_MOTION)

if __name__ == "__main__":
    SKYLOOM = sys.argv[1]
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
