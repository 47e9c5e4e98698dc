#!/usr/bin/env python3
"""tools/check-layers on a copy of the source tree: passes as it stands, and
fails on each kind of break it exists for."""
import os
import shutil
import subprocess
import sys
import tempfile

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHECK = os.path.join(TOP, "tools", "check-layers")


def copy_tree(dest):
    os.makedirs(dest)
    for item in ("CMakeLists.txt", "base", "ui", "launcher", "res", os.path.join("tests", "support")):
        src = os.path.join(TOP, item)
        if os.path.isdir(src):
            shutil.copytree(src, os.path.join(dest, item))
        else:
            shutil.copy(src, os.path.join(dest, item))


def run(root):
    p = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
    return p.returncode, p.stdout


def append(path, text):
    with open(path, "a", encoding="utf-8") as f:
        f.write(text)


def replace(path, old, new):
    with open(path, encoding="utf-8") as f:
        s = f.read()
    assert old in s, (path, old)
    with open(path, "w", encoding="utf-8") as f:
        f.write(s.replace(old, new, 1))


BREAKS = [
    ("the toolkit includes the controller",
     lambda r: append(os.path.join(r, "ui/kiln/layout.cpp"), '\n#include "launcher/app/state.h"\n'),
     'includes "launcher/app/state.h"'),
    ("the base library includes the toolkit",
     lambda r: append(os.path.join(r, "base/text.cpp"), '\n#include "ui/kiln/kiln.h"\n'),
     'includes "ui/kiln/kiln.h"'),
    ("a link line names a library the row does not",
     lambda r: replace(os.path.join(r, "CMakeLists.txt"), "ember_module(kiln ui/kiln LIBS ember_base)",
                       "ember_module(kiln ui/kiln LIBS ember_net ember_base)"),
     "kiln links ember_net ember_base"),
    ("a link line misses a system library",
     lambda r: replace(os.path.join(r, "CMakeLists.txt"), "SYSTEM version advapi32 shell32 ole32",
                       "SYSTEM version advapi32 shell32"),
     "ember_install names system libraries version advapi32 shell32"),
    ("a source folder without a row",
     lambda r: (os.makedirs(os.path.join(r, "launcher/extra")),
                append(os.path.join(r, "launcher/extra/x.cpp"), "int x;\n")),
     "launcher/extra/: a source folder with no row"),
    ("a source file loose in launcher/",
     lambda r: append(os.path.join(r, "launcher/loose.cpp"), "int y;\n"),
     "launcher/: a source folder with no row"),
]


def main():
    failures = []
    with tempfile.TemporaryDirectory() as work:
        clean = os.path.join(work, "clean")
        copy_tree(clean)
        code, out = run(clean)
        if code != 0:
            failures.append("the tree as it stands fails:\n" + out)
        for name, make, expect in BREAKS:
            root = os.path.join(work, name.replace(" ", "_"))
            copy_tree(root)
            make(root)
            code, out = run(root)
            if code == 0 or expect not in out:
                failures.append(f"{name}: exit {code}, expected a failure naming '{expect}':\n{out}")
    for f in failures:
        print("FAIL: " + f)
    print(f"check_layers_test: {len(BREAKS) + 1 - len(failures)}/{len(BREAKS) + 1} cases pass")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
