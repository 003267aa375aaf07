#!/usr/bin/env python3
"""Writes the INTERIM clock parameter table and write-control program.

These two files stand in for the real firmware until it exists. They only
exercise the host's protocol code: the table lists one entry of every value
kind, and the "program" is a branch-to-itself followed by a marker text and a
byte pattern. It does not write flash; never send it to a real chip expecting
a result.

Usage: firmware/interim/make_interim_inputs.py   (rewrites both files here)
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# kind, parameter G, destination d0..d3
ENTRIES = [
    (0x0000, 10, (0x00, 0xFF, 0xE8, 0x00)),
    (0x0001, 100, (0x00, 0xFF, 0xE8, 0x02)),
    (0x0002, 1000, (0x00, 0xFF, 0xE8, 0x04)),
    (0x0010, 0, (0x00, 0xFF, 0xE8, 0x08)),
    (0x0011, 0, (0x00, 0xFF, 0xE8, 0x0A)),
    (0x0012, 0, (0x00, 0xFF, 0xE8, 0x0C)),
    (0x0020, 100, (0x00, 0xFF, 0xE8, 0x10)),
    (0xFFFF, 0xFFFF, (0xFF, 0xFF, 0xFF, 0xFF)),  # end of the table
]


def table():
    data = b"".join(struct.pack(">HH4B", kind, g, *dest) for kind, g, dest in ENTRIES)
    return data + b"\xff" * (512 - len(data))


def program():
    data = bytes([0x40, 0xFE])  # BRA to itself: a chip that runs this just spins
    data += b"VANTOR INTERIM WRITE-CONTROL PROGRAM: PROTOCOL TESTS ONLY, WRITES NO FLASH\0"
    n = 0
    while len(data) < 900:  # shorter than 932: the generator pads the rest
        data += bytes([(n * 37 + 11) & 0xFF])
        n += 1
    return data


def main():
    with open(os.path.join(HERE, "interim_clock_table.bin"), "wb") as f:
        f.write(table())
    with open(os.path.join(HERE, "interim_program.bin"), "wb") as f:
        f.write(program())


if __name__ == "__main__":
    main()
