#!/usr/bin/env python3
"""The cost of link mode against writing files, on a knot benchmark scene:
the same render run alternately as `skyloom -n 2 SCENE` (image file) and as
`skyloom -n 2 -A ADDRESS` with a minimal application on loopback that sends
the scene and drains every message; several times each, medians of the
renderer's wall time (start to exit) in both.

    python3 bench/link_bench.py BUILD_DIR [N] [RUNS]      (default 100k, 7)

The scene comes from the shared generator (GEN_KNOT, default
../shared/bench/gen_knot.py) into a temporary directory. The machine is
shared: compare the two within one run, never across runs.
"""
import os
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR = os.environ.get(
    "GEN_KNOT", os.path.normpath(os.path.join(REPOSITORY, os.pardir, "shared", "bench",
                                              "gen_knot.py")))


def timed(command, cwd):
    start = time.monotonic()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def linked(skyloom, scene, cwd):
    """The renderer's wall time in link mode, the application doing no work."""
    with open(scene, "rb") as f:
        text = f.read()
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    address = "127.0.0.1:%d" % listener.getsockname()[1]
    start = time.monotonic()
    process = subprocess.Popen([skyloom, "-n", "2", "-A", address], cwd=cwd,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    data, _ = listener.accept()
    data.sendall(struct.pack(">I", len(address)) + address.encode())
    data.sendall(text)
    data.shutdown(socket.SHUT_WR)
    received = 0
    while True:
        chunk = data.recv(1 << 20)
        if not chunk:
            break
        received += len(chunk)
    process.wait()
    elapsed = time.monotonic() - start
    data.close()
    listener.close()
    if process.returncode != 0:
        sys.exit("link run failed with status %d" % process.returncode)
    return elapsed, received


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    n = sys.argv[2] if len(sys.argv) > 2 else "100k"
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 7
    skyloom = os.path.join(build, "skyloom")
    print("load:", os.getloadavg())
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([sys.executable, GENERATOR, n, out], check=True, stdout=subprocess.DEVNULL)
        scene = os.path.join(out, "knot_%s.sdl" % n)
        files, link = [], []
        for _ in range(runs):
            files.append(timed([skyloom, "-n", "2", scene], out))
            elapsed, received = linked(skyloom, scene, out)
            link.append(elapsed)
        f, k = statistics.median(files), statistics.median(link)
        print("N=%s files: median %.3f s (min %.3f) | link: median %.3f s (min %.3f), %d bytes "
              "received | link/files %.3f (%d runs each, alternating)"
              % (n, f, min(files), k, min(link), received, k / f, runs))


if __name__ == "__main__":
    main()
