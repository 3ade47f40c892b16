#!/usr/bin/env python3
"""Fails unless a file is an uncompressed bottom-up 24-bit BMP of the given size.

ImageMagick quietly writes a larger header, or fewer bits for a picture with
few colours, unless told exactly; so every rendered bitmap is checked.
"""

import struct
import sys


def check(path, width, height):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        return "not a BMP"
    file_size, _, offset, header = struct.unpack_from("<IIII", data, 2)
    w, h, planes, bits, compression, image_size = struct.unpack_from("<iiHHII", data, 18)
    stride = (w * 3 + 3) // 4 * 4
    faults = []
    if header != 40:
        faults.append(f"header size {header}, not 40")
    if (w, h) != (width, height):
        faults.append(f"{w} x {h}, not {width} x {height}")
    if planes != 1 or bits != 24 or compression != 0:
        faults.append(f"planes {planes}, bits {bits}, compression {compression}")
    if offset != 54 or file_size != len(data) or len(data) < offset + stride * abs(h):
        faults.append(f"offset {offset}, declared size {file_size}, actual size {len(data)}")
    if image_size not in (0, stride * abs(h)):
        faults.append(f"image size {image_size}")
    return "; ".join(faults)


if __name__ == "__main__":
    fault = check(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
    if fault:
        sys.exit(f"{sys.argv[1]}: {fault}")
