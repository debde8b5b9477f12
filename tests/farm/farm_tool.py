#!/usr/bin/env python3
"""skyloom-farm without a cluster: a stand-in sbatch (fake_slurm/) runs each
array task at once on this machine. Split frames in every image format,
resuming after damaged files, the status report, and bad input.

usage: farm_tool.py BUILD_DIR
"""
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from farm_scenes import SCENE, outputs  # noqa: E402

BUILD = None


class FarmCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="farm-tool-")
        self.slurm = os.path.join(self.dir, "slurm")
        os.makedirs(self.slurm)
        self.env = dict(os.environ, FAKE_SLURM_DIR=self.slurm,
                        PATH=os.path.join(HERE, "fake_slurm") + os.pathsep + os.environ["PATH"])

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def scene(self, name, text=SCENE):
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        with open(os.path.join(path, "scene.sdl"), "w") as f:
            f.write(text)
        return path

    def farm(self, cwd, *args, status=0):
        r = subprocess.run([os.path.join(BUILD, "skyloom-farm")] + list(args), cwd=cwd,
                           env=self.env, capture_output=True, text=True, timeout=600)
        self.assertEqual(r.returncode, status, r.stdout + r.stderr)
        return r

    def render(self, cwd, *args):
        subprocess.run([os.path.join(BUILD, "skyloom"), "-q1", "-n1"] + list(args)
                       + ["scene.sdl"], cwd=cwd, check=True, capture_output=True)

    def assertSameFiles(self, a, b, names):
        for name in names:
            self.assertTrue(filecmp.cmp(os.path.join(a, name), os.path.join(b, name),
                                        shallow=False), f"{name} differs")

    def submitted(self):
        with open(os.path.join(self.slurm, "submitted")) as f:
            return f.read().splitlines()


class SplitFrames(FarmCase):
    def test_windows_assemble_into_the_whole_frames_files_in_every_format(self):
        # 101 x 77 pixels: neither 3 columns nor 5 rows divide them.
        for image_format, files in ((1, 6), (2, 4), (4, 4), (5, 4), (9, 4)):
            with self.subTest(image_format=image_format):
                text = SCENE.replace("DEFINITION", f"DEFINITION image_format = {image_format};")
                reference = self.scene(f"reference{image_format}", text)
                self.render(reference, "-s1", "-e2")
                work = self.scene(f"split{image_format}", text)
                r = self.farm(work, "submit", "scene.sdl", "--frames", "1-2", "--chunk", "2",
                              "--split", "3x5", "--", "-n1")
                self.assertIn("15 tasks (1 chunk of frames 1-2 in chunks of 2, each frame as "
                              "3x5 windows)", r.stdout)
                names = sorted(os.listdir(reference))
                self.assertEqual(len(names), files + 1, names)  # SGI, TIFF and RLA hold the matte
                self.assertSameFiles(reference, work, [n for n in names if n != "scene.sdl"])
                self.assertEqual([n for n in os.listdir(work) if "window" in n], [])

    def test_a_split_as_fine_as_the_pixels_still_assembles(self):
        text = SCENE.replace("resolution = 101 77;", "resolution = 7 5;")
        reference = self.scene("reference", text)
        self.render(reference, "-s1", "-e1")
        work = self.scene("split", text)
        # The renderer refuses a window that ends at pixel 0: the first column
        # and the bottom row take two pixels, the others one.
        self.farm(work, "submit", "scene.sdl", "--frames", "1-1", "--chunk", "1",
                  "--split", "6x4", "--", "-n1")
        self.assertSameFiles(reference, work, ["shot.qrl", "shot_matte", "shot_depth"])
        r = self.farm(work, "submit", "scene.sdl", "--frames", "1-1", "--chunk", "1",
                      "--split", "7x5", status=1)
        self.assertIn("--split: 7 columns do not fit in 7 pixels", r.stderr)

    def test_frames_that_read_the_whole_image_are_not_split(self):
        work = self.scene("post", SCENE.replace("DEFINITION", "DEFINITION post_filter = ON;"))
        r = self.farm(work, "submit", "scene.sdl", "--frames", "1-2", "--chunk", "1",
                      "--split", "2x2", status=1)
        self.assertIn("frames cannot be split: the post filter reads the whole image",
                      r.stderr)
        work = self.scene("fields", SCENE.replace("DEFINITION", "DEFINITION fields = ON;"))
        r = self.farm(work, "submit", "scene.sdl", "--frames", "1-2", "--chunk", "1",
                      "--split", "2x2", status=1)
        self.assertIn("frames rendered as fields cannot be split", r.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.slurm, "submitted")))


class Resuming(FarmCase):
    def test_only_frames_with_missing_or_damaged_files_are_rendered_again(self):
        reference = self.scene("reference")
        self.render(reference, "-s1", "-e6")
        work = self.scene("work")
        r = self.farm(work, "submit", "scene.sdl", "--frames", "1-6", "--chunk", "2", "--",
                      "-n1")
        self.assertIn("Submitted render job 100: 3 tasks", r.stdout)
        self.assertSameFiles(reference, work, outputs(range(1, 7)))
        self.assertIn("done (6): 1-6\nmissing (0): none\n", self.farm(work, "status").stdout)

        # A frame cut short (half its rows), a depth file short of its last
        # value, and a frame without its depth file.
        for name, keep in (("shot.3.qrl", 0.5), ("shot_depth.5", 0.999)):
            size = os.path.getsize(os.path.join(work, name))
            with open(os.path.join(work, name), "r+b") as f:
                f.truncate(int(size * keep))
        os.unlink(os.path.join(work, "shot_depth.6"))
        kept = {n: os.stat(os.path.join(work, n)).st_mtime_ns for n in outputs([1, 2, 4])}
        r = self.farm(work, "status", status=1)
        self.assertIn("done (3): 1-2 4\nmissing (3): 3 5-6\nfailed (0): none\n", r.stdout)

        r = self.farm(work, "submit", "scene.sdl", "--frames", "1-6", "--chunk", "2", "--",
                      "-n1")
        self.assertIn("2 tasks (2 chunks of frames 1-6 in chunks of 2)", r.stdout)
        self.assertIn("--array=0-1", self.submitted()[-1])
        self.assertSameFiles(reference, work, outputs(range(1, 7)))
        for name, mtime in kept.items():
            self.assertEqual(os.stat(os.path.join(work, name)).st_mtime_ns, mtime, name)
        with open(os.path.join(work, "skyloom-farm", "logs", "render-101_0.log")) as f:
            log = f.read()
        self.assertIn("Kept complete shot.4.qrl file", log)
        self.assertIn("Completed shot.3.qrl file", log)
        self.assertIn("done (6): 1-6", self.farm(work, "status").stdout)
        r = self.farm(work, "submit", "scene.sdl", "--frames", "1-6", "--chunk", "2")
        self.assertIn("All 6 frames are complete: nothing to render", r.stdout)

    def test_a_failed_task_is_reported_with_its_status_and_log(self):
        work = self.scene("work")
        # A depth directory that is a file: the renderer fails on every frame.
        with open(os.path.join(work, "depth"), "w"):
            pass
        r = self.farm(work, "submit", "scene.sdl", "--frames", "1-4", "--chunk", "2", "--",
                      "-n1", "-d", "depth/d")
        r = self.farm(work, "status", status=1)
        log = os.path.join(work, "skyloom-farm", "logs", "render-100_0.log")
        self.assertIn("missing (4): 1-4\nfailed (4): 1-4\n", r.stdout)
        self.assertIn(f"render task 100_0 (frames 1-2): FAILED, exit status 1; log {log}",
                      r.stdout)
        with open(log) as f:
            self.assertIn("Can't create depth file depth/d", f.read())


class Assemble(FarmCase):
    def test_windows_that_do_not_fit_leave_no_output(self):
        work = self.scene("work")
        self.render(work, "-s1", "-e1", "-x0", "-w9", "-y0", "-h9", "-p", "a")
        self.render(work, "-s1", "-e1", "-x10", "-w4", "-y0", "-h9", "-p", "b")
        self.render(work, "-s1", "-e1", "-x10", "-w4", "-y0", "-h4", "-p", "c")
        assemble = os.path.join(BUILD, "skyloom-assemble")

        def run(*args):
            return subprocess.run([assemble] + list(args), cwd=work, capture_output=True,
                                  text=True)

        r = run("--columns", "2", "out.qrl", "a.qrl", "b.qrl")
        self.assertEqual(r.returncode, 0, r.stderr)
        cases = [
            (("--columns", "2", "bad.qrl", "a.qrl", "c.qrl"),
             "c.qrl: 5x5 does not fit column 2 and row 1 of the windows"),
            (("--columns", "2", "bad.qrl", "a.qrl", "shot_depth"),
             "shot_depth: not an image file"),
            (("--columns", "2", "bad.qrl", "a.qrl", "b.qrl", "a.qrl"),
             "3 windows do not make rows of 2"),
            (("--columns", "1", "bad.qrl", "missing.qrl"), "missing.qrl"),
            (("--columns", "0", "bad.qrl", "a.qrl"), "usage: skyloom-assemble"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = run(*args)
                self.assertEqual(r.returncode, 1)
                self.assertIn(message, r.stderr)
        self.assertEqual(sorted(n for n in os.listdir(work) if n.startswith(("bad", ".bad"))),
                         [])


class BadInput(FarmCase):
    def test_each_gets_a_message_and_status_1(self):
        work = self.scene("work")
        cases = [
            (["submit", "nowhere.sdl", "--frames", "1-2", "--chunk", "1"],
             "nowhere.sdl: no such scene file"),
            (["submit", "scene.sdl", "--frames", "5-3", "--chunk", "1"],
             "--frames 5-3: the range is reversed (3 is before 5)"),
            (["submit", "scene.sdl", "--frames", "1-", "--chunk", "1"],
             "--frames 1-: expected A-B or A-B:BY"),
            (["submit", "scene.sdl", "--frames", "1-4:0", "--chunk", "1"],
             "--frames 1-4:0: the step must be positive"),
            (["submit", "scene.sdl", "--frames", "1-4", "--chunk", "0"],
             "--chunk 0: expected a whole number of at least 1"),
            (["submit", "scene.sdl", "--frames", "1-4", "--chunk", "1", "--split", "0x2"],
             "--split 0x2: expected CxR"),
            (["submit", "scene.sdl", "--frames", "1-4", "--chunk", "1", "--split", "200x2"],
             "--split 200x2: the frame is only 101x77 pixels"),
            (["submit", "scene.sdl", "--chunk", "1"], "the following arguments are required"),
            (["status"], "nothing was submitted from here"),
            (["launch"], "unknown command 'launch'"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = self.farm(work, *args, status=1)
                self.assertIn(message, r.stderr)
                self.assertEqual(r.stdout, "")
        with open(os.path.join(work, "broken.sdl"), "w") as f:
            f.write("DEFINITION resolution = ;\n")
        r = self.farm(work, "submit", "broken.sdl", "--frames", "1-2", "--chunk", "1", status=1)
        self.assertIn("broken.sdl: skyloom could not read the scene (status 1)", r.stderr)
        self.assertIn("parse error", r.stderr)

    def test_an_unreachable_scheduler_is_reported(self):
        work = self.scene("work")
        self.env["FAKE_SBATCH_FAIL"] = "1"
        r = self.farm(work, "submit", "scene.sdl", "--frames", "1-2", "--chunk", "1",
                      "--partition", "big", "--account", "show", status=1)
        self.assertIn("sbatch failed (status 1): sbatch: error: Batch job submission failed: "
                      "Unable to contact slurm controller", r.stderr)
        self.assertIn("--partition=big --account=show", r.stderr)
        self.env["PATH"] = "/nonexistent"
        self.env["FAKE_SBATCH_FAIL"] = ""
        r = subprocess.run([sys.executable, os.path.join(BUILD, "skyloom-farm"), "submit",
                            "scene.sdl", "--frames", "1-2", "--chunk", "1"], cwd=work,
                           env=self.env, capture_output=True, text=True)
        self.assertEqual(r.returncode, 1)
        self.assertIn("sbatch is not installed: cannot reach Slurm", r.stderr)

    def test_help_is_the_usage(self):
        r = self.farm(self.dir, "--help")
        self.assertTrue(r.stdout.startswith("usage: skyloom-farm submit SCENE"))
        self.assertEqual(self.farm(self.dir, status=1).stdout, r.stdout)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
