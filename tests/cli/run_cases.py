#!/usr/bin/env python3
"""Runs whole-program cases of skyloom: a command line, its input, and the
exact output, exit status and files expected of it.

A .cases file holds cases, each starting with a line "=== name". Then lines
"key: value":
  args:     the arguments, split as a shell would ({tmp} is the case's scratch
            directory, {here} the folder of the .cases file, {program} the
            program under test; all three are expanded in env and setup too)
  stdin:    a quoted string with C escapes ("a\\n"), or <<< ... >>> lines; without
            it the input is the smallest scene, "DEFINITION MODEL\\n"
  stdin-file: a file whose bytes are the standard input
  env:      NAME=VALUE (repeatable)
  setup:    a shell command run in {tmp} before the program (repeatable)
  signal:   a signal name, sent once the program has printed its first line
  timeout:  seconds the program may take before the case fails (default 120):
            for cases whose fault was a hang
  status:   the exit status (default 0)
  stdout / stderr: the exact text, quoted or as a <<< ... >>> block
  stdout-lines / stderr-lines: a regular expression; the exact text above is
            then compared with only the lines it finds (re.search)
  stdout-file / stderr-file: the exact text is that file's
  stdout-has / stderr-has: a quoted text that must occur (repeatable)
  stdout-min: a regular expression with one group and a number: the group's
            first match in the output must be a number at least that large
  stderr-lacks: a quoted text that must not occur (repeatable)
  exists / missing: a path (relative to {tmp}) that must or must not exist
Programs run in {tmp} as their working directory. Elapsed times are read as
00:00:00: a run may straddle a second boundary on a slow machine.
"""
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile
import time


ELAPSED = re.compile(rb"(\(hh:mm:ss\):) \d+:\d\d:\d\d")


def unquote(text):
    text = text.strip()
    if len(text) < 2 or text[0] != '"' or text[-1] != '"':
        raise ValueError(f"expected a quoted string: {text}")
    raw = text[1:-1].encode("latin-1")
    return raw.decode("unicode_escape").encode("latin-1")


def parse(path):
    cases, case = [], None
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if line.startswith("==="):
            case = {"name": line[3:].strip(), "multi": {}}
            cases.append(case)
            continue
        if not line.strip() or line.startswith("#"):
            continue
        key, _, value = line.partition(":")
        key, value = key.strip(), value.strip()
        if value == "<<<":
            block = []
            while lines[i] != ">>>":
                block.append(lines[i])
                i += 1
            i += 1
            data = ("\n".join(block) + "\n").encode("utf-8") if block else b""
        elif key in ("args", "env", "setup", "signal", "status", "timeout", "exists", "missing",
                     "stdin-file", "stdout-file", "stderr-file", "stdout-lines", "stderr-lines",
                     "stdout-min"):
            data = value
        else:
            data = unquote(value)
        if key in ("env", "setup", "stdout-has", "stderr-has", "stderr-lacks", "exists", "missing"):
            case["multi"].setdefault(key, []).append(data)
        else:
            case[key] = data
    return cases


def run_case(program, here, case):
    with tempfile.TemporaryDirectory(prefix="skyloom-cli-") as tmp:
        expand = lambda s: (s.replace("{tmp}", tmp).replace("{here}", here)
                            .replace("{program}", program))
        env = dict(os.environ)
        for assignment in case["multi"].get("env", []):
            name, _, value = assignment.partition("=")
            env[name] = expand(value)
        for command in case["multi"].get("setup", []):
            subprocess.run(expand(command), shell=True, cwd=tmp, check=True, env=env)
        args = [program] + [expand(a) for a in shlex.split(case.get("args", ""))]
        stdin = case.get("stdin", b"DEFINITION MODEL\n")
        if "stdin-file" in case:
            stdin = open(expand(case["stdin-file"]), "rb").read()

        failures = []
        if "signal" in case:
            process = subprocess.Popen(args, cwd=tmp, env=env, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            first = process.stdout.readline()
            process.send_signal(getattr(signal, "SIG" + case["signal"]))
            rest, err = process.communicate(timeout=20)
            out = first + rest
            status = process.returncode
        else:
            try:
                done = subprocess.run(args, cwd=tmp, env=env, input=stdin, capture_output=True,
                                      timeout=float(case.get("timeout", "120")))
            except subprocess.TimeoutExpired:
                return ["timed out"]
            out, err, status = done.stdout, done.stderr, done.returncode

        out = ELAPSED.sub(rb"\1 00:00:00", out)
        whole_out = out
        want_status = int(case.get("status", "0"))
        if status != want_status:
            failures.append(f"exit status {status}, expected {want_status}")
        for stream, got in (("stdout", out), ("stderr", err)):
            want = case.get(stream)
            if f"{stream}-file" in case:
                want = open(os.path.join(here, case[f"{stream}-file"]), "rb").read()
            whole = got
            if f"{stream}-lines" in case:
                pattern = re.compile(case[f"{stream}-lines"].encode("utf-8"))
                got = b"".join(line for line in got.splitlines(keepends=True)
                               if pattern.search(line))
            if want is not None and got != want:
                failures.append(f"{stream} differs:\n--- expected\n{want!r}\n--- got\n{got!r}")
            for piece in case["multi"].get(f"{stream}-has", []):
                if piece not in whole:
                    failures.append(f"{stream} lacks {piece!r}; got:\n{whole!r}")
        if "stdout-min" in case:
            pattern, _, least = case["stdout-min"].rpartition(" ")
            found = re.search(pattern.encode("utf-8"), whole_out)
            if not found or int(found.group(1)) < int(least):
                failures.append(f"stdout has no {pattern!r} of at least {least}; got:\n"
                                f"{whole_out!r}")
        for piece in case["multi"].get("stderr-lacks", []):
            if piece in err:
                failures.append(f"stderr has {piece!r}")
        for path in case["multi"].get("exists", []):
            if not os.path.exists(os.path.join(tmp, path)):
                failures.append(f"{path} does not exist")
        for path in case["multi"].get("missing", []):
            if os.path.exists(os.path.join(tmp, path)):
                failures.append(f"{path} exists")
        return failures


def main():
    if len(sys.argv) < 3:
        print("usage: run_cases.py PROGRAM FILE.cases...", file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    failed = 0
    for path in sys.argv[2:]:
        here = os.path.dirname(os.path.abspath(path))
        for case in parse(path):
            failures = run_case(program, here, case)
            verdict = "ok" if not failures else "FAILED"
            print(f"{verdict:6} {os.path.basename(path)}: {case['name']}")
            for failure in failures:
                print("       " + failure.replace("\n", "\n       "))
            failed += bool(failures)
    print(f"{failed} failed" if failed else "all passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
