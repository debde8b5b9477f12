#!/usr/bin/env python3
"""Renders the knot benchmark scenes and reports, per triangle count, the
whole run of `skyloom` (wall time and peak memory) with the spot light's
shadow and without it (the same scene with shadow = FALSE), and the phases
of the shadowed render timed apart by skyloom_render_bench.

    python3 bench/render_bench.py BUILD_DIR [N ...]      (default N: 10k 100k 1M)
    python3 bench/render_bench.py --spin BUILD_DIR [N ...]

With --spin it compares instead the knot spinning 20 degrees about the
vertical over a 180 degree shutter (motion blur on) with the same scene
still: the whole runs (wall and processor time, medians of five) and the
sampling phases.

The scenes are generated into a temporary directory by the shared
generator (GEN_KNOT, default ../shared/bench/gen_knot.py: the shared folder
beside the repository) and deleted afterwards. The machine is shared: run it
when the load is low.
"""
import os
import re
import subprocess
import sys
import tempfile
import time

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR = os.environ.get(
    "GEN_KNOT", os.path.normpath(os.path.join(REPOSITORY, os.pardir, "shared", "bench",
                                              "gen_knot.py")))


def whole_run(skyloom, scene, workers):
    """Wall time, peak resident memory (MB) and processor time (user and
    system, s) of one run, through time(1)."""
    start = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", skyloom, "-n", str(workers), scene],
                          cwd=os.path.dirname(scene), stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    elapsed = time.monotonic() - start
    peak, user, system = done.stderr.strip().splitlines()[-1].split()
    return elapsed, int(peak) / 1024.0, float(user) + float(system)


RUNS = 5


def spinning(scene):
    """The scene with the knot turning 20 degrees about the vertical while
    the shutter is open (40 degrees a frame, half a frame open)."""
    text = open(scene).read()
    text = text.replace("DEFINITION\n", "DEFINITION\nmotion_blur_on = ON;\nshutter_angle = 180;\n", 1)
    knot = "polyset (\n  shader = (knot_sh),"
    ground = "polyset (\n  shader = (ground_sh),"
    if knot not in text or ground not in text:
        sys.exit("the generator's scene has changed: no knot or ground polyset in " + scene)
    text = text.replace(knot, "{ rotate (yaxis, frame * 40 - 40);\npolyset (\n  motion_blur = ON,"
                        "\n  shader = (knot_sh),", 1)
    text = text.replace(ground, "}\n" + ground, 1)
    moving = scene.replace(".sdl", "_spinning.sdl")
    open(moving, "w").write(text)
    return moving


def phase_line(output):
    """The phases of skyloom_render_bench's output, without the scene's name
    (other lines give memory and processor time)."""
    line = next(l for l in output.splitlines() if "samples/pixel" in l)
    return re.sub(r"^.*?: ", "", line)


def phases(build, scene):
    detail = subprocess.run([os.path.join(build, "bench", "skyloom_render_bench"), scene, "2"],
                            capture_output=True, text=True, check=True)
    return phase_line(detail.stdout)


def spin(build, sizes):
    skyloom = os.path.join(build, "skyloom")
    print("load:", os.getloadavg())
    with tempfile.TemporaryDirectory() as out:
        for n in sizes:
            subprocess.run([sys.executable, GENERATOR, n, out], check=True, stdout=subprocess.DEVNULL)
            still = os.path.join(out, "knot_%s.sdl" % n)
            moving = spinning(still)
            # Alternating runs; medians of the wall times and, steadier on a
            # busy machine, of the processor times.
            runs = {still: [], moving: []}
            for _ in range(RUNS):
                for which in (still, moving):
                    runs[which].append(whole_run(skyloom, which, 2))
            wall = {k: sorted(r[0] for r in v)[RUNS // 2] for k, v in runs.items()}
            cpu = {k: sorted(r[2] for r in v)[RUNS // 2] for k, v in runs.items()}
            print("N=%-5s whole run %.3f s spinning, %.3f s still (x%.2f); processor %.3f s, "
                  "%.3f s (x%.2f); medians of %d, load %.1f"
                  % (n, wall[moving], wall[still], wall[moving] / wall[still], cpu[moving],
                     cpu[still], cpu[moving] / cpu[still], RUNS, os.getloadavg()[0]))
            print("        spinning: %s" % phases(build, moving))
            print("        still:    %s" % phases(build, still))
            os.remove(moving)
            os.remove(still)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    if sys.argv[1] == "--spin":
        if len(sys.argv) < 3:
            sys.exit(__doc__)
        return spin(os.path.abspath(sys.argv[2]), sys.argv[3:] or ["100k", "1M"])
    build = os.path.abspath(sys.argv[1])
    sizes = sys.argv[2:] or ["10k", "100k", "1M"]
    skyloom = os.path.join(build, "skyloom")
    phases = os.path.join(build, "bench", "skyloom_render_bench")
    print("load:", os.getloadavg())
    with tempfile.TemporaryDirectory() as out:
        for n in sizes:
            subprocess.run([sys.executable, GENERATOR, n, out], check=True, stdout=subprocess.DEVNULL)
            subprocess.run([sys.executable, GENERATOR, n, out, "--no-shadow"], check=True,
                           stdout=subprocess.DEVNULL)
            scene = os.path.join(out, "knot_%s.sdl" % n)
            plain = os.path.join(out, "knot_%s_noshadow.sdl" % n)
            # Three whole runs of each, alternating; medians. Peak memory of
            # each is a fresh process.
            runs = {scene: [], plain: []}
            for _ in range(3):
                for which in (scene, plain):
                    runs[which].append(whole_run(skyloom, which, 2)[:2])
            median = {k: sorted(r[0] for r in v)[1] for k, v in runs.items()}
            peak = {k: max(r[1] for r in v) for k, v in runs.items()}
            detail = subprocess.run([phases, scene, "2"], capture_output=True, text=True, check=True)
            line = phase_line(detail.stdout)
            print("N=%-5s whole run %.3f s with shadows, %.3f s without (x%.2f, medians of 3), "
                  "peak %.0f MB / %.0f MB (+%.0f MB) | %s"
                  % (n, median[scene], median[plain], median[scene] / median[plain], peak[scene],
                     peak[plain], peak[scene] - peak[plain], line))
            os.remove(plain)
            os.remove(scene)


if __name__ == "__main__":
    main()
