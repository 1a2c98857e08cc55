#!/usr/bin/env python3
"""The image digests quillon-cli lists (images --json, the same the log writes) are the
SHA-256 this test computes on its own from each image's HEX file and manifest, as
docs/catalog.md tells it: program bytes, fix bytes, EEPROM bytes. A HEX file written
differently with the same bytes gives the same digest. Usage:
    image_digest_test.py <quillon-cli> <catalog_builder.py> <images folder>"""

import hashlib
import json
import os
import random
import subprocess
import sys
import tempfile
import unittest

CLI = BUILDER = IMAGES = None
EEPROM_BASE = 0xF00000      # PIC18 data EEPROM in a HEX file
PROGRAM_END = 0x200000      # program flash lies below the ID locations and configuration


def hex_bytes(path):
    """{address: byte} of an Intel HEX file: data records under linear or segment bases."""
    data, base = {}, 0
    for line in open(path):
        record = bytes.fromhex(line.strip()[1:])
        count, kind = record[0], record[3]
        address = (record[1] << 8) | record[2]
        body = record[4:4 + count]
        if kind == 0:
            for i, b in enumerate(body):
                data[base + address + i] = b
        elif kind == 2:
            base = int.from_bytes(body, "big") << 4
        elif kind == 4:
            base = int.from_bytes(body, "big") << 16
    return data


def filled(data, start, end):
    """The bytes from start to the last one present below end; gaps read 0xFF."""
    present = [a for a in data if start <= a < end]
    if not present:
        return b""
    return bytes(data.get(a, 0xFF) for a in range(start, max(present) + 1))


def manifest(path):
    values = {}
    for line in open(path):
        line = line.split("#", 1)[0]
        if "=" in line:
            key, value = (p.strip() for p in line.split("=", 1))
            values[key] = value
    return values


def digest(hex_path, fix_text):
    data = hex_bytes(hex_path)
    program = filled(data, 0, PROGRAM_END)
    eeprom = filled(data, EEPROM_BASE, EEPROM_BASE + 0x10000)
    return hashlib.sha256(program + bytes.fromhex(fix_text) + eeprom).hexdigest()


def hex_line(kind, address, body):
    record = bytes([len(body), (address >> 8) & 0xFF, address & 0xFF, kind]) + bytes(body)
    return ":" + (record + bytes([(-sum(record)) & 0xFF])).hex().upper()


class ImageDigest(unittest.TestCase):
    def manifests(self):
        names = sorted(n for n in os.listdir(IMAGES) if n.endswith(".manifest"))
        self.assertTrue(names)
        return [os.path.join(IMAGES, n) for n in names]

    def test_listed_digests_are_the_hex_files_own(self):
        mine = {digest(os.path.join(IMAGES, m["hex"]), m["fix"])
                for m in map(manifest, self.manifests())}
        out = subprocess.run([CLI, "images", "--json"], capture_output=True, text=True,
                             check=True).stdout
        listed = {json.loads(line)["image_digest"] for line in out.splitlines()}
        self.assertEqual(listed, mine)

    def test_same_bytes_written_otherwise_give_the_same_digest(self):
        path = self.manifests()[-1]
        values = manifest(path)
        data = hex_bytes(os.path.join(IMAGES, values["hex"]))
        # 7-byte records in a shuffled order, each under its own linear base record.
        chunks = []
        for address in sorted(data):
            if not chunks or chunks[-1][0] + len(chunks[-1][1]) != address or len(chunks[-1][1]) == 7:
                chunks.append((address, []))
            chunks[-1][1].append(data[address])
        random.Random(7).shuffle(chunks)
        lines = []
        for address, body in chunks:
            lines.append(hex_line(4, 0, (address >> 16).to_bytes(2, "big")))
            lines.append(hex_line(0, address & 0xFFFF, body))
        lines.append(hex_line(1, 0, b""))
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "image.hex"), "w") as f:
                f.write("\n".join(lines) + "\n")
            copy = os.path.join(folder, "image.manifest")
            with open(path) as src, open(copy, "w") as dst:
                for line in src:
                    dst.write("hex = image.hex\n" if line.startswith("hex") else line)
            built = subprocess.run([sys.executable, BUILDER, "--digest", copy],
                                   capture_output=True, text=True)
            self.assertEqual(built.returncode, 0, built.stderr)
            self.assertEqual(built.stdout.strip(),
                             digest(os.path.join(IMAGES, values["hex"]), values["fix"]))


if __name__ == "__main__":
    CLI, BUILDER, IMAGES = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1])
