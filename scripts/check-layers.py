#!/usr/bin/env python3
"""Lists every #include in src/ that crosses the driver's layers the wrong way: upwards, sideways
between folders of one level, or into the host SDK from below the contracts. Prints nothing and
exits 0 when there is none; otherwise one line per include and exit 1.

The build enforces the same rules (each layer's include root holds its own folder only); this
check names every offending line at once, also for files that no build configuration compiles.

Usage: check-layers.py [SOURCE_ROOT]   (the repository root by default)
"""
import os
import re
import sys

# What each folder of src/ may include besides itself; "norvane" is the host SDK (include/).
ALLOWED = {
    "platform": set(),
    "runtime": {"platform"},
    "text": set(),
    "core": {"platform", "norvane"},
    "rtp": {"core", "text", "runtime", "platform", "norvane"},
    "rtsp": {"core", "text", "runtime", "platform", "norvane"},
    "http": {"core", "text", "runtime", "platform", "norvane"},
    "io": {"http", "core", "text", "runtime", "platform", "norvane"},
    "channels": {"rtp", "rtsp", "http", "core", "text", "runtime", "platform", "norvane"},
    "driver": {"channels", "io", "rtp", "rtsp", "http", "core", "text", "runtime", "platform",
               "norvane"},
    "plugin": {"driver", "channels", "io", "rtp", "rtsp", "http", "core", "text", "runtime",
               "platform", "norvane"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(
        os.path.dirname(os.path.abspath(__file__)))
    src = os.path.join(root, "src")
    bad = 0
    for folder in sorted(os.listdir(src)):
        if not os.path.isdir(os.path.join(src, folder)):
            continue
        if folder not in ALLOWED:
            print("src/%s: a folder that no layer rule names" % folder)
            bad += 1
            continue
        for directory, _, files in os.walk(os.path.join(src, folder)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".c")):
                    continue
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = match.group(1)
                        if target != folder and target not in ALLOWED[folder]:
                            print("%s:%d: %s/ includes %s/: %s" % (
                                os.path.relpath(path, root), number, folder, target,
                                line.strip()))
                            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
