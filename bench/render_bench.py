#!/usr/bin/env python3
"""Renders the knot benchmark scenes and reports, per triangle count, the
whole run of `skyloom` (wall time and peak memory) with the spot light's
shadow and without it (the same scene with shadow = FALSE), and the phases
of the shadowed render timed apart by skyloom_render_bench.

    python3 bench/render_bench.py BUILD_DIR [N ...]      (default N: 10k 100k 1M)

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
    """Wall time and peak resident memory (MB) of one run, through time(1)."""
    start = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", skyloom, "-n", str(workers), scene],
                          cwd=os.path.dirname(scene), stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    elapsed = time.monotonic() - start
    return elapsed, int(done.stderr.strip().splitlines()[-1]) / 1024.0


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
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
                    runs[which].append(whole_run(skyloom, which, 2))
            median = {k: sorted(r[0] for r in v)[1] for k, v in runs.items()}
            peak = {k: max(r[1] for r in v) for k, v in runs.items()}
            detail = subprocess.run([phases, scene, "2"], capture_output=True, text=True, check=True)
            # The last line: the maps' statistics print their memory line first.
            line = re.sub(r"^.*?: ", "", detail.stdout.strip().splitlines()[-1])
            print("N=%-5s whole run %.3f s with shadows, %.3f s without (x%.2f, medians of 3), "
                  "peak %.0f MB / %.0f MB (+%.0f MB) | %s"
                  % (n, median[scene], median[plain], median[scene] / median[plain], peak[scene],
                     peak[plain], peak[scene] - peak[plain], line))
            os.remove(plain)
            os.remove(scene)


if __name__ == "__main__":
    main()
