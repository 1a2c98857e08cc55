#!/usr/bin/env python3
"""Writes the demonstration firmware images of this build as Intel HEX files.

The images stand in for what a firmware team hands over: deterministic, plausible
programs for the two chips this build carries (a PIC18F26K80 image with a data-EEPROM
table, a dsPIC33FJ64 / PIC24HJ64 image), with the print and preparation codes at the
descriptor offsets the updater reads. The outputs are committed under
src/catalog/images/; run this again only to regenerate them:

    python3 tools/catalog_builder/make_images.py src/catalog/images
"""

import os
import sys

HEX_RECORD_BYTES = 16          # data bytes per HEX line, as the Microchip toolchains write them
PIC18_EEPROM_HEX_BASE = 0xF00000  # where PIC18 toolchains place the data EEPROM in a HEX file

K80_PAYLOAD_BYTES = 7402
K80_EEPROM_BYTES = 1024
K80_PRINT_CODE = 0x00        # states no print: suits every board
K80_PREPARATION_CODE = 0x01  # CAN+SPI

HJ64_PAYLOAD_BYTES = 34500   # 8625 instructions of four bytes (three plus the phantom byte)
HJ64_PRINT_CODE = 0x03       # ZRA_R03
HJ64_PREPARATION_CODE = 0x84  # CAN, RES preparation


class Lcg:
    """A tiny deterministic generator (Numerical Recipes constants), so the images never
    depend on the Python version's random module."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (1664525 * self.state + 1013904223) & 0xFFFFFFFF
        return self.state >> 8


def pic18_goto(byte_address):
    """Two-word GOTO of the PIC18, little-endian bytes."""
    k = byte_address >> 1
    return bytes([k & 0xFF, 0xEF, (k >> 8) & 0xFF, 0xF0 | ((k >> 16) & 0x0F)])


def pic18_word(rng):
    """One plausible PIC18 instruction word."""
    kind = rng.next() % 8
    f = rng.next() & 0xFF
    if kind == 0:
        word = 0x0E00 | f                         # MOVLW k
    elif kind == 1:
        word = 0x6E00 | f                         # MOVWF f, ACCESS
    elif kind == 2:
        word = 0x8000 | ((rng.next() % 8) << 9) | f  # BSF f, b
    elif kind == 3:
        word = 0x9000 | ((rng.next() % 8) << 9) | f  # BCF f, b
    elif kind == 4:
        word = 0x5000 | f                         # MOVF f, W
    elif kind == 5:
        word = 0x2800 | f                         # INCF f, W
    elif kind == 6:
        word = 0xE000 | (rng.next() % 0x500)      # conditional branch
    else:
        word = 0x0012                             # RETURN
    return bytes([word & 0xFF, word >> 8])


def make_k80():
    image = bytearray(b"\xff" * K80_PAYLOAD_BYTES)
    image[0:4] = pic18_goto(0x0040)          # reset vector -> start-up code
    image[4:8] = bytes(4)                     # NOP NOP
    image[8:12] = pic18_goto(0x0400)          # high-priority interrupt
    image[12:14] = bytes(2)                   # NOP
    image[14] = K80_PRINT_CODE                # descriptor: print code
    image[15] = K80_PREPARATION_CODE          # descriptor: preparation code
    image[16:24] = bytes(8)                   # NOPs up to the low-priority vector
    image[24:28] = pic18_goto(0x0600)         # low-priority interrupt
    text = b"QUILLON K80 01.02.02.04\0"
    image[28:28 + len(text)] = text           # identification text below the code
    rng = Lcg(0x26080)
    for offset in range(0x40, K80_PAYLOAD_BYTES, 2):
        image[offset:offset + 2] = pic18_word(rng)
    image[K80_PAYLOAD_BYTES - 2:] = bytes([0x12, 0x00])  # ends with RETURN

    eeprom = bytearray(b"\xff" * K80_EEPROM_BYTES)
    settings = b"QK80" + bytes([1, 2, 2, 4])  # layout tag and release
    eeprom[0:len(settings)] = settings
    rng = Lcg(0xEE80)
    for index in range(16, 256):              # calibration table
        eeprom[index] = rng.next() & 0xFF
    return bytes(image), bytes(eeprom)


def make_hj64():
    rng = Lcg(0x24064)
    instructions = []
    instructions.append(0x040200)             # GOTO 0x200
    instructions.append(0x000000)             #   (upper address bits)
    for _ in range(2, 0x100 // 2):            # interrupt vectors -> default handler 0x300
        instructions.append(0x000300)
    instructions.append(0x000000)             # 0x100: reserved
    instructions.append(0x000000)             # 0x102: reserved
    for _ in range(0x104 // 2, 0x200 // 2):   # alternate vectors
        instructions.append(0x000300)
    # 0x200: descriptor word: print code, preparation code; executes as a NOP.
    instructions.append(HJ64_PRINT_CODE | (HJ64_PREPARATION_CODE << 8))
    opcodes = [0x200000, 0x880000, 0x780000, 0x400000, 0xA80000, 0xA90000, 0x070000, 0x060000]
    while len(instructions) < HJ64_PAYLOAD_BYTES // 4 - 1:
        base = opcodes[rng.next() % len(opcodes)]
        instructions.append(base | (rng.next() & 0xFFFF))
    instructions.append(0x060000)             # RETURN
    image = bytearray()
    for word in instructions:
        image += bytes([word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF, 0x00])
    assert len(image) == HJ64_PAYLOAD_BYTES
    return bytes(image)


def hex_line(record_type, address, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, record_type]) + data
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper()


def hex_file(regions):
    """regions: list of (start address, bytes). Extended linear address records are
    written whenever the upper 16 bits change."""
    lines = []
    upper = None
    for start, data in regions:
        for offset in range(0, len(data), HEX_RECORD_BYTES):
            address = start + offset
            if address >> 16 != upper:
                upper = address >> 16
                lines.append(hex_line(4, 0, bytes([upper >> 8, upper & 0xFF])))
            lines.append(hex_line(0, address & 0xFFFF, data[offset:offset + HEX_RECORD_BYTES]))
    lines.append(hex_line(1, 0, b""))
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_images.py <output directory>\n")
        return 2
    out = argv[1]
    k80, eeprom = make_k80()
    with open(os.path.join(out, "k80_default.hex"), "w", newline="\n") as f:
        f.write(hex_file([(0, k80), (PIC18_EEPROM_HEX_BASE, eeprom)]))
    with open(os.path.join(out, "hj64_default.hex"), "w", newline="\n") as f:
        f.write(hex_file([(0, make_hj64())]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
