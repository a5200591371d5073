#!/usr/bin/python3
"""Converts an X window dump (the frame buffer file of Xvfb -fbdir) to PNG, cut to the
area that differs from the black root window.

  xwd2png.py SCREEN.xwd OUT.png     writes the PNG
  xwd2png.py SCREEN.xwd --check     exits 0 when something other than the root is shown
"""

import struct
import sys

from PIL import Image

FIELDS = ("header_size file_version pixmap_format pixmap_depth width height xoffset "
          "byte_order bitmap_unit bitmap_bit_order bitmap_pad bits_per_pixel bytes_per_line "
          "visual_class red_mask green_mask blue_mask bits_per_rgb colormap_entries "
          "ncolors").split()


def read_screen(path):
    with open(path, "rb") as f:
        data = f.read()
    header = dict(zip(FIELDS, struct.unpack(">20I", data[:80])))
    if header["pixmap_format"] != 2 or header["bits_per_pixel"] != 32:
        sys.exit("xwd2png: only 32-bit ZPixmap dumps are supported (Xvfb -screen ...x24)")
    start = header["header_size"] + header["ncolors"] * 12
    size = (header["width"], header["height"])
    raw = "BGRX" if header["byte_order"] == 0 else "XRGB"
    return Image.frombuffer("RGB", size, data[start:], "raw", raw, header["bytes_per_line"], 1)


def main():
    screen = read_screen(sys.argv[1])
    shown = screen.getbbox()  # the root window is black (Xvfb -br)
    if sys.argv[2] == "--check":
        sys.exit(0 if shown else 1)
    screen.crop(shown or (0, 0, *screen.size)).save(sys.argv[2])


if __name__ == "__main__":
    main()
