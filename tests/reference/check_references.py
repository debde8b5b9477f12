#!/usr/bin/env python3
"""Renders the reference scenes of references.txt and compares every image,
matte and depth file with its reference in images/ (tests/reference/README.md).

usage: check_references.py BUILD_DIR [--failures DIR]
       check_references.py BUILD_DIR --update

BUILD_DIR holds skyloom, skyloom-compare and skyloom-convert. Each scene is
rendered three times: on one worker, on two, and on two with the slow ray
caster (QUORL_USE_SLOW_RAYCASTER). The first render must match the
references within the tolerances below; the other two must give the same
files byte for byte. When a render differs from its reference, the rendered
file, a PNG of it and a picture of the differences are left in the failures
directory (BUILD_DIR/reference-failures unless --failures says otherwise),
and the report says where.

--update renders each scene once, on one worker, and writes its files as the
new references.
"""
import gzip
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES = os.path.join(HERE, "images")
SCENES = os.path.join(HERE, "scenes")

# Images and mattes: no channel of any pixel may differ by more than PIXEL
# levels of 255, and the mean absolute difference over all channels of all
# pixels may not exceed MEAN levels.
PIXEL = 2
MEAN = 0.05
# Depth files: no pixel's depth may differ by more than DEPTH_PIXEL of its
# reference value, and the mean of those relative differences may not exceed
# DEPTH_MEAN.
DEPTH_PIXEL = 1e-4
DEPTH_MEAN = 1e-5

# What a render writes, and where its reference is kept.
OUTPUTS = {"image.qrl": "{}.png", "matte": "{}.matte.png", "depth": "{}.depth.gz"}

DEPTH_FLOATS, DEPTH_INTEGERS = 55655, 56655


def read_cases():
    cases = []
    for line in open(os.path.join(HERE, "references.txt"), encoding="utf-8"):
        fields = line.split("#", 1)[0].split()
        if fields:
            cases.append((fields[0], os.path.normpath(os.path.join(HERE, fields[1])), fields[2:]))
    return cases


def render(skyloom, scene, options, directory, extra_env=None):
    os.makedirs(directory)
    env = dict(os.environ, SKYLOOM_IMAGE_PATH=SCENES)
    env.pop("QUORL_USE_SLOW_RAYCASTER", None)
    env.update(extra_env or {})
    done = subprocess.run([skyloom] + options + [scene], cwd=directory, env=env,
                          capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        return f"exit status {done.returncode}: {done.stderr.strip()}"
    return None


def read_depth(data):
    magic, width, height = struct.unpack("<IHH", data[:8])
    kind = {DEPTH_FLOATS: "f", DEPTH_INTEGERS: "i"}.get(magic)
    if kind is None or len(data) != 8 + 4 * width * height:
        return None
    return width, height, struct.unpack("<%d%s" % (width * height, kind), data[8:])


def compare_depth(reference_gz, rendered, difference_picture):
    """Returns (within tolerance, report line); writes a PPM of the
    differences (black: equal, yellow: within, red: beyond)."""
    want = read_depth(gzip.open(reference_gz).read())
    got = read_depth(open(rendered, "rb").read())
    if want is None or got is None:
        return False, f"depth: not a depth file like its reference {reference_gz}"
    if want[:2] != got[:2]:
        return False, (f"depth: DIFFERS from {reference_gz}: {got[0]}x{got[1]}, the reference "
                       f"{want[0]}x{want[1]}")
    width, height = got[:2]
    total, beyond, largest, where, picture = 0.0, 0, 0.0, (0, 0), bytearray()
    for i, (a, b) in enumerate(zip(want[2], got[2])):
        relative = abs(a - b) / max(abs(a), 1e-6)
        total += relative
        if relative > largest:
            largest, where = relative, (i % width, i // width)
        beyond += relative > DEPTH_PIXEL
        picture += (b"\xff\x00\x00" if relative > DEPTH_PIXEL else
                    b"\xc0\xc0\x00" if relative > 0 else b"\x00\x00\x00")
    mean = total / (width * height)
    ok = beyond == 0 and mean <= DEPTH_MEAN
    with open(difference_picture, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height) + bytes(picture))
    if beyond == 0 and largest == 0:
        return True, f"depth: matches {reference_gz} exactly"
    return ok, (f"depth: {'matches' if ok else 'DIFFERS from'} {reference_gz}: largest relative "
                f"difference {largest:.2e} (at column {where[0]}, row {where[1]} from the top), "
                f"{beyond} of {width * height} pixels beyond {DEPTH_PIXEL:g}; mean relative "
                f"difference {mean:.2e} (at most {DEPTH_MEAN:g})")


def keep_failure(failures, name, rendered, difference, convert):
    """Leaves the rendered file, a PNG of it and the difference picture."""
    folder = os.path.join(failures, name)
    os.makedirs(folder, exist_ok=True)
    base = os.path.basename(rendered)
    shutil.copy(rendered, os.path.join(folder, base))
    if base != "depth":
        subprocess.run([convert, rendered, os.path.join(folder, base.split(".")[0] + ".png")],
                       capture_output=True)
    if os.path.exists(difference):  # none for images of another size
        shutil.copy(difference, os.path.join(folder, os.path.basename(difference)))
    return folder


def render_case(tools, case, scratch, failures, images):
    """Renders the case three times and checks what needs no image reader:
    that the renders agree byte for byte, and the depth file. The images and
    mattes to compare go to `images` as (render name, output, reference,
    rendered file, difference picture). Returns the problems and the report
    lines."""
    skyloom, _, convert = tools
    name, scene, options = case
    # run: (workers, environment, what it is called in a report)
    runs = {"one": ("1", {}, "-n 1"), "two": ("2", {}, "-n 2"),
            "slow": ("2", {"QUORL_USE_SLOW_RAYCASTER": "1"}, "the slow ray caster")}
    for run, (workers, env, called) in runs.items():
        error = render(skyloom, scene, ["-n", workers] + options, os.path.join(scratch, run), env)
        if error:
            return [f"render with {called}: {error}"], []
    one = os.path.join(scratch, "one")
    produced = sorted(os.listdir(one))
    problems, lines = [] if produced else ["the render wrote no file"], []
    for output in produced:
        rendered = os.path.join(one, output)
        if output not in OUTPUTS:
            problems.append(f"{output}: an output without a reference (names: {list(OUTPUTS)})")
            continue
        for run in ("two", "slow"):
            other = os.path.join(scratch, run, output)
            if not os.path.exists(other) or open(other, "rb").read() != open(rendered, "rb").read():
                problems.append(f"{output} differs between -n 1 and {runs[run][2]}")
        reference = os.path.join(IMAGES, OUTPUTS[output].format(name))
        if not os.path.exists(reference):
            problems.append(f"no reference {os.path.relpath(reference, HERE)}: "
                            "make it with tools/update_reference_images")
            continue
        difference = os.path.join(scratch, output.split(".")[0] + ".diff." +
                                  ("ppm" if output == "depth" else "png"))
        if output != "depth":
            images.append((name, output, reference, rendered, difference))
            continue
        ok, report = compare_depth(reference, rendered, difference)
        lines.append(report)
        if not ok:
            folder = keep_failure(failures, name, rendered, difference, convert)
            problems.append(f"depth differs from its reference: the render and the "
                            f"differences are in {folder}")
    return problems, lines


def compare_images(tools, images, failures):
    """One run of skyloom-compare for every image and matte (it loads the
    image module once). Returns, by case, problems and report lines."""
    _, compare, convert = tools
    problems, lines = {}, {}
    if not images:
        return problems, lines
    command = [compare, "--pixel", str(PIXEL), "--mean", str(MEAN)]
    for _, _, reference, rendered, difference in images:
        command += ["--diff", difference, reference, rendered]
    done = subprocess.run(command, capture_output=True, text=True)
    reports = {}
    for line in done.stdout.splitlines():
        image, _, rest = line.partition(": ")
        reports[image] = rest
    for name, output, reference, rendered, difference in images:
        report = reports.get(rendered, "no answer from skyloom-compare: " + done.stderr.strip())
        lines.setdefault(name, []).append(f"{output}: {report}")
        if not report.startswith("matches "):
            folder = keep_failure(failures, name, rendered, difference, convert)
            problems.setdefault(name, []).append(
                f"{output} differs from its reference: the render and the differences are in "
                f"{folder}")
    return problems, lines


def update(tools):
    skyloom, _, convert = tools
    os.makedirs(IMAGES, exist_ok=True)
    written = set()
    for name, scene, options in read_cases():
        with tempfile.TemporaryDirectory(prefix="skyloom-reference-") as scratch:
            directory = os.path.join(scratch, "one")
            error = render(skyloom, scene, ["-n", "1"] + options, directory)
            if error:
                sys.exit(f"{name}: {error}")
            for output in sorted(os.listdir(directory)):
                if output not in OUTPUTS:
                    sys.exit(f"{name}: {output} is an output without a reference")
                target = os.path.join(IMAGES, OUTPUTS[output].format(name))
                source = os.path.join(directory, output)
                if output == "depth":
                    with open(source, "rb") as data, open(target, "wb") as out:
                        with gzip.GzipFile(fileobj=out, mode="wb", mtime=0, filename="") as packed:
                            packed.write(data.read())
                else:
                    subprocess.run([convert, source, target], check=True)
                written.add(os.path.basename(target))
                print(f"wrote {os.path.relpath(target, HERE)}")
    for stale in sorted(set(os.listdir(IMAGES)) - written):
        print(f"note: images/{stale} belongs to no reference render; remove it if it is stale")
    return 0


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    build = os.path.abspath(args[0])
    tools = tuple(os.path.join(build, p) for p in ("skyloom", "skyloom-compare", "skyloom-convert"))
    if args[1:] == ["--update"]:
        return update(tools)
    failures = os.path.join(build, "reference-failures")
    if args[1:2] == ["--failures"] and len(args) == 3:
        failures = os.path.abspath(args[2])
    elif len(args) != 1:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    shutil.rmtree(failures, ignore_errors=True)
    cases = read_cases()
    problems, lines, images = {}, {}, []
    with tempfile.TemporaryDirectory(prefix="skyloom-reference-") as scratch:
        for case in cases:
            name = case[0]
            problems[name], lines[name] = render_case(tools, case, os.path.join(scratch, name),
                                                      failures, images)
        image_problems, image_lines = compare_images(tools, images, failures)
    failed = 0
    for name, _, _ in cases:
        print(f"{name}:")
        for line in lines[name] + image_lines.get(name, []):
            print("       " + line.replace(IMAGES + "/", "images/"))
        for problem in problems[name] + image_problems.get(name, []):
            print("FAILED " + problem)
        failed += bool(problems[name] or image_problems.get(name))
    print(f"{failed} of {len(cases)} reference renders failed" if failed
          else "all reference renders match")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
