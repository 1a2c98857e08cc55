#!/usr/bin/env python3
"""Feeds the catalog builder broken inputs and checks that the build stops with a clear
message naming the file (and line) at fault, and writes no table. Usage:
    builder_errors_test.py <catalog_builder.py>"""

import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

BUILDER = None


def hex_line(kind, address, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + bytes(data)
    return ":" + (body + bytes([(-sum(body)) & 0xFF])).hex().upper()


def pic18_image(length=64, print_code=0x05, preparation=0x07):
    data = bytearray(range(length))
    data[14], data[15] = print_code, preparation
    return [hex_line(0, a, data[a:a + 16]) for a in range(0, length, 16)]


END = hex_line(1, 0, b"")


class BuilderErrors(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = self.dir.name
        self.output = os.path.join(self.path, "tables.cpp")

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, lines):
        with open(os.path.join(self.path, name), "w") as f:
            f.write("\n".join(lines) + "\n")
        return os.path.join(self.path, name)

    def manifest(self, name="a.manifest", hex_name="a.hex", record="0 1", extra=()):
        return self.write(name, [f"record = {record}", f"hex = {hex_name}",
                                 "fix = 01 02 03 04 05 06 07 08", *extra])

    def run_builder(self, layout_lines):
        layout = self.write("catalog.layout", layout_lines)
        return subprocess.run([sys.executable, BUILDER, "--layout", layout, "--base", "0x5A",
                               "--output", self.output], capture_output=True, text=True)

    def assert_fails(self, result, *fragments):
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertTrue(result.stderr.startswith("catalog_builder: error: "), result.stderr)
        for fragment in fragments:
            self.assertIn(fragment, result.stderr)
        self.assertFalse(os.path.exists(self.output), "no table after a failure")

    def test_good_input_builds(self):
        self.write("a.hex", pic18_image() + [END])
        self.manifest(extra=["print_code = 0x05", "preparation_code = 0x07"])
        result = self.run_builder(["image a.manifest", "empty 2 1", "share 3 1 2 1"])
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.output) as f:
            text = f.read()
        # The digest covers the plain program bytes, then the fix bytes.
        program = bytearray(range(64))
        program[14], program[15] = 0x05, 0x07
        digest = hashlib.sha256(bytes(program) + bytes(range(1, 9))).hexdigest()
        self.assertIn(f'{{0, 1, 0, 64, 1, 8, -1, 0, 0, true, 0x05, 0x07, "{digest}"}}', text)
        self.assertIn('{3, 1, 2, 1, -1, 0, -1, 0, 0, false, 0x00, 0x00, ""}', text)

    def test_broken_checksum_names_file_and_line(self):
        lines = pic18_image()
        lines[2] = lines[2][:-2] + ("00" if not lines[2].endswith("00") else "01")
        hex_path = self.write("a.hex", lines + [END])
        self.manifest()
        self.assert_fails(self.run_builder(["image a.manifest"]), f"{hex_path}:3: checksum error")

    def test_malformed_records(self):
        cases = [
            (["0000000001FF", END], ":1: a HEX record must start with ':'"),
            ([":10000000ZZ", END], ":1: malformed HEX record"),
            ([":03000000", END], ":1: malformed HEX record (odd or too short)"),
            ([":05000000010203FA", END], ":1: byte count 5 does not match the record"),
            ([hex_line(0x06, 0, b"\x00"), END], ":1: unknown HEX record type 06"),
            (pic18_image(), "no end-of-file record"),
            (pic18_image() + [END, hex_line(0, 0x40, b"\x01")], ":6: data after the end-of-file"),
            (pic18_image() + [hex_line(0, 0x10, b"\x01"), END], ":5: address 0x10 is written twice"),
        ]
        for lines, message in cases:
            with self.subTest(message=message):
                hex_path = self.write("a.hex", lines)
                self.manifest()
                self.assert_fails(self.run_builder(["image a.manifest"]), hex_path, message)

    def test_manifest_naming_a_missing_file(self):
        manifest = self.manifest(hex_name="missing.hex")
        self.assert_fails(self.run_builder(["image a.manifest"]),
                          f"{manifest}:2: file not found: ", "missing.hex")
        layout_result = self.run_builder(["image nowhere.manifest"])
        self.assert_fails(layout_result, "catalog.layout:1: file not found: ", "nowhere.manifest")

    def test_image_faults(self):
        cases = [
            # Family 4 (PIC18F2320): 8 KiB flash, at most 0x2000 - 448 bytes below the bootloader.
            ("0 4", [hex_line(0, 0x1E40, b"\x00")] + pic18_image(),
             "lies in the bootloader area of the PIC18F2320: an image may fill at most 7744"),
            ("0 5", pic18_image() + [hex_line(4, 0, b"\x00\xF0"), hex_line(0, 0, b"\x01")],
             "EEPROM address 0x0 is beyond the 0 EEPROM bytes of the PIC18F24J10"),
            ("0 1", pic18_image() + [hex_line(4, 0, b"\x00\x40"), hex_line(0, 0, b"\x01")],
             "address 0x400000 is outside the memory of the PIC18F2580"),
            ("0 1", [hex_line(0, 0, bytes(10))], "descriptor byte at payload offset 14 is missing"),
            ("0 6", pic18_image(), "descriptor byte at payload offset 1024 is missing"),
            ("0 1", [hex_line(4, 0, b"\x00\x30"), hex_line(0, 0, b"\x01")],
             "the image holds no program bytes"),
        ]
        for record, lines, message in cases:
            with self.subTest(message=message):
                hex_path = self.write("a.hex", lines + [END])
                self.manifest(record=record)
                self.assert_fails(self.run_builder(["image a.manifest"]), hex_path, message)

    def test_manifest_faults(self):
        self.write("a.hex", pic18_image() + [END])
        cases = [
            (["record = 0 1", "hex = a.hex"], "a.manifest: 'fix' is missing"),
            (["record = 0 1", "hex = a.hex", "fix = 01", "colour = red"], ":4: unknown key 'colour'"),
            (["record = 0 1", "hex = a.hex", "fix = 01", "fix = 02"], ":4: 'fix' is given twice"),
            (["record = 0 10", "hex = a.hex", "fix = 01"], ":1: family 10 is outside 0..9"),
            (["record = 255 1", "hex = a.hex", "fix = 01"], ":1: print group 255 is outside"),
            (["record = 0 1", "hex = a.hex", "fix = 01 XY"], ":3: fix byte '0xXY' is not a number"),
            (["record = 0 1", "hex = a.hex", "fix = " + "00 " * 65], ":3: 1 to 64 fix bytes"),
            (["record = 0 1", "hex = a.hex", "fix = 01", "plain = 2"], ":4: plain flag 2"),
            (["record = 0 1", "hex = a.hex", "fix = 01", "print_code = 5"],
             "print_code and preparation_code go together"),
            (["record = 0 1", "hex = a.hex", "fix = 01", "print_code = 5",
              "preparation_code = 0x08"], ":4: codes 0x05/0x08 differ from the image's descriptor"),
            (["record 0 1"], ":1: expected 'key = value'"),
        ]
        for lines, message in cases:
            with self.subTest(message=message):
                self.write("a.manifest", lines)
                self.assert_fails(self.run_builder(["image a.manifest"]), message)

    def test_layout_faults(self):
        self.write("a.hex", pic18_image() + [END])
        self.manifest()
        cases = [
            (["image a.manifest", "empty 0 1"], "catalog.layout:2: record 0 1 is already declared"),
            (["empty 3 3", "share 4 3 9 3"], ":2: record 9 3 to share is not declared"),
            (["empty 3 3", "share 4 2 3 3"], ":2: a record can share only within its family"),
            (["include other"], ":1: expected 'image <manifest>'"),
            (["empty 1"], ":1: expected"),
        ]
        for lines, message in cases:
            with self.subTest(message=message):
                self.assert_fails(self.run_builder(lines), message)


if __name__ == "__main__":
    BUILDER = sys.argv.pop(1)
    unittest.main(verbosity=1)
