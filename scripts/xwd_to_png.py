#!/usr/bin/python3
"""Cuts a rectangle out of an Xvfb frame buffer file (XWD, 32 bits a pixel)
and writes it as a PNG.
    xwd_to_png.py SCREEN.xwd OUTPUT.png X Y WIDTH HEIGHT
"""
import struct, sys, zlib
src, dst, x0, y0, w, h = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])
data = open(src, 'rb').read()
hdr = struct.unpack('>25I', data[:100])
header_size, width, height = hdr[0], hdr[4], hdr[5]
byte_order, bpp, bytes_per_line, ncolors = hdr[7], hdr[11], hdr[12], hdr[19]
if bpp != 32:
    sys.exit('unexpected depth %d' % bpp)
pixels = data[header_size + 12 * ncolors:]
x0, y0 = max(0, x0), max(0, y0)
w, h = min(w, width - x0), min(h, height - y0)
rows = bytearray()
for y in range(y0, y0 + h):
    line = pixels[y * bytes_per_line + 4 * x0: y * bytes_per_line + 4 * (x0 + w)]
    rows.append(0)
    for i in range(0, len(line), 4):
        b, g, r = (line[i], line[i + 1], line[i + 2]) if byte_order == 0 else (line[i + 3], line[i + 2], line[i + 1])
        rows += bytes((r, g, b))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) \
    + chunk(b'IDAT', zlib.compress(bytes(rows), 9)) + chunk(b'IEND', b'')
open(dst, 'wb').write(png)
