#!/usr/bin/env python3
"""The committed demonstration HEX files are exactly what their generator writes.
Usage: images_reproducible_test.py <make_images.py> <images directory>"""

import filecmp
import subprocess
import sys
import tempfile

generator, images = sys.argv[1], sys.argv[2]
with tempfile.TemporaryDirectory() as out:
    subprocess.run([sys.executable, generator, out], check=True)
    for name in ("k80_default.hex", "hj64_default.hex"):
        if not filecmp.cmp(f"{out}/{name}", f"{images}/{name}", shallow=False):
            sys.exit(f"{name}: the committed file differs from what make_images.py writes")
print("images reproducible")
