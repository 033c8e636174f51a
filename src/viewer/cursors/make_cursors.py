#!/usr/bin/env python3
"""Writes the viewer's two hand cursors (32 x 32, monochrome) as .cur files.

'#' is black, '.' is white, anything else is transparent. Run it from this
directory after changing a drawing; the .cur files are kept beside it.
"""
import struct

OPENED = """
            ##
        ## #..###
       #..##..#..#
       #..##..#..#
        #..#..#..# #
        #..#..#..##.#
     ##  #.......#..#
    #..# #..........#
    #...##.........#
     #...#.........#
      #............#
       #..........#
       #..........#
        #........#
         #.......#
         #......#
          #.....#
          #.....#
"""

CLOSED = """



        ## ## ##
       #..#..#..##
       #........#.#
     ## #.........#
    #..##.........#
    #...#.........#
     #............#
      #...........#
       #..........#
       #.........#
        #........#
         #.......#
         #......#
          #.....#
          #.....#
"""


def cursor(art, hotspot):
    rows = art.split("\n")[1:]
    rows = (rows + [""] * 32)[:32]
    xor_rows, and_rows = [], []
    for row in rows:
        row = row.ljust(32)[:32]
        xor_bits = and_bits = 0
        for x, ch in enumerate(row):
            bit = 1 << (31 - x)
            if ch == ".":
                xor_bits |= bit
            elif ch != "#":
                and_bits |= bit
        xor_rows.append(struct.pack(">I", xor_bits))
        and_rows.append(struct.pack(">I", and_bits))
    # DIB rows are stored bottom-up.
    pixels = b"".join(reversed(xor_rows)) + b"".join(reversed(and_rows))
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 1, 0, len(pixels), 0, 0, 2, 0)
    colours = struct.pack("<II", 0x000000, 0xFFFFFF)
    image = header + colours + pixels
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 2, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    with open("hand_opened.cur", "wb") as f:
        f.write(cursor(OPENED, (13, 9)))
    with open("hand_closed.cur", "wb") as f:
        f.write(cursor(CLOSED, (13, 10)))
