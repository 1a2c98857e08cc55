#!/usr/bin/env python3
"""Builds the compiled-in firmware catalog from the images a firmware team hands over.

Input: a layout file that lists the catalog's records (images by manifest, declared empty
records, records sharing another's arrays); each manifest names the record it fills
(print group, family), its Intel HEX file, its fix bytes and optionally the plain flag and
the print and preparation codes. The builder checks everything (HEX syntax and checksums,
addresses inside the chip, descriptor bytes present and matching the stated codes, fix
bytes, duplicate records), scrambles each payload block by block with the key of the
block's start address, and writes one C++ source with the tables.

Each image's digest is computed here, once: the SHA-256 of its program bytes (flash from
address 0 to its last byte, gaps as 0xFF, unscrambled), then its fix bytes, then its
EEPROM bytes (from EEPROM address 0, gaps as 0xFF), so two HEX files that hold the same
bytes give the same digest. The tables carry it as 64 lower-case hex digits.

Any fault stops the build with "catalog_builder: error: <file>:<line>: <what>" on stderr
and exit code 1. It runs on the build host (also for cross builds) with Python 3 alone.

    catalog_builder.py --layout <catalog.layout> --base <0..255> --output <tables.cpp>
    catalog_builder.py --digest <image.manifest>     prints the image's digest
"""

import argparse
import hashlib
import os
import sys

FAMILY_COUNT = 10    # catalog columns in use
ROW_COUNT = 255      # print groups 0..254; print code 255 has no row
FIX_BYTES_MAX = 64   # the fix bytes must fit the smallest programming block (PIC18: 64 bytes)
HEX_EEPROM_BASE = 0xF00000       # PIC18 data EEPROM in a Microchip HEX file
PIC18_CONFIG_AREAS = [(0x200000, 0x200008), (0x300000, 0x300010)]  # ID locations, config
PIC24_CONFIG_AREAS = [(0x1F00000, 0x1F00030)]  # configuration words (byte address 2x0xF80000)


class Family:
    def __init__(self, name, top, reserve, unit, eeprom, descriptor, block):
        self.name = name
        self.top = top                # bootloader area starts here (device address units)
        self.reserve = reserve        # largest bootloader reserve below top (address units)
        self.unit = unit              # bytes per device address
        self.eeprom = eeprom          # data EEPROM bytes of the chip
        self.descriptor = descriptor  # payload offset of the print code; preparation follows
        self.block = block            # programming block size in bytes

    def max_payload(self):
        return (self.top - self.reserve) * self.unit


# The bootloader reserves 448 bytes from BIOS version 5 on (320 below): an image must fit
# under every bootloader of its family. The PIC18F24J10 keeps 1088 bytes, the 16-bit
# families one 256-byte block (128 addresses) below the bootloader.
# The program's own chip table is src/catalog/families.h; the generated tables assert that
# each family here agrees with its chip rows there (top, largest reserve, unit, descriptor
# offset, block), so a change to one that misses the other stops the build.
FAMILIES = {
    0: Family("PIC18F258", 0x8000, 448, 1, 256, 14, 64),
    1: Family("PIC18F2580", 0x8000, 448, 1, 256, 14, 64),
    2: Family("PIC18F2480", 0x4000, 448, 1, 256, 14, 64),
    3: Family("PIC18F248", 0x4000, 448, 1, 256, 14, 64),
    4: Family("PIC18F2320", 0x2000, 448, 1, 256, 14, 64),
    5: Family("PIC18F24J10", 0x4000, 1088, 1, 0, 14, 64),
    6: Family("dsPIC33FJ64 / PIC24HJ64", 0xA800, 128, 2, 0, 1024, 256),
    7: Family("dsPIC33FJ128 / PIC24HJ128", 0x15400, 128, 2, 0, 1024, 256),
    8: Family("PIC18F25K80", 0x8000, 448, 1, 1024, 14, 64),
    9: Family("PIC18F26K80", 0x10000, 448, 1, 1024, 14, 64),
}


class BuildError(Exception):
    def __init__(self, path, line, message):
        super().__init__(f"{path}:{line}: {message}" if line else f"{path}: {message}")


def parse_int(text, path, line, what, low, high):
    try:
        value = int(text, 0)
    except ValueError:
        raise BuildError(path, line, f"{what} '{text}' is not a number")
    if not low <= value <= high:
        raise BuildError(path, line, f"{what} {value} is outside {low}..{high}")
    return value


def read_text(path, line_of_reference, referrer):
    try:
        with open(path, "r", encoding="ascii") as f:
            return f.read().splitlines()
    except FileNotFoundError:
        raise BuildError(referrer, line_of_reference, f"file not found: {path}")
    except (OSError, UnicodeDecodeError) as e:
        raise BuildError(referrer, line_of_reference, f"cannot read {path}: {e}")


def read_hex(path, referrer, referrer_line):
    """Reads an Intel HEX file into {address: byte} with the line of every byte."""
    data = {}
    upper = 0
    ended = False
    for number, raw in enumerate(read_text(path, referrer_line, referrer), start=1):
        text = raw.strip()
        if not text:
            continue
        if ended:
            raise BuildError(path, number, "data after the end-of-file record")
        if not text.startswith(":"):
            raise BuildError(path, number, "a HEX record must start with ':'")
        digits = text[1:]
        if len(digits) % 2 or len(digits) < 10:
            raise BuildError(path, number, "malformed HEX record (odd or too short)")
        try:
            record = bytes.fromhex(digits)
        except ValueError:
            raise BuildError(path, number, "malformed HEX record (not hexadecimal)")
        count, address, kind = record[0], (record[1] << 8) | record[2], record[3]
        if len(record) != count + 5:
            raise BuildError(path, number, f"byte count {count} does not match the record")
        if sum(record) & 0xFF:
            expected = (-sum(record[:-1])) & 0xFF
            raise BuildError(path, number,
                             f"checksum error (record has {record[-1]:02X}, expected {expected:02X})")
        payload = record[4:-1]
        if kind == 0x00:
            for i, byte in enumerate(payload):
                where = upper + address + i
                if where in data:
                    raise BuildError(path, number, f"address 0x{where:X} is written twice")
                data[where] = (byte, number)
        elif kind == 0x01:
            ended = True
        elif kind == 0x02:
            if count != 2:
                raise BuildError(path, number, "extended segment address record needs 2 bytes")
            upper = ((payload[0] << 8) | payload[1]) << 4
        elif kind == 0x04:
            if count != 2:
                raise BuildError(path, number, "extended linear address record needs 2 bytes")
            upper = ((payload[0] << 8) | payload[1]) << 16
        elif kind in (0x03, 0x05):
            pass  # start address: the bootloader's own reset jump decides where to start
        else:
            raise BuildError(path, number, f"unknown HEX record type {kind:02X}")
    if not ended:
        raise BuildError(path, 0, "no end-of-file record (truncated file?)")
    return data


def split_image(path, family_index, data):
    """Splits HEX bytes into the payload (flash from 0) and the EEPROM bytes."""
    family = FAMILIES[family_index]
    flash = {}
    eeprom = {}
    config = PIC24_CONFIG_AREAS if family.unit == 2 else PIC18_CONFIG_AREAS
    for address, (byte, line) in sorted(data.items()):
        if address < family.max_payload():
            flash[address] = byte
        elif family.unit == 1 and HEX_EEPROM_BASE <= address < HEX_EEPROM_BASE + family.eeprom:
            eeprom[address - HEX_EEPROM_BASE] = byte
        elif any(low <= address < high for low, high in config):
            continue  # configuration words: no bootloader writes them
        elif address < family.top * family.unit:
            raise BuildError(path, line,
                             f"address 0x{address:X} lies in the bootloader area of the "
                             f"{family.name}: an image may fill at most "
                             f"{family.max_payload()} bytes")
        elif family.unit == 1 and HEX_EEPROM_BASE <= address < HEX_EEPROM_BASE + 0x10000:
            raise BuildError(path, line,
                             f"EEPROM address 0x{address - HEX_EEPROM_BASE:X} is beyond the "
                             f"{family.eeprom} EEPROM bytes of the {family.name}")
        else:
            raise BuildError(path, line,
                             f"address 0x{address:X} is outside the memory of the {family.name}")
    if not flash:
        raise BuildError(path, 0, "the image holds no program bytes")
    length = max(flash) + 1
    payload = bytearray(b"\xff" * length)  # gaps read as erased flash
    for address, byte in flash.items():
        payload[address] = byte
    eeprom_bytes = bytearray(b"\xff" * (max(eeprom) + 1 if eeprom else 0))
    for address, byte in eeprom.items():
        eeprom_bytes[address] = byte
    for offset in (family.descriptor, family.descriptor + 1):
        if offset not in flash:
            raise BuildError(path, 0,
                             f"descriptor byte at payload offset {offset} is missing (the "
                             f"{family.name} carries its print and preparation codes at "
                             f"{family.descriptor} and {family.descriptor + 1})")
    return bytes(payload), bytes(eeprom_bytes)


def scramble(payload, family_index, base):
    """XOR each block with the key of its start address: base + low byte of the device
    address (in address units) where the block starts, modulo 256."""
    family = FAMILIES[family_index]
    out = bytearray(payload)
    for start in range(0, len(out), family.block):
        key = (base + ((start // family.unit) & 0xFF)) & 0xFF
        for i in range(start, min(start + family.block, len(out))):
            out[i] ^= key
    return bytes(out)


class Record:
    def __init__(self, group, family, source, line):
        self.group, self.family, self.source, self.line = group, family, source, line
        self.payload = b"\x00"      # a declared empty record: one zero byte, length 1
        self.fix = b""
        self.eeprom = b""
        self.plain = 0
        self.codes = None           # (print, preparation) when the manifest states them
        self.share_of = None
        self.digest = ""            # images only: image_digest() of the delivered bytes


def image_digest(program, fix, eeprom):
    """The image's SHA-256 over its delivered bytes: program, fix, EEPROM, in this order."""
    return hashlib.sha256(bytes(program) + bytes(fix) + bytes(eeprom)).hexdigest()


def parse_manifest(path, referrer, referrer_line, base):
    values = {}
    for number, raw in enumerate(read_text(path, referrer_line, referrer), start=1):
        text = raw.split("#", 1)[0].strip()
        if not text:
            continue
        if "=" not in text:
            raise BuildError(path, number, "expected 'key = value'")
        key, value = (part.strip() for part in text.split("=", 1))
        if key not in ("record", "hex", "fix", "plain", "print_code", "preparation_code"):
            raise BuildError(path, number, f"unknown key '{key}'")
        if key in values:
            raise BuildError(path, number, f"'{key}' is given twice")
        values[key] = (value, number)
    for key in ("record", "hex", "fix"):
        if key not in values:
            raise BuildError(path, 0, f"'{key}' is missing")

    value, number = values["record"]
    fields = value.split()
    if len(fields) != 2:
        raise BuildError(path, number, "record needs a print group and a family")
    group = parse_int(fields[0], path, number, "print group", 0, ROW_COUNT - 1)
    family_index = parse_int(fields[1], path, number, "family", 0, FAMILY_COUNT - 1)
    record = Record(group, family_index, path, number)
    family = FAMILIES[family_index]

    value, number = values["fix"]
    fix = [parse_int(f"0x{b}", path, number, "fix byte", 0, 255) for b in value.split()]
    if not 1 <= len(fix) <= FIX_BYTES_MAX:
        raise BuildError(path, number, f"1 to {FIX_BYTES_MAX} fix bytes expected, got {len(fix)}")
    record.fix = bytes(fix)

    if "plain" in values:
        value, number = values["plain"]
        record.plain = parse_int(value, path, number, "plain flag", 0, 1)

    has_print, has_preparation = "print_code" in values, "preparation_code" in values
    if has_print != has_preparation:
        raise BuildError(path, 0, "print_code and preparation_code go together")

    value, number = values["hex"]
    hex_path = os.path.join(os.path.dirname(path), value)
    payload, eeprom = split_image(hex_path, family_index, read_hex(hex_path, path, number))
    if len(payload) < 2:
        raise BuildError(hex_path, 0, "an image needs at least 2 bytes")
    record.eeprom = eeprom

    if has_print:
        stated = []
        for key in ("print_code", "preparation_code"):
            value, number = values[key]
            stated.append(parse_int(value, path, number, key.replace("_", " "), 0, 255))
        carried = (payload[family.descriptor], payload[family.descriptor + 1])
        if tuple(stated) != carried:
            raise BuildError(path, values["print_code"][1],
                             f"codes {stated[0]:#04x}/{stated[1]:#04x} differ from the image's "
                             f"descriptor bytes {carried[0]:#04x}/{carried[1]:#04x}")
        record.codes = tuple(stated)

    record.digest = image_digest(payload, record.fix, eeprom)
    record.payload = payload if record.plain else scramble(payload, family_index, base)
    return record


def parse_layout(path, base):
    records = {}

    def add(record):
        key = (record.group, record.family)
        if key in records:
            first = records[key]
            raise BuildError(record.source, record.line,
                             f"record {key[0]} {key[1]} is already declared at "
                             f"{first.source}:{first.line}")
        records[key] = record

    for number, raw in enumerate(read_text(path, 0, path), start=1):
        fields = raw.split("#", 1)[0].split()
        if not fields:
            continue
        verb, args = fields[0], fields[1:]
        if verb == "image" and len(args) == 1:
            add(parse_manifest(os.path.join(os.path.dirname(path), args[0]), path, number, base))
        elif verb == "empty" and len(args) == 2:
            group = parse_int(args[0], path, number, "print group", 0, ROW_COUNT - 1)
            family = parse_int(args[1], path, number, "family", 0, FAMILY_COUNT - 1)
            add(Record(group, family, path, number))
        elif verb == "share" and len(args) == 4:
            group = parse_int(args[0], path, number, "print group", 0, ROW_COUNT - 1)
            family = parse_int(args[1], path, number, "family", 0, FAMILY_COUNT - 1)
            record = Record(group, family, path, number)
            record.share_of = (parse_int(args[2], path, number, "print group", 0, ROW_COUNT - 1),
                               parse_int(args[3], path, number, "family", 0, FAMILY_COUNT - 1))
            if record.share_of[1] != family:
                raise BuildError(path, number, "a record can share only within its family")
            add(record)
        else:
            raise BuildError(path, number,
                             "expected 'image <manifest>', 'empty <group> <family>' or "
                             "'share <group> <family> <group> <family>'")
    for record in records.values():
        if record.share_of is not None:
            source = records.get(record.share_of)
            if source is None or source.share_of is not None:
                raise BuildError(record.source, record.line,
                                 f"record {record.share_of[0]} {record.share_of[1]} to share "
                                 "is not declared as an image or an empty record")
    return records


def c_array(name, data):
    lines = [f"const std::uint8_t {name}[{max(len(data), 1)}] = {{"]
    for start in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02X}" for b in data[start:start + 16]) + ",")
    lines.append("};")
    return "\n".join(lines)


def generate(records, base, layout):
    arrays = []      # (name, bytes) in the order they are emitted
    empty_index = None

    def add_array(data):
        arrays.append((f"kArray{len(arrays)}", data))
        return len(arrays) - 1

    # Every image gets its own arrays; the declared empty records share one zero byte;
    # a sharing record refers to the arrays of the record it repeats.
    indices = {}
    for key, record in sorted(records.items()):
        if record.share_of is not None:
            continue
        if record.fix:
            payload = add_array(record.payload)
            fix = add_array(record.fix)
            eeprom = add_array(record.eeprom) if record.eeprom else -1
        else:
            if empty_index is None:
                empty_index = add_array(b"\x00")
            payload, fix, eeprom = empty_index, -1, -1
        indices[key] = (payload, fix, eeprom)
    rows = []
    for key, record in sorted(records.items()):
        source_key = record.share_of if record.share_of is not None else key
        rows.append((record, (indices[source_key], records[source_key])))

    out = ["// Generated by tools/catalog_builder/catalog_builder.py from "
           f"{os.path.basename(layout)}: do not edit.",
           "// Payloads are stored scrambled (unless plain); fix and EEPROM bytes as given.",
           '#include "catalog/catalog_tables.h"',
           '#include "catalog/families.h"',
           "",
           "namespace quillon::catalog {",
           "namespace {",
           ""]
    for name, data in arrays:
        out.append(c_array(name, data))
        out.append("")
    out.append("const ImageArray kArrays[] = {")
    for name, data in arrays:
        out.append(f"    {{{name}, {len(data)}}},")
    out.append("};")
    out.append("")
    out.append("const RecordDefinition kRecords[] = {")
    for record, ((payload, fix, eeprom), source) in rows:
        has_codes = source.codes is not None
        print_code, preparation_code = source.codes if has_codes else (0, 0)
        out.append(f"    {{{record.group}, {record.family}, {payload}, {len(source.payload)}, "
                   f"{fix}, {len(source.fix)}, {eeprom}, {len(source.eeprom)}, {source.plain}, "
                   f"{'true' if has_codes else 'false'}, 0x{print_code:02X}, "
                   f"0x{preparation_code:02X}, \"{source.digest}\"}},")
    out.append("};")
    out.append("")
    out.append("}  // namespace")
    out.append("")
    out.append(f"static_assert(kScrambleBase == 0x{base:02X}, "
               '"the catalog tables were scrambled with another key base");')
    out.append("")
    out.append("// The builder's family table against the program's chip rows (catalog/families.h).")
    out.append(f"static_assert(kFamiliesInUse == {FAMILY_COUNT}, "
               '"catalog_builder.py and catalog/families.h count different families");')
    for index, family in sorted(FAMILIES.items()):
        out.append(f"static_assert(BuilderFamilyAgrees({index}, 0x{family.top:X}, {family.reserve}, "
                   f"{family.unit}, {family.descriptor}, {family.block}),")
        out.append(f'              "catalog_builder.py: family {index} ({family.name}) differs from '
                   'its chip rows in catalog/families.h");')
    out.append("")
    out.append("CatalogDefinition BuildCatalog() { return {kArrays, kRecords}; }")
    out.append("")
    out.append("}  // namespace quillon::catalog")
    return "\n".join(out) + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description="Builds the compiled-in firmware catalog.")
    parser.add_argument("--digest", metavar="MANIFEST",
                        help="print the digest of one image and build nothing")
    parser.add_argument("--layout")
    parser.add_argument("--base", help="scramble key base, 0..255")
    parser.add_argument("--output")
    args = parser.parse_args(argv)
    if args.digest:
        try:
            print(parse_manifest(args.digest, args.digest, 0, 0).digest)
        except BuildError as e:
            sys.stderr.write(f"catalog_builder: error: {e}\n")
            return 1
        return 0
    if not (args.layout and args.base and args.output):
        parser.error("--layout, --base and --output are needed to build the tables")
    try:
        base = parse_int(args.base, "--base", 0, "scramble base", 0, 255)
        records = parse_layout(args.layout, base)
        text = generate(records, base, args.layout)
    except BuildError as e:
        sys.stderr.write(f"catalog_builder: error: {e}\n")
        return 1
    temporary = args.output + ".tmp"
    with open(temporary, "w", newline="\n") as f:
        f.write(text)
    os.replace(temporary, args.output)  # never leave a half-written table behind
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
