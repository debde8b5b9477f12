#!/usr/bin/env python3
"""Link mode through loopback, against the independent peer of peer.py.

usage: link_test.py SKYLOOM SKYLOOM_CONVERT SKYLOOM_LINK [unittest options]

The reference client, skyloom-link, is checked here too: the image it writes
from the rows it receives is the image skyloom writes to a file.
"""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer import END, FILE, HEARTBEAT, IMAGE, PROGRESS, REPORT, Peer, pack_string, read_depth_file  # noqa: E402

SKYLOOM = CONVERT = CLIENT = None
BANNER = "Quorl Skyloom, Version 2021 (skyloom)\n"

TRIANGLE = """DEFINITION
version = 8;
resolution = %(width)d %(height)d;
aalevelmin = 1; aalevelmax = 4;
shader s (model = phong, color = (200, 100, 50));
shader t (model = lambert, transparency = (128, 128, 128));
triple o (0, 0, 0);
MODEL
camera (eye = (0, 0, 5), view = o, aov = 40, pix = "img"%(depth)s);
light (model = directional, direction = (-1, -1, -1));
polyset (shader = (s), vertices = ((cv((-1, -1, 0), 1)), (cv((1, -1, 0), 1)), (cv((0, 1, 0), 1))), polygons = (polygon(0, 1, 2)));
polyset (shader = (t), vertices = ((cv((-1, 1, 1), 1)), (cv((1, 1, 1), 1)), (cv((0, -1, 1), 1))), polygons = (polygon(0, 1, 2)));
"""


def scene(width, height, depth=False, extra=""):
    text = TRIANGLE % {"width": width, "height": height,
                       "depth": ', depth_file = "dep"' if depth else ""}
    return text.replace("MODEL\n", extra + "MODEL\n")


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(b"\n", 3)
    width, height = map(int, parts[1].split())
    return width, height, parts[3]


class LinkTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="skyloom-link-")
        self.peers = []

    def tearDown(self):
        for peer in self.peers:
            peer.close()
        self.dir.cleanup()

    def peer(self, args=("-n", "1"), **kw):
        p = Peer(SKYLOOM, args, cwd=self.dir.name, **kw)
        self.peers.append(p)
        return p

    def read_until_closed(self, peer):
        peer.status.settimeout(5)
        while True:
            try:
                peer.next_message()
            except EOFError:
                return

    def file_image(self, text):
        """Writes `text` as scene.sdl and renders it to files, its image
        converted to file.ppm; returns the directory."""
        here = self.dir.name
        with open(os.path.join(here, "scene.sdl"), "w") as f:
            f.write(text)
        subprocess.run([SKYLOOM, "-n", "1", "scene.sdl"], cwd=here, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run([CONVERT, "img.qrl", "file.ppm"], cwd=here, check=True)
        return here

    def client_log(self, here, image, *options):
        """Runs the reference client on scene.sdl (two workers), checks that
        the image it wrote under the name `image` is file.ppm, and returns its
        log's lines."""
        done = subprocess.run([CLIENT, "-q", "-o", "link.png", "--log", "log.txt", *options,
                               "-s", SKYLOOM, "scene.sdl", "--", "-n", "2"],
                              cwd=here, capture_output=True, text=True, timeout=60)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        subprocess.run([CONVERT, image, "link.ppm"], cwd=here, check=True)
        with open(os.path.join(here, "file.ppm"), "rb") as a, \
                open(os.path.join(here, "link.ppm"), "rb") as b:
            self.assertEqual(a.read(), b.read())
        with open(os.path.join(here, "log.txt")) as f:
            return f.read().splitlines()

    def kinds(self, peer):
        return [k for _, k, _ in peer.messages]

    def test_a_four_row_window_sends_its_rows_bottom_last_each_with_its_progress(self):
        p = self.peer()
        p.handshake()
        p.send_scene(scene(8, 4))
        status, out, err = p.read_all()
        self.assertEqual((status, out, err), (0, BANNER, ""))
        self.assertEqual(p.of_kind(FILE), ["img.qrl"])
        self.assertEqual(p.of_kind(PROGRESS)[0], "p 0 0 0 0 of 1\n")
        # After the file message: image, progress, image, progress, ...
        kinds = self.kinds(p)
        rows = kinds[kinds.index(FILE) + 1:]
        rows = [k for k in rows if k in (IMAGE, PROGRESS)]
        self.assertEqual(rows, [IMAGE, PROGRESS] * 4)
        self.assertEqual([b[:4] for b in p.of_kind(IMAGE)],
                         [(0, 3, 8, 1), (0, 2, 8, 1), (0, 1, 8, 1), (0, 0, 8, 1)])
        self.assertEqual(p.of_kind(PROGRESS)[1:],
                         ["r 1 0 0 %d of 4\n" % n for n in range(1, 5)])
        self.assertEqual(kinds[-1], END)
        # Nothing is written: the rows went over the link.
        self.assertEqual(os.listdir(self.dir.name), [])

    def test_pixels_and_depths_over_two_sockets_are_those_of_the_files(self):
        text = scene(40, 30, depth=True)
        path = os.path.join(self.dir.name, "scene.sdl")
        with open(path, "w") as f:
            f.write(text)
        subprocess.run([SKYLOOM, "-n", "2", "scene.sdl"], cwd=self.dir.name, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run([CONVERT, "img.qrl", "img.ppm"], cwd=self.dir.name, check=True)
        width, height, rgb = read_ppm(os.path.join(self.dir.name, "img.ppm"))
        _, _, depths = read_depth_file(os.path.join(self.dir.name, "dep"))
        for name in ("img.qrl", "img.ppm", "dep", "scene.sdl"):
            os.remove(os.path.join(self.dir.name, name))

        p = self.peer(args=("-n", "2"), two_sockets=True)
        p.handshake()
        self.assertIsNot(p.status, p.data)
        p.send_scene(text)
        status, out, err = p.read_all()
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(p.of_kind(FILE), ["img.qrl"])
        images = p.of_kind(IMAGE)
        self.assertEqual([b[1] for b in images], list(range(29, -1, -1)))
        self.assertEqual(p.of_kind(PROGRESS)[1:], ["r 1 1 0 %d of 30\n" % n for n in range(1, 31)])
        covered = 0
        for x0, y, w, rows, records in images:
            self.assertEqual((x0, w, rows), (0, 40, 1))
            file_row = height - 1 - y  # files run from the top row down
            for x in range(w):
                r, g, b, a, z = records[5 * x:5 * x + 5]
                at = 3 * (file_row * width + x)
                self.assertEqual((int(r), int(g), int(b)), tuple(rgb[at:at + 3]), (x, y))
                self.assertEqual(z, depths[file_row * width + x], (x, y))
                self.assertTrue(0 <= a <= 255)
                covered += z < 1e8
        self.assertGreater(covered, 100)

    def test_reports_travel_as_report_messages_and_heartbeats_come_every_second(self):
        p = self.peer()
        p.handshake()
        p.status.settimeout(10)
        start = time.monotonic()
        while time.monotonic() - start < 2.6:
            p.next_message()
        beats = [t for t, k, _ in p.messages if k == HEARTBEAT]
        self.assertGreaterEqual(len(beats), 2)
        for a, b in zip(beats, beats[1:]):
            self.assertTrue(0.8 < b - a < 1.4, b - a)
        p.send_scene(scene(8, 4, extra="quiet = FALSE;\n"))
        status, out, err = p.read_all()
        self.assertEqual((out, err), (BANNER, ""))
        reports = "".join(p.of_kind(REPORT))
        self.assertRegex(reports, r"Elapsed time for the parse \(hh:mm:ss\): 00:00:0[0-9]\n")
        self.assertIn("Rendering x from 0 to 7,and y from 0 to 3\n", reports)
        self.assertTrue(reports.endswith("done\n"), reports[-200:])

    def test_a_scene_ended_by_force_eof_renders_while_the_socket_stays_open(self):
        p = self.peer()
        p.handshake()
        p.send_scene(scene(8, 4) + "FORCE_EOF\n", finish=False)
        status, _, err = p.read_all()
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(len(p.of_kind(IMAGE)), 4)

    def test_the_application_quitting_mid_render_ends_skyloom_at_once_with_status_0(self):
        p = self.peer(args=("-n", "1", "-T", "5"))
        p.handshake()
        p.send_scene(scene(1200, 900, extra="aalevelmin = 16; aalevelmax = 64; aathreshold = 0;\n"))
        p.status.settimeout(60)
        while p.next_message()[0] != IMAGE:
            pass
        p.status.close()
        p.data.close()
        quit_at = time.monotonic()
        status, out, err = p.finish(timeout=20)
        elapsed = time.monotonic() - quit_at
        self.assertEqual(status, 0)
        self.assertLess(elapsed, 2.0)
        self.assertIn("The modelling application has gone: the render ends.\n", err)

    def test_a_bad_handshake_is_a_failed_connection(self):
        # An enormous length, not an address, a second address nobody
        # listens at, a string cut short.
        for answer in (struct.pack(">I", 0x7FFFFFFF), pack_string("nowhere"),
                       pack_string("127.0.0.1:9"), b"\0\0"):
            p = self.peer()
            p.data.sendall(answer)
            p.data.shutdown(socket.SHUT_WR)
            status, out, err = p.finish(timeout=20)
            self.assertEqual(status, 1, err)
            self.assertTrue(err.startswith("Error: cannot connect to %s: " % p.address), err)

    def test_garbage_and_truncated_scenes_end_without_a_crash(self):
        p = self.peer()
        p.handshake()
        p.send_scene(bytes(range(256)) * 4)
        status, out, err = p.finish(timeout=20)
        self.read_until_closed(p)
        self.assertGreater(status, 0)
        self.assertIn("line 1: ", "".join(p.of_kind(REPORT)))

        p = self.peer()
        p.handshake()
        p.send_scene(b"\xab\xb2\xd8\xf9" + b"\xff" * 64)
        status, out, err = p.finish(timeout=20)
        self.assertEqual(status, 1)
        self.read_until_closed(p)
        self.assertIn("Error: cannot read SDL binary data\n", p.of_kind(REPORT))

        # The application goes away half-way through the scene.
        p = self.peer()
        p.handshake()
        p.data.sendall(scene(8, 4)[:60].encode())
        p.data.close()
        status, out, err = p.finish(timeout=20)
        self.assertGreaterEqual(status, 0)


    def test_the_reference_client_writes_the_image_skyloom_writes_to_files(self):
        here = self.file_image(scene(40, 30, depth=True))
        for sockets in ([], ["-2"]):
            log = self.client_log(here, "link.png", *sockets)
            self.assertIn("file img.qrl", log)
            self.assertEqual([line for line in log if line.startswith("image")],
                             ["image 0 %d 40 1" % y for y in range(29, -1, -1)])
            self.assertIn("progress r 1 1 0 30 of 30\\n", log)
            self.assertEqual(log[-1], "end")
        # The client's own exit status is the renderer's.
        done = subprocess.run([CLIENT, "-q", "-s", SKYLOOM, "missing.sdl"], cwd=here,
                              capture_output=True, text=True, timeout=60)
        self.assertNotEqual(done.returncode, 0)

    def test_glow_sends_the_glowed_image_again_with_its_g_progress(self):
        here = self.file_image(scene(40, 30, depth=True).replace(
            "transparency = (128, 128, 128)", "transparency = (128, 128, 128), glow_intensity = 1"))
        # The rendered rows make the first image, the glowed rows the second.
        log = self.client_log(here, "link.2.png")
        self.assertEqual([line for line in log if line.startswith("file")], ["file img.qrl"] * 2)
        glow = [line for line in log if line.startswith("progress g")]
        self.assertEqual(glow[0], "progress g 1 1 0 0 of 30\\n")
        self.assertEqual(glow[-1], "progress g 1 1 0 30 of 30\\n")
        self.assertEqual(len([line for line in log if line.startswith("image")]), 60)


if __name__ == "__main__":
    SKYLOOM, CONVERT, CLIENT = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
