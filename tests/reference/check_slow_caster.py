#!/usr/bin/env python3
"""Runs every case of the given .cases files twice, once with the ray
caster's fast sample routine and once with the slow one forced
(QUORL_USE_SLOW_RAYCASTER set), and fails unless both runs end with the same
status and leave the same files, byte for byte.

usage: check_slow_caster.py SKYLOOM FILE.cases...

A case runs as tests/cli/run_cases.py runs it (its arguments, input, set-up
commands and environment) in a scratch directory of its own. Left out: cases
that send a signal or expect the run to fail, which leave what they had
written when they were stopped, and the timing diagnostic's (-J), whose depth
file holds clock ticks.
"""
import os
import shlex
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
import run_cases  # noqa: E402

SLOW = "QUORL_USE_SLOW_RAYCASTER"


def files_under(top):
    """The regular files (a case may leave a pipe) and their bytes."""
    found = {}
    for directory, _, names in os.walk(top):
        for name in names:
            path = os.path.join(directory, name)
            if stat.S_ISREG(os.lstat(path).st_mode):
                found[os.path.relpath(path, top)] = open(path, "rb").read()
    return found


def run(program, here, case, slow):
    with tempfile.TemporaryDirectory(prefix="skyloom-casters-") as tmp:
        expand = lambda s: (s.replace("{tmp}", tmp).replace("{here}", here)
                            .replace("{program}", program))
        env = dict(os.environ)
        env.pop(SLOW, None)
        for assignment in case["multi"].get("env", []):
            name, _, value = assignment.partition("=")
            env[name] = expand(value)
        if slow:
            env[SLOW] = "1"
        for command in case["multi"].get("setup", []):
            subprocess.run(expand(command), shell=True, cwd=tmp, check=True, env=env,
                           stdout=subprocess.DEVNULL)
        args = [program] + [expand(a) for a in shlex.split(case.get("args", ""))]
        stdin = case.get("stdin", b"DEFINITION MODEL\n")
        if "stdin-file" in case:
            stdin = open(expand(case["stdin-file"]), "rb").read()
        done = subprocess.run(args, cwd=tmp, env=env, input=stdin, capture_output=True,
                              timeout=120)
        return done.returncode, files_under(tmp)


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    failed = compared = 0
    for path in sys.argv[2:]:
        here = os.path.dirname(os.path.abspath(path))
        for case in run_cases.parse(path):
            if ("signal" in case or case.get("status", "0") != "0" or
                    "-J" in shlex.split(case.get("args", ""))):
                continue
            fast_status, fast = run(program, here, case, slow=False)
            slow_status, slow = run(program, here, case, slow=True)
            faults = []
            if fast_status != slow_status:
                faults.append(f"exit status {fast_status} fast, {slow_status} slow")
            for name in sorted(set(fast) | set(slow)):
                if fast.get(name) != slow.get(name):
                    faults.append(f"{name} differs" if name in fast and name in slow else
                                  f"{name} is written by one routine only")
            compared += len(fast)
            print(f"{'ok' if not faults else 'FAILED':6} {os.path.basename(path)}: {case['name']}")
            for fault in faults:
                print("       " + fault)
            failed += bool(faults)
    print(f"{failed} failed" if failed else
          f"all passed: {compared} files the same from both sample routines")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
