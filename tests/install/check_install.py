#!/usr/bin/env python3
"""cmake --install into a scratch prefix: the programs, the OpenImageIO
module and the man pages land where they belong, each man page holds its
program's usage text, and the installed programs work from there (the
renderer and the farm tool finding each other, the converter its module).

usage: check_install.py BUILD_DIR SOURCE_DIR
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "farm"))
from farm_scenes import SCENE  # noqa: E402


def main():
    build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    with tempfile.TemporaryDirectory() as prefix:
        r = subprocess.run(["cmake", "--install", build, "--prefix", prefix],
                           capture_output=True, text=True)
        check(r.returncode == 0, "cmake --install failed:\n" + r.stdout + r.stderr)
        expected = ["bin/skyloom", "bin/skyloom-convert", "bin/skyloom-farm",
                    "bin/skyloom-assemble", "lib/skyloom/libskyloom_oiio.so"]
        expected += [f"share/man/man1/{p}.1" for p in
                     ("skyloom", "skyloom-convert", "skyloom-farm", "skyloom-assemble")]
        for name in expected:
            check(os.path.isfile(os.path.join(prefix, name)), f"{name} was not installed")
        if failures:
            return report(failures)
        bin_dir = os.path.join(prefix, "bin")

        # Each page holds its program's usage, line for line.
        usages = {
            "skyloom": subprocess.run([f"{bin_dir}/skyloom", "-H"], capture_output=True,
                                      text=True).stderr,
            "skyloom-convert": subprocess.run([f"{bin_dir}/skyloom-convert", "--help"],
                                              capture_output=True, text=True).stdout,
            "skyloom-farm": subprocess.run([f"{bin_dir}/skyloom-farm", "--help"],
                                           capture_output=True, text=True).stdout,
        }
        for program, usage in usages.items():
            with open(os.path.join(prefix, "share/man/man1", program + ".1")) as f:
                page = f.read().replace("\\e", "\\").replace("\\&", "")
            check(usage.strip() and usage.strip() in page,
                  f"the man page of {program} does not hold its usage")
            check(page.startswith(f".TH {program.upper()} 1"), f"{program}.1 has no title")

        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "scene.sdl"), "w") as f:
                f.write(SCENE)
            # The farm tool runs the renderer installed beside it.
            env = dict(os.environ, FAKE_SLURM_DIR=work,
                       PATH=os.path.join(source, "tests", "farm", "fake_slurm") + os.pathsep
                       + os.environ["PATH"])
            r = subprocess.run([f"{bin_dir}/skyloom-farm", "submit", "scene.sdl", "--frames",
                                "1-2", "--chunk", "1", "--split", "2x1"], cwd=work, env=env,
                               capture_output=True, text=True)
            check(r.returncode == 0, "the installed skyloom-farm failed:\n" + r.stdout + r.stderr)
            if r.returncode != 0:
                return report(failures)
            with open(os.path.join(work, "skyloom-farm", "logs", "render-100_0.log")) as f:
                check(f"{bin_dir}/skyloom " in f.read(), "the farm did not run the installed skyloom")
            # The converter loads the installed module, not the build tree's.
            env = dict(os.environ, SKYLOOM_OIIO_MODULE="")
            r = subprocess.run([f"{bin_dir}/skyloom-convert", "shot.1.qrl", "shot.1.png"],
                               cwd=work, env=env, capture_output=True, text=True)
            check(r.returncode == 0 and os.path.exists(os.path.join(work, "shot.1.png")),
                  "the installed skyloom-convert failed: " + r.stderr)
    return report(failures)


def report(failures):
    for failure in failures:
        print("FAILED:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
