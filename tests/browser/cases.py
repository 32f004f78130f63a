"""GIF files made byte by byte, one for each composition rule a browser
follows: written here rather than by an image library, which would never write
most of them (junk between blocks, an image of no pixels, indices past the
table, a transparent index past the table)."""
import os
import struct


def lzw(indices, min_code_size):
    """Codes for `indices` that a decoder reads back exactly: every pixel a
    literal, with a clear code before the code width would grow."""
    clear = 1 << min_code_size
    width = min_code_size + 1
    codes = [clear]
    run = 0
    for v in indices:
        if run == clear - 2:
            codes.append(clear)
            run = 0
        codes.append(v)
        run += 1
    codes.append(clear + 1)
    out, acc, bits = bytearray(), 0, 0
    for c in codes:
        acc |= c << bits
        bits += width
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8
    if bits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out) + b"\0"


def table(colours, size_field):
    entries = 2 << size_field
    flat = bytearray()
    for c in list(colours)[:entries] + [(0, 0, 0)] * (entries - len(colours)):
        flat += bytes(c)
    return bytes(flat)


PALETTE = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (0, 255, 255),
           (255, 0, 255), (255, 255, 255)]


def header(w, h, global_colours=PALETTE, size_field=2, background=0):
    flags = 0x80 | 0x70 | size_field if global_colours is not None else 0
    out = b"GIF89a" + struct.pack("<HHBBB", w, h, flags, background, 0)
    if global_colours is not None:
        out += table(global_colours, size_field)
    return out


def control(disposal=0, transparent=None, delay=10):
    flags = (disposal << 2) | (1 if transparent is not None else 0)
    return b"\x21\xF9\x04" + struct.pack("<BHB", flags, delay, transparent or 0) + b"\0"


def image(left, top, w, h, pixels, local=None, size_field=2, interlaced=False, code_size=None):
    flags = (0x40 if interlaced else 0) | ((0x80 | size_field) if local is not None else 0)
    out = b"\x2C" + struct.pack("<HHHHB", left, top, w, h, flags)
    if local is not None:
        out += table(local, size_field)
    if interlaced:
        rows = [pixels[r * w:(r + 1) * w] for r in range(h)]
        order = (list(range(0, h, 8)) + list(range(4, h, 8)) + list(range(2, h, 4)) +
                 list(range(1, h, 2)))
        pixels = [v for r in order for v in rows[r]]
    m = code_size or max(2, size_field + 1)
    return out + bytes([m]) + sub_blocks(lzw(pixels, m))


def fill(w, h, f):
    return [f(x, y) for y in range(h) for x in range(w)]


def stripes(w, h, k=0):
    return fill(w, h, lambda x, y: (x + y + k) % 8)


def cases():
    c = {}
    t = b"\x3B"
    c["partial-first-frame"] = (header(16, 12) + control() + image(3, 2, 6, 5, stripes(6, 5)) +
                                control() + image(8, 6, 5, 4, stripes(5, 4, 3)) + t)
    c["first-frame-past-screen"] = (header(8, 8) + control() + image(4, 3, 10, 9, stripes(10, 9)) +
                                    control() + image(0, 0, 4, 4, stripes(4, 4, 1)) + t)
    c["later-frame-past-screen"] = (header(10, 10) + image(0, 0, 10, 10, stripes(10, 10)) +
                                    image(7, 6, 8, 8, stripes(8, 8, 5)) + t)
    c["disposal-2"] = (header(12, 12, background=4) +
                       control(2) + image(0, 0, 12, 12, stripes(12, 12)) +
                       control(2, transparent=1) + image(2, 2, 6, 6, stripes(6, 6, 1)) +
                       control(0) + image(5, 5, 4, 4, stripes(4, 4, 2)) +
                       control(2) + image(8, 1, 3, 3, stripes(3, 3, 3)) + image(1, 8, 3, 3, [5] * 9) + t)
    c["disposal-3"] = (header(12, 12) +
                       control(3) + image(1, 1, 5, 5, stripes(5, 5)) +
                       control(1) + image(0, 0, 12, 12, stripes(12, 12, 2)) +
                       control(3) + image(3, 3, 6, 6, [1] * 36) +
                       control(3, transparent=2) + image(2, 2, 8, 8, stripes(8, 8, 4)) +
                       control(0) + image(6, 6, 4, 4, [3] * 16) + t)
    c["transparency"] = (header(10, 10) + image(0, 0, 10, 10, stripes(10, 10)) +
                         control(1, transparent=3) + image(0, 0, 10, 10, stripes(10, 10, 1)) +
                         control(1, transparent=5) +
                         image(2, 2, 6, 6, stripes(6, 6), local=PALETTE[::-1], size_field=2) +
                         # the control before an image only: the next one is opaque
                         image(4, 4, 4, 4, [3] * 16) + t)
    c["transparent-index-past-table"] = (header(8, 8, size_field=1) +
                                         control(1, transparent=6) +
                                         image(0, 0, 8, 8, fill(8, 8, lambda x, y: (x * y) % 8),
                                               size_field=1, code_size=3) + t)
    c["indices-past-table"] = (header(8, 8, size_field=1) +
                               image(0, 0, 8, 8, fill(8, 8, lambda x, y: (x + 2 * y) % 8),
                                     code_size=3) +
                               image(2, 2, 4, 4, [7] * 16, local=PALETTE[:2], size_field=0,
                                     code_size=3) + t)
    c["junk-between-blocks"] = (header(8, 8) + image(0, 0, 8, 8, stripes(8, 8)) +
                                image(2, 2, 4, 4, [1] * 16) + b"\x00\x42" +
                                image(0, 0, 8, 8, [2] * 64) + t)
    c["zero-size-image"] = (header(8, 8) + control(0) + image(0, 0, 8, 8, stripes(8, 8)) +
                            control(2) + image(2, 2, 4, 4, [1] * 16) +
                            control(0) + image(3, 3, 0, 0, []) +
                            image(1, 1, 3, 3, [4] * 9) + t)
    for h in (1, 2, 3, 5, 8, 9, 13):
        c[f"interlaced-{h}"] = (header(7, h) + image(0, 0, 7, h, stripes(7, h), interlaced=True) +
                                image(1, 0, 4, h, fill(4, h, lambda x, y: y % 8),
                                      interlaced=True) + t)
    c["local-tables"] = (header(8, 8, global_colours=None) +
                         image(0, 0, 8, 8, stripes(8, 8), local=PALETTE) +
                         image(0, 0, 4, 8, stripes(4, 8, 1), local=PALETTE[::-1]) +
                         image(4, 0, 4, 8, fill(4, 8, lambda x, y: y % 4),
                               local=[(9, 99, 199), (1, 2, 3), (250, 128, 7), (77, 77, 77)],
                               size_field=1) + t)
    c["background-index-never-painted"] = (header(9, 9, background=6) +
                                           image(3, 3, 3, 3, [2] * 9) +
                                           control(2) + image(0, 0, 9, 9, stripes(9, 9)) +
                                           image(4, 4, 2, 2, [1] * 4) + t)
    return c


def write_all(folder):
    os.makedirs(folder, exist_ok=True)
    paths = []
    for name, data in cases().items():
        path = os.path.join(folder, name + ".gif")
        with open(path, "wb") as f:
            f.write(data)
        paths.append(path)
    return paths


if __name__ == "__main__":
    import sys
    print("\n".join(write_all(sys.argv[1])))
