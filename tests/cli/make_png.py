#!/usr/bin/env python3
"""Writes a large RGB PNG of flat bands cheaply: make_png.py NAME WIDTH HEIGHT.
Its file is small (the bands compress to almost nothing) while its image is
as large as asked, the kind of file that once cost a render far more memory
than the statistics showed."""
import struct
import sys
import zlib


def main():
    name, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    with open(name, "wb") as out:
        def chunk(kind, data):
            out.write(struct.pack(">I", len(data)) + kind + data)
            out.write(struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

        out.write(b"\x89PNG\r\n\x1a\n")
        chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
        rows = [b"\x00" + bytes(colour) * width for colour in ((200, 100, 50), (50, 100, 200))]
        compressor = zlib.compressobj(9)
        pending = b""
        for y in range(height):
            pending += compressor.compress(rows[(y * 2) // height])
            if len(pending) > 1 << 20:
                chunk(b"IDAT", pending)
                pending = b""
        chunk(b"IDAT", pending + compressor.flush())
        chunk(b"IEND", b"")


if __name__ == "__main__":
    main()
