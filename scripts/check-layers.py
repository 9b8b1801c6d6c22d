#!/usr/bin/env python3
"""Fails when a source file under src/ includes a header of a layer that its own layer may not use.

Every file belongs to one layer (the longest matching path below), and each layer lists the layers
it may include from; docs/architecture.md draws the same graph. Also fails on a directory-wide
include path (include_directories) in the build files under src/.
Usage: scripts/check-layers.py [source root, default: the repository's src/]
"""
import pathlib
import re
import sys

# Path below src/ (a folder or a file without its extension) -> layer. The longest match wins.
LAYER_OF = {
    "base": "base",
    "platform": "platform",
    "platform/console": "host_console",
    "platform/qt": "host_qt",
    "device/zelhid/Protocol": "protocol",
    "device": "device",
    "emulator": "emulator",
    "emulator/hid": "emulator_hid",
    "emulator/uhid": "emulator_uhid",
    "config": "config",
    "config/tools": "zeldat",
    "image": "image",
    "app": "app",
    "dfu": "app",
    "compose": "compose",
    "gui": "gui",
    "cli": "cli",
    "cli/tools": "cli_tools",
}

# Layer -> the layers it may include from (besides its own), closed under "uses".
ALLOWED = {
    "base": set(),
    "platform": {"base"},
    "protocol": {"base"},
    "device": {"base", "platform", "protocol"},
    "emulator": {"base", "protocol"},
    "emulator_hid": {"base", "platform", "protocol", "device", "emulator"},
    "emulator_uhid": {"base", "protocol", "emulator"},
    "config": {"base", "platform", "device", "protocol"},
    "zeldat": {"base", "platform", "device", "protocol", "config"},
    "image": {"base", "device", "protocol"},
    "app": {"base", "platform", "device", "protocol", "config", "image"},
    "host_console": {"base", "platform"},
    "host_qt": {"base", "platform"},
    "compose": {"base", "platform", "device", "protocol", "emulator", "emulator_hid", "config", "image", "app"},
    "cli": {"base", "platform", "device", "protocol", "emulator", "emulator_hid", "config", "image", "app",
            "compose", "host_console"},
    "gui": {"base", "platform", "device", "protocol", "emulator", "emulator_hid", "config", "image", "app",
            "compose", "host_qt"},
    # Build tools that read both programs' command tables.
    "cli_tools": {"base", "platform", "device", "protocol", "emulator", "emulator_hid", "config", "image", "app",
                  "compose", "host_console", "cli", "gui"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def layer_of(rel):
    stem = rel.rsplit(".", 1)[0]
    best = None
    for prefix, layer in LAYER_OF.items():
        if (stem == prefix or stem.startswith(prefix + "/")) and (best is None or len(prefix) > len(best[0])):
            best = (prefix, layer)
    return best[1] if best else None


def main():
    src = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "src"
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        rel = path.relative_to(src).as_posix()
        layer = layer_of(rel)
        if layer is None:
            problems.append(f"src/{rel}: belongs to no layer")
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for match in INCLUDE.finditer(text):
            header = match.group(1)
            target = header if (src / header).exists() else None
            if target is None and (path.parent / header).exists():
                target = (path.parent / header).resolve().relative_to(src.resolve()).as_posix()
            if target is None:
                problems.append(f"src/{rel}: \"{header}\" is no header of src/")
                continue
            used = layer_of(target)
            if used != layer and used not in ALLOWED[layer]:
                line = text.count("\n", 0, match.start()) + 1
                problems.append(f"src/{rel}:{line}: {layer} may not include \"{header}\" ({used})")
    for cmake in sorted(src.rglob("CMakeLists.txt")):
        for number, line in enumerate(cmake.read_text().splitlines(), 1):
            if re.match(r"\s*include_directories\s*\(", line):
                problems.append(f"src/{cmake.relative_to(src).as_posix()}:{number}: directory-wide include path")
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} forbidden include(s)", file=sys.stderr)
        return 1
    print("check-layers: every include follows the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
