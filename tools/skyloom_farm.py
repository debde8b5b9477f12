#!/usr/bin/env python3
"""skyloom-farm: renders an animation on a Slurm cluster (docs/farm.md)."""
import argparse
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PROGRAM = "skyloom-farm"

USAGE = """\
usage: skyloom-farm submit SCENE --frames A-B[:BY] --chunk N [--split CxR]
                    [--partition NAME] [--account NAME] [--time LIMIT]
                    [--sbatch OPTION]... [--farm-dir DIR] [--skyloom PATH]
                    [-- SKYLOOM OPTIONS]
       skyloom-farm status [--farm-dir DIR]
       skyloom-farm --help

submit   Renders frames A to B (by BY, default 1) of SCENE as a Slurm array
         job, one task per chunk of N frames, each task running skyloom
         with -s, -e, -b and -S for its frames and the SKYLOOM OPTIONS.
         With --split CxR every frame is rendered as C columns by R rows of
         windows by separate tasks, and a job that waits for them
         (--dependency=afterok) assembles each frame's image, matte and
         depth files, byte for byte those of a whole-frame render.
         Frames whose files are all complete are skipped: submitting again
         after a failure renders only what is missing. Prints the job ids.
status   Lists the frames of the last submission that are done, missing
         and failed (from the files, the tasks' own records and sacct),
         with each failed task's state and log. Exits 1 while any frame
         is missing.

Options:
  --frames A-B[:BY]   the frames, A to B by BY
  --chunk N           frames per array task
  --split CxR         windows per frame: C columns, R rows (need not divide
                      the resolution)
  --partition NAME    the Slurm partition (sbatch --partition)
  --account NAME      the Slurm account (sbatch --account)
  --time LIMIT        each task's time limit (sbatch --time)
  --sbatch OPTION     any other sbatch option, e.g. --sbatch=--qos=low
  --farm-dir DIR      where job scripts, records and logs are kept
                      (default: skyloom-farm in the current directory)
  --skyloom PATH      the renderer (default: the skyloom beside this
                      program, else the one on PATH)

Tasks run in the directory submit was run in, so the scene's output names
resolve there; it must be on storage every node sees. Exit status: 0 on
success, 1 on failure (a message on standard error says why).
"""

FAILED_STATES = ("STOPPED", "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "OUT_OF_MEMORY",
                 "PREEMPTED", "BOOT_FAIL", "DEADLINE")


class FarmError(Exception):
    pass


# ----------------------------------------------------------------------------
# Arguments


def parse_frames(text):
    m = re.fullmatch(r"\s*(-?[0-9.]+)\s*-\s*(-?[0-9.]+)\s*(?::\s*([0-9.]+))?\s*", text)
    try:
        first, last = float(m.group(1)), float(m.group(2))
        by = float(m.group(3)) if m.group(3) else 1.0
    except (AttributeError, ValueError):
        raise FarmError(f"--frames {text}: expected A-B or A-B:BY, e.g. 1-100 or 1-100:2")
    if by <= 0:
        raise FarmError(f"--frames {text}: the step must be positive")
    if last < first:
        raise FarmError(f"--frames {text}: the range is reversed ({number(last)} is before "
                        f"{number(first)})")
    count = int((last - first) / by + 1e-9) + 1
    return [first + i * by for i in range(count)], by


def parse_split(text):
    m = re.fullmatch(r"\s*([0-9]+)\s*[xX]\s*([0-9]+)\s*", text or "")
    if not m or int(m.group(1)) < 1 or int(m.group(2)) < 1:
        raise FarmError(f"--split {text}: expected CxR with C and R at least 1, e.g. 2x2")
    return int(m.group(1)), int(m.group(2))


def number(value):
    return f"{value:.9g}"


def positive(text, option):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise FarmError(f"{option} {text}: expected a whole number of at least 1")
    return value


# ----------------------------------------------------------------------------
# The renderer


def program_path(name, given=None):
    if given:
        path = shutil.which(given) or (given if os.path.exists(given) else None)
        if path is None:
            raise FarmError(f"{given}: no such program")
        return os.path.abspath(path)
    here = os.path.dirname(os.path.abspath(__file__))
    beside = os.path.join(here, name)
    if os.access(beside, os.X_OK):
        return beside
    path = shutil.which(name)
    if path is None:
        raise FarmError(f"{name} is neither beside {PROGRAM} nor on PATH (give --skyloom)")
    return os.path.abspath(path)


class FrameFiles:
    """One time the renderer renders (a frame, or a field of one)."""

    def __init__(self, time_, extension, parity):
        self.time = time_
        self.extension = extension
        self.parity = parity
        self.files = []  # (kind, state, name)
        self.whole = []  # effects that read the whole image


def list_outputs(skyloom, scene, options, first, last, by, extension=None, animation=False,
                 cwd=None):
    """Runs the renderer in listing mode: it evaluates every frame's scene and
    names the files its cameras would write, with their state, rendering
    nothing. Returns (window, [FrameFiles])."""
    with tempfile.TemporaryDirectory(prefix="skyloom-farm-") as scratch:
        listing = os.path.join(scratch, "outputs")
        env = dict(os.environ, SKYLOOM_LIST_OUTPUTS=listing)
        env.pop("SKYLOOM_RESUME", None)
        env.pop("SKYLOOM_OUTPUT_SUFFIX", None)
        set_animation(env, animation)
        command = [skyloom] + options + frame_options(first, last, by, extension) + [scene]
        r = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, errors="replace")
        if r.returncode != 0:
            raise FarmError(f"{scene}: skyloom could not read the scene (status {r.returncode}):\n"
                            + (r.stderr + r.stdout).strip())
        with open(listing) as f:
            lines = f.read().splitlines()
    window = None
    frames = []
    for line in lines:
        fields = line.split("\t")
        if fields[0] == "window":
            window = [int(v) for v in fields[1:6]]
        elif fields[0] == "frame":
            frames.append(FrameFiles(float(fields[1]), int(fields[2]), int(fields[3])))
        elif fields[0] == "file" and frames:
            frames[-1].files.append((fields[1], fields[2], fields[3]))
        elif fields[0] == "whole" and frames:
            frames[-1].whole.append(fields[1])
    if window is None:
        raise FarmError(f"{scene}: skyloom listed no outputs")
    return window, frames


def set_animation(env, animation):
    # A chunk of one frame is still a frame of the animation: numbered names
    # and motion blur as in a render of the whole range.
    if animation:
        env["SKYLOOM_ANIMATION"] = "1"
    else:
        env.pop("SKYLOOM_ANIMATION", None)


def frame_options(first, last, by, extension=None):
    options = ["-s", number(first), "-e", number(last), "-b", number(by)]
    if extension is not None:
        options += ["-S", str(extension)]
    return options


def group_by_frame(frames, entries):
    """The listed times grouped by the frames asked for: one each, or two
    (the fields) when rendering fields."""
    if not entries or len(entries) % len(frames) != 0:
        raise FarmError(f"skyloom lists {len(entries)} renders for {len(frames)} frames")
    per = len(entries) // len(frames)
    return [entries[i * per:(i + 1) * per] for i in range(len(frames))]


def frame_complete(renders):
    files = [f for r in renders for f in r.files]
    return bool(files) and all(state == "complete" for _, state, _ in files)


# ----------------------------------------------------------------------------
# Windows of a split frame


def cuts(low, size, count, what):
    """Where `count` windows split `size` pixels from `low`: count + 1 edges,
    remainders spread (window k covers [k*size/count, (k+1)*size/count)).
    The renderer refuses a window ending at pixel 0, so a first window
    starting there takes at least two pixels from its neighbours."""
    edges = [low + k * size // count for k in range(count + 1)]
    if low == 0:
        edges[1] = max(edges[1], 2)
        for k in range(2, count):
            edges[k] = max(edges[k], edges[k - 1] + 1)
    if any(b <= a for a, b in zip(edges, edges[1:])):
        raise FarmError(f"--split: {count} {what} do not fit in {size} pixels")
    return edges


def windows(window, columns, rows):
    """The windows of a split, row by row from the top left: (x, y, width,
    height, suffix) with y counted from the bottom as the renderer does."""
    xleft, xright, ylow, yhigh, fields = window
    width, height = xright - xleft + 1, yhigh - ylow + 1
    if fields:
        raise FarmError("frames rendered as fields cannot be split (their rows interleave)")
    if columns > width or rows > height:
        raise FarmError(f"--split {columns}x{rows}: the frame is only {width}x{height} pixels")
    xs = cuts(xleft, width, columns, "columns")
    ys = cuts(ylow, height, rows, "rows")  # from the bottom
    result = []
    for r in range(rows):
        bottom, top = ys[rows - 1 - r], ys[rows - r]
        for c in range(columns):
            result.append((xs[c], bottom, xs[c + 1] - xs[c], top - bottom,
                           f".window-{r + 1}-{c + 1}"))
    return result


def window_options(win, window):
    x, y, w, h, _ = win
    # -w and -h add to -x and -y; the background keeps the whole frame's rows.
    return ["-x", str(x), "-w", str(w - 1), "-y", str(y), "-h", str(h - 1),
            "-W", str(window[2]), "-Y", str(window[3])]


# ----------------------------------------------------------------------------
# Submitting


class Farm:
    def __init__(self, directory):
        self.dir = os.path.abspath(directory)
        self.state_file = os.path.join(self.dir, "farm.json")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def load(self):
        try:
            with open(self.state_file) as f:
                return json.load(f)
        except FileNotFoundError:
            raise FarmError(f"{self.state_file}: nothing was submitted from here "
                            f"(give --farm-dir)")
        except (OSError, ValueError) as e:
            raise FarmError(f"{self.state_file}: {e}")

    def save(self, state):
        write_file(self.state_file, json.dumps(state, indent=1) + "\n")


def write_file(name, text, mode=0o644):
    """Writes whole or not at all: a full disk leaves the old file."""
    os.makedirs(os.path.dirname(name), exist_ok=True)
    partial = f"{name}.partial-{os.getpid()}"
    try:
        with open(partial, "w") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(partial, mode)
        os.replace(partial, name)
    except OSError as e:
        try:
            os.unlink(partial)
        except OSError:
            pass
        raise FarmError(f"{name}: {e.strerror}")


def sbatch(arguments, script):
    command = ["sbatch", "--parsable"] + arguments + [script]
    try:
        r = subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    except FileNotFoundError:
        raise FarmError("sbatch is not installed: cannot reach Slurm")
    if r.returncode != 0:
        raise FarmError(f"sbatch failed (status {r.returncode}): {r.stderr.strip()}\n"
                        f"  command: {shlex.join(command)}")
    job = r.stdout.strip().split(";")[0]
    if not job.isdigit():
        raise FarmError(f"sbatch gave no job id: {r.stdout.strip()} {r.stderr.strip()}")
    return job


def job_script(kind, job_file):
    python = sys.executable or "python3"
    return (f"#!/bin/sh\n# {kind} tasks of a skyloom-farm job; {PROGRAM} status reports on them.\n"
            f"exec {shlex.quote(python)} {shlex.quote(os.path.abspath(__file__))} "
            f"run-task {kind} {shlex.quote(job_file)}\n")


def submit(args):
    frames, by = parse_frames(args.frames)
    chunk = positive(args.chunk, "--chunk")
    split = parse_split(args.split) if args.split else None
    scene = os.path.abspath(args.scene)
    if not os.path.isfile(scene):
        raise FarmError(f"{args.scene}: no such scene file")
    skyloom = program_path("skyloom", args.skyloom)
    assemble = program_path("skyloom-assemble") if split else None
    options = args.options
    cwd = os.getcwd()
    farm = Farm(args.farm_dir)

    window, entries = list_outputs(skyloom, scene, options, frames[0], frames[-1], by)
    groups = group_by_frame(frames, entries)
    pieces = []
    if split:
        pieces = windows(window, *split)
        whole = sorted({w for g in groups for r in g for w in r.whole})
        if whole:
            raise FarmError(f"{args.scene}: frames cannot be split: {', '.join(whole)} "
                            f"read{'s' if len(whole) == 1 else ''} the whole image")

    chunks = []
    for k in range(0, len(frames), chunk):
        members = list(range(k, min(k + chunk, len(frames))))
        missing = [i for i in members if not frame_complete(groups[i])]
        if missing:
            chunks.append({"frames": [frames[i] for i in members],
                           "extension": groups[members[0]][0].extension,
                           "missing": [frames[i] for i in missing]})
    state = {"scene": scene, "cwd": cwd, "frames": frames, "by": by, "chunk": chunk,
             "split": list(split) if split else None, "options": options, "skyloom": skyloom,
             "assemble": assemble, "window": window, "submissions": []}
    try:
        old = farm.load()
        if old.get("scene") == scene and old.get("options") == options:
            state["submissions"] = old.get("submissions", [])
    except FarmError:
        pass
    if not chunks:
        print(f"All {len(frames)} frames are complete: nothing to render")
        farm.save(state)
        return 0

    stamp = time.strftime("%Y%m%d-%H%M%S") + f"-{os.getpid()}"
    tasks = []
    for c in chunks:
        for win in pieces or [None]:
            tasks.append({"first": c["frames"][0], "last": c["frames"][-1],
                          "extension": c["extension"], "frames": c["frames"],
                          "window": list(win) if win else None})
    job = {"scene": scene, "cwd": cwd, "by": by, "animation": len(frames) > 1,
           "options": options, "skyloom": skyloom, "assemble": assemble, "full_window": window,
           "tasks": tasks, "chunks": chunks, "pieces": [list(p) for p in pieces],
           "records": farm.path("records")}
    job_file = farm.path("jobs", stamp + ".json")
    write_file(job_file, json.dumps(job, indent=1) + "\n")
    os.makedirs(farm.path("logs"), exist_ok=True)
    os.makedirs(farm.path("records"), exist_ok=True)

    common = [f"--chdir={cwd}"]
    if args.partition:
        common.append(f"--partition={args.partition}")
    if args.account:
        common.append(f"--account={args.account}")
    if args.time:
        common.append(f"--time={args.time}")
    common += args.sbatch

    render_script = farm.path("jobs", stamp + "-render.sh")
    write_file(render_script, job_script("render", job_file), 0o755)
    render_job = sbatch(common + [f"--array=0-{len(tasks) - 1}", "--job-name=skyloom-render",
                                  f"--output={farm.path('logs', 'render-%A_%a.log')}"],
                        render_script)
    what = f"frames {describe(frames, by)} in chunks of {chunk}"
    print(f"Submitted render job {render_job}: {len(tasks)} task{'s' * (len(tasks) != 1)} "
          f"({len(chunks)} chunk{'s' * (len(chunks) != 1)} of {what}"
          + (f", each frame as {split[0]}x{split[1]} windows" if split else "") + ")")
    submission = {"render_job": render_job, "job_file": job_file, "assemble_job": None}
    # Kept at once: should the second submission fail, status still knows
    # the render job.
    state["submissions"].append(submission)
    farm.save(state)
    if split:
        assemble_script = farm.path("jobs", stamp + "-assemble.sh")
        write_file(assemble_script, job_script("assemble", job_file), 0o755)
        assemble_job = sbatch(common + [f"--array=0-{len(chunks) - 1}",
                                        f"--dependency=afterok:{render_job}",
                                        "--kill-on-invalid-dep=yes",
                                        "--job-name=skyloom-assemble",
                                        f"--output={farm.path('logs', 'assemble-%A_%a.log')}"],
                              assemble_script)
        submission["assemble_job"] = assemble_job
        print(f"Submitted assemble job {assemble_job}: {len(chunks)} "
              f"task{'s' * (len(chunks) != 1)}, after render job {render_job}")
        farm.save(state)
    return 0


def describe(frames, by=1.0):
    """Frame numbers as runs of steps of `by`: "1-4 7 9-10"."""
    if not frames:
        return "none"
    parts = []
    start = prev = frames[0]
    for f in list(frames[1:]) + [None]:
        if f is not None and abs(f - prev - by) < 1e-9:
            prev = f
            continue
        parts.append(number(start) if start == prev else f"{number(start)}-{number(prev)}")
        start = prev = f
    return " ".join(parts)


# ----------------------------------------------------------------------------
# Running a task (on a node, started by the job script)


def run_task(kind, job_file):
    with open(job_file) as f:
        job = json.load(f)
    index = int(os.environ.get("SLURM_ARRAY_TASK_ID", "0"))
    array_job = os.environ.get("SLURM_ARRAY_JOB_ID", os.environ.get("SLURM_JOB_ID", "local"))
    record = os.path.join(job["records"], f"{kind}-{array_job}_{index}.json")
    if kind == "render":
        task = job["tasks"][index]
        frames = task["frames"]
    else:
        frames = job["chunks"][index]["frames"]
    write_record(record, {"frames": frames, "state": "RUNNING",
                          "job": os.environ.get("SLURM_JOB_ID")})
    status = render_task(job, task) if kind == "render" else assemble_task(job, index)
    state = "COMPLETED" if status == 0 else ("CANCELLED" if status >= 128 else "FAILED")
    write_record(record, {"frames": frames, "state": state, "status": status,
                          "job": os.environ.get("SLURM_JOB_ID")})
    return status


def write_record(name, record):
    try:
        write_file(name, json.dumps(record) + "\n")
    except FarmError as e:
        print(f"{PROGRAM}: {e}", file=sys.stderr)


def render_task(job, task):
    options = list(job["options"])
    env = dict(os.environ, SKYLOOM_RESUME="1")
    env.pop("SKYLOOM_LIST_OUTPUTS", None)
    set_animation(env, job["animation"])
    if task["window"]:
        options += window_options(task["window"], job["full_window"])
        env["SKYLOOM_OUTPUT_SUFFIX"] = task["window"][4]
    else:
        env.pop("SKYLOOM_OUTPUT_SUFFIX", None)
    command = ([job["skyloom"]] + options
               + frame_options(task["first"], task["last"], job["by"], task["extension"])
               + [job["scene"]])
    print(f"{PROGRAM}: frames {describe(task['frames'], job['by'])}: {shlex.join(command)}",
          flush=True)
    return run_forwarding_signals(command, env, job["cwd"])


def run_forwarding_signals(command, env, cwd):
    """Runs the command; SIGTERM and SIGINT (scancel, a pre-emption) are
    passed on so the renderer removes its unfinished files. Returns the exit
    status, or 128 + the signal that ended it."""
    process = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL)

    def forward(signum, _frame):
        try:
            process.send_signal(signum)
        except ProcessLookupError:
            pass

    old = {s: signal.signal(s, forward) for s in (signal.SIGTERM, signal.SIGINT)}
    try:
        status = process.wait()
    finally:
        for s, handler in old.items():
            signal.signal(s, handler)
    if status < 0:
        status = 128 - status
    if status != 0:
        print(f"{PROGRAM}: skyloom exited with status {status}", file=sys.stderr, flush=True)
    return status


def assemble_task(job, index):
    chunk = job["chunks"][index]
    frames = chunk["frames"]
    _, entries = list_outputs(job["skyloom"], job["scene"], job["options"], frames[0],
                              frames[-1], job["by"], chunk["extension"], job["animation"],
                              cwd=job["cwd"])
    failed = 0
    for entry in entries:
        for kind, state, name in entry.files:
            path = os.path.join(job["cwd"], name)
            pieces = [path + piece[4] for piece in job["pieces"]]
            if state == "complete":
                print(f"Kept complete {kind} file {name}", flush=True)
                remove(pieces)
                continue
            command = [job["assemble"], "--columns", str(columns_of(job["pieces"])), path]
            command += pieces
            r = subprocess.run(command, stdin=subprocess.DEVNULL)
            if r.returncode != 0:
                print(f"{PROGRAM}: could not assemble {name} (status {r.returncode})",
                      file=sys.stderr, flush=True)
                failed = 1
                continue
            print(f"Assembled {kind} file {name} from {len(pieces)} windows", flush=True)
            remove(pieces)
    return failed


def columns_of(pieces):
    return sum(1 for p in pieces if p[4].startswith(".window-1-"))


def remove(names):
    for name in names:
        try:
            os.unlink(name)
        except FileNotFoundError:
            pass


# ----------------------------------------------------------------------------
# Status


def slurm_states(jobs):
    """State of each task of the given array jobs that Slurm still knows:
    {"JOB_TASK": (state, exit code)}, from squeue and sacct. Missing
    accounting is no error: the tasks' own records cover most failures.
    Also says whether squeue answered, so that a task it no longer lists is
    known to have ended."""
    states = {}
    queue_known = False
    if not jobs:
        return states, queue_known
    try:
        r = subprocess.run(["squeue", "-h", "-r", "-j", ",".join(jobs), "-o", "%i|%T"],
                           capture_output=True, text=True, stdin=subprocess.DEVNULL)
        # squeue fails on job ids the controller has forgotten: that too
        # means nothing of them is queued.
        queue_known = r.returncode == 0 or "Invalid job id" in r.stderr
        if r.returncode == 0:
            for line in r.stdout.splitlines():
                task, _, state = line.partition("|")
                states[task.strip()] = (state.strip(), "")
        r = subprocess.run(["sacct", "-n", "-P", "-X", "-j", ",".join(jobs),
                            "--format=JobID,State,ExitCode"],
                           capture_output=True, text=True, stdin=subprocess.DEVNULL)
        if r.returncode == 0:
            for line in r.stdout.splitlines():
                fields = line.split("|")
                if len(fields) >= 3 and "_" in fields[0]:
                    states.setdefault(fields[0], (fields[1].split()[0], fields[2]))
    except FileNotFoundError:
        pass
    return states, queue_known


def status(args):
    farm = Farm(args.farm_dir)
    state = farm.load()
    frames, by = state["frames"], state["by"]
    _, entries = list_outputs(state["skyloom"], state["scene"], state["options"], frames[0],
                              frames[-1], by, cwd=state["cwd"])
    groups = group_by_frame(frames, entries)
    done = [f for f, g in zip(frames, groups) if frame_complete(g)]
    missing = [f for f, g in zip(frames, groups) if not frame_complete(g)]

    # The last task of each missing frame, from the last submission holding it.
    jobs = []
    for s in state["submissions"]:
        jobs += [j for j in (s["render_job"], s.get("assemble_job")) if j]
    slurm, queue_known = slurm_states(jobs)
    last_task = {}
    for s in state["submissions"]:
        try:
            with open(s["job_file"]) as f:
                job = json.load(f)
        except (OSError, ValueError):
            continue
        tasks_of = {}
        for i, task in enumerate(job["tasks"]):
            for f in task["frames"]:
                tasks_of.setdefault(f, []).append(("render", s["render_job"], i))
        if s.get("assemble_job"):
            for i, c in enumerate(job["chunks"]):
                for f in c["frames"]:
                    tasks_of.setdefault(f, []).append(("assemble", s["assemble_job"], i))
        last_task.update(tasks_of)

    failed = {}
    running = []
    for f in missing:
        for kind, job_id, i in last_task.get(f, []):
            key = f"{job_id}_{i}"
            record = read_record(farm.path("records", f"{kind}-{key}.json"))
            slurm_state, exit_code = slurm.get(key, ("", ""))
            task_state = slurm_state or record.get("state", "")
            if task_state == "RUNNING" and not slurm_state and queue_known:
                # Its record was never finished: killed outright, or its node lost.
                task_state = "STOPPED"
            if slurm_state in ("PENDING", "RUNNING", "CONFIGURING", "COMPLETING"):
                running.append(f)
                break
            if task_state in FAILED_STATES or (record.get("status") or 0) != 0:
                detail = task_state or "FAILED"
                if record.get("status"):
                    detail += f", exit status {record['status']}"
                elif exit_code and exit_code != "0:0":
                    detail += f", exit code {exit_code}"
                log = farm.path("logs", f"{kind}-{key}.log")
                failed.setdefault((kind, key, detail, log), []).append(f)
                break

    print(f"done ({len(done)}): {describe(done, by)}")
    print(f"missing ({len(missing)}): {describe(missing, by)}")
    failed_frames = sorted({f for fs in failed.values() for f in fs})
    print(f"failed ({len(failed_frames)}): {describe(failed_frames, by)}")
    for (kind, key, detail, log), fs in sorted(failed.items(), key=lambda item: item[1][0]):
        print(f"  {kind} task {key} (frames {describe(fs, by)}): {detail}; log {log}")
    if running:
        print(f"rendering ({len(running)}): {describe(running, by)}")
    return 1 if missing else 0


def read_record(name):
    try:
        with open(name) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


# ----------------------------------------------------------------------------


def main(argv):
    if len(argv) < 1 or argv[0] in ("-h", "--help", "help"):
        sys.stdout.write(USAGE)
        return 0 if argv else 1
    command, rest = argv[0], argv[1:]
    options = []
    if "--" in rest:
        at = rest.index("--")
        rest, options = rest[:at], rest[at + 1:]
    parser = argparse.ArgumentParser(prog=f"{PROGRAM} {command}", add_help=False)
    parser.error = lambda message: (_ for _ in ()).throw(FarmError(message))
    try:
        if command == "submit":
            parser.add_argument("scene")
            parser.add_argument("--frames", required=True)
            parser.add_argument("--chunk", required=True)
            parser.add_argument("--split")
            parser.add_argument("--partition")
            parser.add_argument("--account")
            parser.add_argument("--time")
            parser.add_argument("--sbatch", action="append", default=[])
            parser.add_argument("--farm-dir", default="skyloom-farm")
            parser.add_argument("--skyloom")
            args = parser.parse_args(rest)
            args.options = options
            return submit(args)
        if command == "status":
            parser.add_argument("--farm-dir", default="skyloom-farm")
            return status(parser.parse_args(rest))
        if command == "run-task" and len(rest) == 2 and rest[0] in ("render", "assemble"):
            return run_task(rest[0], rest[1])
        raise FarmError(f"unknown command {command!r}")
    except FarmError as e:
        print(f"{PROGRAM}: {e}", file=sys.stderr)
        if str(e).startswith(("unknown command", "the following arguments",
                              "unrecognized arguments", "argument ")):
            sys.stderr.write(USAGE)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
