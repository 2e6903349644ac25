#!/usr/bin/python3
"""Checks PNG files against the samples they should hold, with readers that share no code with the writer or with
Qt: pngcheck, PIL, and a plain decoder here (zlib and the five row filters written out, slow and obviously right).

    png_readers.py FOLDER

Each FOLDER/NAME.png is checked against FOLDER/NAME.samples: its rows' samples in the file's order (grey, or red,
green, blue), 16-bit ones high byte first. PIL gives 16-bit colour as 8 bits a channel, the high bytes, so that is
what it is held to there. Exit status 0 when all agree, 1 otherwise, 77 when pngcheck or PIL is missing.
"""
import glob
import os
import shutil
import struct
import subprocess
import sys
import zlib

try:
    from PIL import Image
except ImportError:
    Image = None


def chunks(data):
    """(type, body) of each chunk, after checking the signature and every CRC."""
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('no PNG signature')
    at = 8
    while at < len(data):
        length, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if zlib.crc32(kind + body) != struct.unpack('>I', data[at + 8 + length:at + 12 + length])[0]:
            raise ValueError('bad CRC in %s' % kind.decode())
        yield kind, body
        at += 12 + length


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def plain_decode(data):
    """The samples of a non-interlaced 8- or 16-bit grey or RGB PNG, row after row, its bits a sample, colour type,
    width and height."""
    found = list(chunks(data))
    width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', found[0][1])
    if found[0][0] != b'IHDR' or found[-1][0] != b'IEND' or interlace or colour not in (0, 2) or depth not in (8, 16):
        raise ValueError('not the layout the writer makes')
    raw = zlib.decompress(b''.join(body for kind, body in found if kind == b'IDAT'))
    bpp = (1 if colour == 0 else 3) * depth // 8
    stride = width * bpp
    if len(raw) != height * (stride + 1):
        raise ValueError('%d bytes of rows, not %d' % (len(raw), height * (stride + 1)))
    samples, above = bytearray(), bytearray(stride)
    for y in range(height):
        kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - bpp] if i >= bpp else 0
            c = above[i - bpp] if i >= bpp else 0
            b = above[i]
            predicted = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
            row[i] = (row[i] + predicted) & 0xFF
        samples += row
        above = row
    return bytes(samples), depth, colour, width, height


def check(png, expected):
    """What is wrong with the file, or nothing."""
    done = subprocess.run(['pngcheck', '-q', png], capture_output=True, text=True)
    if done.returncode != 0:
        return 'pngcheck: ' + (done.stdout + done.stderr).strip()
    data = open(png, 'rb').read()
    try:
        samples, depth, colour, _, _ = plain_decode(data)
    except (ValueError, zlib.error) as error:
        return 'the plain decoder: %s' % error
    if samples != expected:
        return 'the plain decoder gives other samples'
    pil = Image.open(png).tobytes()
    if pil != (expected[::2] if depth == 16 and colour == 2 else expected):
        return 'PIL gives other samples'
    return None


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    if shutil.which('pngcheck') is None or Image is None:
        print('png_readers.py: needs pngcheck and PIL (Debian packages pngcheck, python3-pil)', file=sys.stderr)
        return 77
    failures = 0
    for png in sorted(glob.glob(os.path.join(sys.argv[1], '*.png'))):
        expected = open(os.path.splitext(png)[0] + '.samples', 'rb').read()
        problem = check(png, expected)
        if problem:
            print('%s: %s' % (os.path.basename(png), problem), file=sys.stderr)
            failures += 1
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
