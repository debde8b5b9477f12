#!/usr/bin/env python3
"""Writes a large RGB PNG of flat bands cheaply: make_png.py NAME WIDTH HEIGHT.
Its file is small (the bands compress to almost nothing) while its image is
as large as asked, the kind of file that once cost a render far more memory
than the statistics showed."""
import os
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pngio import write_chunk, write_rgb_header  # noqa: E402


def main():
    name, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    with open(name, "wb") as out:
        write_rgb_header(out, width, height)
        rows = [b"\x00" + bytes(colour) * width for colour in ((200, 100, 50), (50, 100, 200))]
        compressor = zlib.compressobj(9)
        pending = b""
        for y in range(height):
            pending += compressor.compress(rows[(y * 2) // height])
            if len(pending) > 1 << 20:
                write_chunk(out, b"IDAT", pending)
                pending = b""
        write_chunk(out, b"IDAT", pending + compressor.flush())
        write_chunk(out, b"IEND", b"")


if __name__ == "__main__":
    main()
