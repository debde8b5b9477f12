#!/usr/bin/env python3
"""A short libFuzzer run of every fuzzing harness, as part of the test suite.

Builds the harnesses with clang (AddressSanitizer, UndefinedBehaviorSanitizer
and libFuzzer) in a build directory of their own, then runs each for a few
seconds over a copy of its corpus kept in the repository, with inputs up to
1 MB. Any finding (crash, hang, out-of-memory, leak) fails the test and
names the input libFuzzer saved. The long runs: docs/fuzzing.md.

usage: smoke.py SOURCE_DIR FUZZ_BUILD_DIR SECONDS HARNESS:SEEDS[,SEEDS...] ...
Exits 77 (skipped) where clang or libFuzzer is missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77


def have_libfuzzer():
    if not shutil.which("clang++"):
        return False
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "probe.cpp")
        with open(source, "w") as out:
            out.write("#include <cstddef>\n#include <cstdint>\n"
                      "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) "
                      "{ return 0; }\n")
        done = subprocess.run(["clang++", "-fsanitize=fuzzer,address", source, "-o",
                               os.path.join(tmp, "probe")], capture_output=True)
        return done.returncode == 0


def build(source, build_dir, targets):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        configure = ["cmake", "-S", source, "-B", build_dir, "-G", "Ninja",
                     "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++",
                     "-DSKYLOOM_FUZZ=ON", "-DSKYLOOM_BENCHMARKS=OFF"]
        if shutil.which("ccache"):
            configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target"] + targets, check=True,
                   stdout=subprocess.DEVNULL)


def main():
    source, build_dir, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    harnesses = [argument.split(":", 1) for argument in sys.argv[4:]]
    if not have_libfuzzer():
        print("skipped: clang with libFuzzer is not installed (tools/setup installs it)")
        return SKIPPED
    build(source, build_dir, [name for name, _ in harnesses])
    failed = []
    for name, seeds in harnesses:
        program = os.path.join(build_dir, "tests", "fuzz", name)
        with tempfile.TemporaryDirectory(prefix=f"skyloom-{name}-") as work:
            corpus = os.path.join(work, "corpus")
            os.mkdir(corpus)
            done = subprocess.run(
                [program, corpus] + [os.path.join(source, d) for d in seeds.split(",")] +
                [f"-max_total_time={seconds}",
                 "-max_len=1048576", "-timeout=10", "-rss_limit_mb=2048",
                 f"-artifact_prefix={work}/", "-print_final_stats=1"],
                cwd=work, capture_output=True, text=True)
            stats = [line for line in done.stderr.splitlines()
                     if line.startswith(("stat::number_of_executed_units", "#")) and
                     ("DONE" in line or "number_of_executed_units" in line)]
            print(f"{name}: exit {done.returncode}; " + "; ".join(stats[-2:]))
            if done.returncode != 0:
                found = [f for f in os.listdir(work) if f != "corpus"]
                for artifact in found:
                    kept = os.path.join(build_dir, artifact)
                    shutil.copy(os.path.join(work, artifact), kept)
                    print(f"  finding kept as {kept}")
                print("\n".join(done.stderr.splitlines()[-40:]))
                failed.append(name)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
