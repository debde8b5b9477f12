#!/usr/bin/env python3
"""The progress display: on a pseudo-terminal a render shows one line of
progress per frame (frame, tiles done of total, elapsed time), erased before
any other output; with standard error a pipe, or a quiet run (the default),
not a byte of
it appears and the output is what it always was.

usage: progress_display.py SKYLOOM
"""
import os
import pty
import re
import subprocess
import sys
import tempfile

SCENE = """DEFINITION resolution = 64 48; triple origin (0, 0, 0);
MODEL camera (pix = "a", mask = "m", depth_file = "d", eye = (0, 0, 5), view = origin);
"""

ERASE = "\r\033[K"
LINE = re.compile(r"\rFrame (\d+): (\d+) of (\d+) tiles, 00:00:\d\d elapsed(, about \d\d:\d\d:\d\d left)?\033\[K")


def on_terminal(command, cwd):
    """Runs with standard output and error on a pseudo-terminal; returns
    (status, everything the terminal received)."""
    leader, follower = pty.openpty()
    process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=follower,
                               stderr=follower, close_fds=True)
    os.close(follower)
    received = b""
    while True:
        try:
            chunk = os.read(leader, 65536)
        except OSError:  # EIO: the program closed its end
            break
        if not chunk:
            break
        received += chunk
    os.close(leader)
    return process.wait(), received.decode("utf-8", "replace").replace("\r\n", "\n")


def piped(command, cwd):
    r = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True)
    return r.returncode, r.stdout.decode(), r.stderr.decode()


def main():
    skyloom = sys.argv[1]
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "s.sdl"), "w") as f:
            f.write(SCENE)
        # Runs are quiet unless told otherwise (-q0 or quiet = 0;).
        command = [skyloom, "-q0", "-n2", "-T5", "-s1", "-e3", "s.sdl"]

        status, text = on_terminal(command, tmp)
        check(status == 0, f"status {status} on a terminal")
        lines = LINE.findall(text)
        frames = sorted({int(frame) for frame, *_ in lines})
        check(frames == [1, 2, 3], f"progress lines for frames {frames}:\n{text!r}")
        for frame, done, total, _ in lines:
            check(total == "10" and 0 <= int(done) <= 10, f"tiles {done} of {total}")
        # Every progress line is erased before the next output, so taking the
        # lines and their erasures away leaves exactly the piped output.
        cleaned = LINE.sub("", text).replace(ERASE, "")
        _, out, err = piped(command, tmp)
        expected = out + err
        elapsed = re.compile(r"\d+:\d\d:\d\d|Memory\(kb\):\s+\d+")
        check(sorted(elapsed.sub("T", cleaned).splitlines())
              == sorted(elapsed.sub("T", expected).splitlines()),
              f"the terminal's text without the progress lines:\n{cleaned!r}\n"
              f"differs from the piped output:\n{expected!r}")
        check(text.count("\rFrame") <= text.count(ERASE),
              f"a progress line was left standing:\n{text!r}")
        for line in cleaned.splitlines():
            check("tiles," not in line, f"progress mixed into a line: {line!r}")

        # A pipe never receives it, nor a quiet run's terminal.
        check("tiles," not in out + err and "\033" not in out + err, "progress in a pipe")
        status, text = on_terminal([skyloom, "-s1", "-e2", "s.sdl"], tmp)
        check(status == 0 and "tiles," not in text and "\033" not in text,
              f"progress in a quiet run:\n{text!r}")

    for failure in failures:
        print("FAILED:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
