#!/usr/bin/env python3
"""Interrupts 20-frame renders at random moments and checks that every file
left under a final name is complete.

A render farm resumes a job by skipping the frames whose files exist, so a
frame cut short by SIGTERM or SIGINT must never be left under its final
name. Each run renders image, matte and depth files in one of the image
formats, is sent SIGTERM or SIGINT after a random delay, and then every
image and matte under a final name must read back whole (skyloom-convert
reads every row) and every depth file must have all its rows. Only the
files of the last two frames a run left are read: every earlier frame was
closed before the next began, so a file cut short can only be among them.

usage: interrupted_renders.py SKYLOOM SKYLOOM_CONVERT SCENE [RUNS] [SEED]
"""
import os
import random
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time

FORMATS = [1, 4, 9, 5]  # .qrl, TIFF, RLA, 16-bit TIFF


def scene_text(template, image_format):
    return template.replace("DEFINITION", f"DEFINITION image_format = {image_format};", 1)


def frame_of(name):
    """The frame number in an output name: img.7, img.7.qrl, mat.7, dep.7."""
    return int(re.match(r"[a-z]+\.(\d+)", name).group(1))


def check_depth(path):
    data = open(path, "rb").read()
    if len(data) < 8:
        return "shorter than its header"
    magic, width, height = struct.unpack("<IHH", data[:8])
    if magic not in (55655, 56655):
        return f"magic {magic}"
    if len(data) != 8 + 4 * width * height:
        return f"{len(data)} bytes for {width} x {height}"
    return None


def main():
    program, convert, scene = sys.argv[1:4]
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 20
    seed = int(sys.argv[5]) if len(sys.argv) > 5 else int(time.time())
    print(f"seed {seed}")
    chance = random.Random(seed)
    template = open(scene).read()
    faults = []
    finished_frames = 0
    for run in range(runs):
        image_format = FORMATS[run % len(FORMATS)]
        which = signal.SIGTERM if run % 2 == 0 else signal.SIGINT
        with tempfile.TemporaryDirectory(prefix="skyloom-interrupt-") as tmp:
            with open(os.path.join(tmp, "scene.sdl"), "w") as out:
                out.write(scene_text(template, image_format))
            process = subprocess.Popen([program, "-n", "2", "scene.sdl"], cwd=tmp,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(chance.uniform(0.05, 0.9))
            process.send_signal(which)
            process.wait(timeout=60)
            left = [n for n in os.listdir(tmp) if not n.startswith(".") and n != "scene.sdl"]
            frames = sorted({frame_of(n) for n in left})[-2:]
            for name in sorted(left):
                if frame_of(name) not in frames:
                    continue
                path = os.path.join(tmp, name)
                if name.startswith("dep."):
                    problem = check_depth(path)
                else:
                    done = subprocess.run([convert, path, os.path.join(tmp, ".check.qrl")],
                                          capture_output=True)
                    problem = done.stderr.decode(errors="replace").strip() \
                        if done.returncode != 0 else None
                    finished_frames += name.startswith("img.")
                if problem:
                    faults.append(f"run {run} (format {image_format}, {which.name}): "
                                  f"{name}: {problem}")
    for fault in faults:
        print(fault)
    print(f"{runs} interrupted runs, {finished_frames} finished images checked, "
          f"{len(faults)} incomplete files under final names")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
