"""Reading and writing 8-bit PNG files without libraries beyond zlib, for
the tools and tests that look at rendered pictures."""
import struct
import zlib


def read_png(name):
    """The rows of an 8-bit PNG, top first, each a list of (r, g, b)."""
    data = open(name, "rb").read()
    pos, chunks, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            channels = {2: 3, 6: 4, 0: 1, 4: 2}[colour]
        elif kind == b"IDAT":
            chunks += body
        pos += 12 + length
    raw, stride, rows, previous = zlib.decompress(chunks), width * channels, [], None
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = previous[x] if previous else 0
            c = previous[x - channels] if previous and x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) if channels >= 3 else
                     (line[x * channels],) * 3 for x in range(width)])
        previous = line
    return rows


def write_chunk(out, kind, data):
    """One PNG chunk: length, kind, data and the CRC of kind and data."""
    out.write(struct.pack(">I", len(data)) + kind + data)
    out.write(struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_rgb_header(out, width, height):
    """The signature and the header of an 8-bit RGB PNG."""
    out.write(b"\x89PNG\r\n\x1a\n")
    write_chunk(out, b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))


def write_png(name, rows):
    """Writes rows of (r, g, b) tuples, top first, as an RGB PNG."""
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in rows)
    with open(name, "wb") as out:
        write_rgb_header(out, width, height)
        write_chunk(out, b"IDAT", zlib.compress(raw, 9))
        write_chunk(out, b"IEND", b"")
