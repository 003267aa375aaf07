#!/usr/bin/env python3
"""Makes the 512-byte clock parameter table of the write-control program.

    make_clock_table.py <entries.txt> <nm-output.txt> <clock_table.bin>

<entries.txt> lists "kind G label[+n] [comment]" lines (firmware/clock_table.txt);
<nm-output.txt> is what h8300-hms-nm prints for the linked program. Each entry
becomes 8 bytes: kind and G as big-endian 16-bit numbers, then the offset of
label+n from the program's first byte (_start) as d0..d3, big-endian. An
entry of kind 0xFFFF ends the table, and the rest is filled with 0xFF.

The script refuses a destination outside the program's parameter block
(parameters .. parameters_end), a value that would leave its 256-byte window
(the host does not carry into d2), and a kind it does not know.
"""
import re
import struct
import sys

TABLE_SIZE = 512
ENTRY_SIZE = 8
VALUE_BYTES = {0: 1, 1: 2, 2: 4, 16: 1, 17: 2, 18: 4, 32: 1}


def read_symbols(path):
    symbols = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3:
                symbols[parts[2]] = int(parts[0], 16)
    return symbols


def parse_entries(path, symbols):
    entries = []
    base = symbols["_start"]
    low, high = symbols["parameters"] - base, symbols["parameters_end"] - base
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            kind, g = int(fields[0], 0), int(fields[1], 0)
            match = re.fullmatch(r"([A-Za-z_.$][\w.$]*)(?:\+(\d+))?", fields[2])
            if kind not in VALUE_BYTES or not match or match.group(1) not in symbols:
                sys.exit(f"{path}:{number}: bad entry: {line}")
            offset = symbols[match.group(1)] - base + int(match.group(2) or 0)
            size = VALUE_BYTES[kind]
            if offset < low or offset + size > high:
                sys.exit(f"{path}:{number}: {fields[2]} is outside the parameter block")
            if (offset & 0xFF) + size > 0x100:
                sys.exit(f"{path}:{number}: {fields[2]} crosses a 256-byte window")
            entries.append(struct.pack(">HHI", kind, g, offset))
    return entries


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    entries = parse_entries(sys.argv[1], read_symbols(sys.argv[2]))
    if len(entries) >= TABLE_SIZE // ENTRY_SIZE:
        sys.exit("too many entries")
    table = b"".join(entries) + struct.pack(">HHI", 0xFFFF, 0xFFFF, 0xFFFFFFFF)
    table += b"\xff" * (TABLE_SIZE - len(table))
    with open(sys.argv[3], "wb") as f:
        f.write(table)


if __name__ == "__main__":
    main()
