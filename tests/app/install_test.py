#!/usr/bin/env python3
"""The install target: the program, its desktop entry and the icon files the entry names, in a
scratch prefix.

    install_test.py <build directory>
"""

import configparser
import os
import struct
import subprocess
import sys
import tempfile

SIZES = (16, 32, 48, 64, 128, 256)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def main():
    build = sys.argv[1]
    faults = []
    with tempfile.TemporaryDirectory(prefix="velmo-install-") as prefix:
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL, timeout=120)

        program = os.path.join(prefix, "bin", "velmoshop")
        if not os.access(program, os.X_OK):
            faults.append("bin/velmoshop is missing or not executable")

        entry_path = os.path.join(prefix, "share", "applications", "velmoshop.desktop")
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        if not entry.read(entry_path, encoding="utf-8") or "Desktop Entry" not in entry:
            faults.append("share/applications/velmoshop.desktop is missing")
        else:
            keys = entry["Desktop Entry"]
            for key, value in (("Type", "Application"), ("Exec", "velmoshop"), ("Icon", "velmoshop")):
                if keys.get(key) != value:
                    faults.append(f"desktop entry: {key}={keys.get(key)!r}, expected {value!r}")
            if not keys.get("Name"):
                faults.append("desktop entry without Name")

        for side in SIZES:
            icon = os.path.join(prefix, "share", "icons", "hicolor", f"{side}x{side}", "apps",
                                "velmoshop.png")
            if not os.path.exists(icon):
                faults.append(f"icon {side}x{side} is missing")
            elif png_size(icon) != (side, side):
                faults.append(f"icon {side}x{side} is no PNG of that size: {png_size(icon)}")

    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
