#!/usr/bin/env python3
"""Fails naming every C and C++ file under src/, tests/, bench/ and tools/
that clang-format would change under the repository's .clang-format.

usage: check_format.py SOURCE_DIR CLANG_FORMAT

The tree is kept formatted by clang-format 14, the version Debian 12 ships.
Other major versions lay some constructs out differently, so with one of them
(or with none installed) the check is skipped, exit status 77, saying why,
rather than failed.
"""
import os
import re
import subprocess
import sys

FOLDERS = ("src", "tests", "bench", "tools")
EXTENSIONS = (".c", ".cc", ".cpp", ".h", ".hpp")
VERSION = 14
SKIP = 77
VIOLATION = re.compile(r"^(.+?):\d+:\d+: (?:warning|error): code should be clang-formatted")


def sources(root):
    found = []
    for folder in FOLDERS:
        for directory, subdirectories, files in os.walk(os.path.join(root, folder)):
            subdirectories.sort()
            found += [os.path.join(directory, f) for f in sorted(files) if f.endswith(EXTENSIONS)]
    return found


def major_version(program):
    try:
        text = subprocess.run([program, "--version"], capture_output=True, text=True).stdout
    except OSError:
        return None
    match = re.search(r"version (\d+)\.", text)
    return int(match.group(1)) if match else None


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    root, program = os.path.abspath(sys.argv[1]), sys.argv[2]
    version = major_version(program)
    if version is None:
        print(f"skipped: no clang-format at '{program}' (tools/setup installs it)")
        return SKIP
    if version != VERSION:
        print(f"skipped: {program} is clang-format {version}; the tree is formatted by "
              f"clang-format {VERSION}")
        return SKIP
    files = sources(root)
    done = subprocess.run([program, "--dry-run", "--Werror", "--style=file"] + files,
                          cwd=root, capture_output=True, text=True)
    unformatted = sorted({os.path.relpath(os.path.join(root, m.group(1)), root)
                          for m in map(VIOLATION.match, done.stderr.splitlines()) if m})
    if done.returncode != 0 and not unformatted:
        print(done.stderr, file=sys.stderr)
        return 1
    if unformatted:
        print(f"{len(unformatted)} of {len(files)} files differ from .clang-format:")
        for name in unformatted:
            print("  " + name)
        print("format them with: clang-format -i " + " ".join(unformatted))
        return 1
    print(f"{len(files)} files formatted as .clang-format says")
    return 0


if __name__ == "__main__":
    sys.exit(main())
