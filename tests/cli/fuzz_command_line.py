#!/usr/bin/env python3
"""Throws a few hundred random command lines at skyloom and checks that each
ends with status 0 or 1 (never a signal, a hang or another status), and that
every status-1 run said why on the error channel."""
import random
import subprocess
import sys

LETTERS = "AaBbCcdEefGgHhIiJjKkLlmNnOoPpQqRrSsTtuVvWwXxYyZz"
PIECES = ["-", "--", "/", "-:", "-3", "", "0", "-1", "99999999999", "1e40", "nan", "abc", "%s%n",
          "-q0", "x" * 300, "/a3"]


def random_argument(rng):
    kind = rng.random()
    if kind < 0.5:
        word = rng.choice("-/") + "".join(rng.choice(LETTERS + ":?1") for _ in range(rng.randint(0, 4)))
        if rng.random() < 0.5:
            word += rng.choice(PIECES)
        return word
    return rng.choice(PIECES)


def main():
    program = sys.argv[1]
    rng = random.Random(20261206)
    bad = 0
    for _ in range(200):
        args = [random_argument(rng) for _ in range(rng.randint(0, 6))]
        # "-A" with an address would try to connect; keep the cases local.
        try:
            done = subprocess.run([program] + args, input=b"", capture_output=True, timeout=20)
        except subprocess.TimeoutExpired:
            print("hung:", args)
            bad += 1
            continue
        if done.returncode not in (0, 1) or (done.returncode == 1 and not done.stderr):
            print("status", done.returncode, args, done.stderr[-300:])
            bad += 1
    print(f"{bad} bad command lines" if bad else "all command lines handled")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
