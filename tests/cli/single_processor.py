#!/usr/bin/env python3
"""A run given one processor (-n 1) creates no thread at all: not while it
reads a scene whose lists are long enough for the parse to share them with a
second thread, not for a scene with file textures, whose image module could
be loaded in the background, whether the scene comes from a file or from
standard input. Its image is the two-worker run's, byte for byte.

The runs are made under a seccomp filter that ends the process the moment it
asks the kernel for a thread. A run with two workers must be ended by it,
which shows the filter works here. Exits 77 (skipped) where a filter cannot
be set.

single_processor.py PROGRAM"""
import ctypes
import filecmp
import os
import platform
import signal
import subprocess
import sys
import tempfile

# seccomp and BPF constants (linux/seccomp.h, linux/filter.h, linux/audit.h).
ARCHES = {"x86_64": (0xC000003E, 56, 435), "aarch64": (0xC00000B7, 220, 435)}
CLONE_THREAD = 0x00010000
RET_ALLOW, RET_ERRNO, RET_KILL_PROCESS = 0x7FFF0000, 0x00050000, 0x80000000
ENOSYS = 38
LD_W_ABS, JEQ_K, JSET_K, RET_K = 0x20, 0x15, 0x45, 0x06
PR_SET_NO_NEW_PRIVS, PR_SET_SECCOMP, SECCOMP_MODE_FILTER = 38, 22, 2


class SockFilter(ctypes.Structure):
    _fields_ = [("code", ctypes.c_ushort), ("jt", ctypes.c_ubyte), ("jf", ctypes.c_ubyte),
                ("k", ctypes.c_uint)]


class SockFprog(ctypes.Structure):
    _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.POINTER(SockFilter))]


def thread_filter():
    """The filter: clone3 answers "not implemented" (so that the C library
    falls back to clone, whose flags a filter can read), and a clone that
    makes a thread ends the process with SIGSYS."""
    arch, clone, clone3 = ARCHES[platform.machine()]
    program = [
        (LD_W_ABS, 0, 0, 4),  # the architecture
        (JEQ_K, 1, 0, arch),
        (RET_K, 0, 0, RET_ALLOW),
        (LD_W_ABS, 0, 0, 0),  # the system call
        (JEQ_K, 0, 1, clone3),
        (RET_K, 0, 0, RET_ERRNO | ENOSYS),
        (JEQ_K, 0, 3, clone),
        (LD_W_ABS, 0, 0, 16),  # clone's flags
        (JSET_K, 0, 1, CLONE_THREAD),
        (RET_K, 0, 0, RET_KILL_PROCESS),
        (RET_K, 0, 0, RET_ALLOW),
    ]
    filters = (SockFilter * len(program))(*[SockFilter(*row) for row in program])
    return SockFprog(len(program), filters)


LIBC = ctypes.CDLL(None, use_errno=True)
FILTER = None


def forbid_threads():
    if LIBC.prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0:
        os._exit(77)
    if LIBC.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.byref(FILTER), 0, 0) != 0:
        os._exit(77)


def run(program, args, cwd, threads_allowed, stdin=None):
    return subprocess.run([program] + args, cwd=cwd, stdin=stdin, capture_output=True,
                          preexec_fn=None if threads_allowed else forbid_threads, timeout=300)


def write_scene(path, texture):
    """A textured square and a long list of unused vertices, which the parse
    reads in pieces on two threads when it may."""
    with open(path, "w") as out:
        out.write("DEFINITION version = 8; resolution = 40 30; triple origin (0, 0, 0);\n")
        if texture:
            out.write('shader s (model = lambert, color = texture (procedure = file, '
                      f'image = "{texture}"));\n')
        else:
            out.write("shader s (model = lambert, color = (200, 120, 40));\n")
        out.write('MODEL camera (pix = "a", eye = (0, 0, 5), view = origin);\n')
        out.write("polyset (shader = (s), vertices = (\n")
        out.write("(cv((-4, -4, 0), 1), st(0, 0)), (cv((4, -4, 0), 1), st(1, 0)), "
                  "(cv((4, 4, 0), 1), st(1, 1)), (cv((-4, 4, 0), 1), st(0, 1))")
        for i in range(60000):
            out.write(f",\n(cv(({i % 97 * 0.01:.6f}, {i % 89 * 0.02:.6f}, -9.5), 1), "
                      f"st({i % 7 * 0.1:.6f}, {i % 5 * 0.2:.6f}))")
        out.write("),\npolygons = (polygon(0, 1, 2, 3)));\n")


def main():
    global FILTER
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    program = os.path.abspath(sys.argv[1])
    if platform.machine() not in ARCHES:
        print(f"skipped: no seccomp filter written for {platform.machine()}")
        sys.exit(77)
    FILTER = thread_filter()
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        # A texture in a format the renderer reads itself: made by a first run.
        write_scene(os.path.join(tmp, "plain.sdl"), None)
        made = run(program, ["-n", "2", "plain.sdl"], tmp, True)
        if made.returncode != 0:
            sys.exit(f"the plain scene failed: {made.stderr.decode(errors='replace')}")
        os.rename(os.path.join(tmp, "a.qrl"), os.path.join(tmp, "tex.qrl"))
        write_scene(os.path.join(tmp, "textured.sdl"), "tex.qrl")
        two = run(program, ["-n", "2", "textured.sdl"], tmp, True)
        if two.returncode != 0:
            sys.exit(f"the textured scene failed: {two.stderr.decode(errors='replace')}")
        os.rename(os.path.join(tmp, "a.qrl"), os.path.join(tmp, "two.qrl"))

        caught = run(program, ["-n", "2", "textured.sdl"], tmp, False)
        if caught.returncode == 77:
            print("skipped: a seccomp filter cannot be set here")
            sys.exit(77)
        if caught.returncode != -signal.SIGSYS:
            failures.append(f"a two-worker run under the filter ended with {caught.returncode}, "
                            "not SIGSYS: the filter does not catch threads")

        for name, args, stdin_name in (("from a file", ["-n", "1", "textured.sdl"], None),
                                       ("from standard input", ["-n", "1"], "textured.sdl"),
                                       ("plain, from a file", ["-n", "1", "plain.sdl"], None)):
            stdin = open(os.path.join(tmp, stdin_name), "rb") if stdin_name else None
            one = run(program, args, tmp, False, stdin)
            if stdin:
                stdin.close()
            if one.returncode != 0:
                failures.append(f"-n 1 {name}: status {one.returncode} "
                                f"({'a thread was made' if one.returncode == -signal.SIGSYS else one.stderr.decode(errors='replace')})")
                continue
            if stdin_name or "textured" in args[-1]:
                if not filecmp.cmp(os.path.join(tmp, "a.qrl"), os.path.join(tmp, "two.qrl"),
                                   shallow=False):
                    failures.append(f"-n 1 {name}: the image differs from the two-worker run's")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failure(s)")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
