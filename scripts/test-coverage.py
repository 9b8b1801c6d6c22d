#!/usr/bin/env python3
"""Per-test line coverage of src/, to see what a test reaches that no other test does.

  test-coverage.py run BUILD OUT.tsv    runs each ctest test of BUILD alone (labels kernel and package
                                        left out) and writes one line per test: name, ok or FAILED, and
                                        the src lines it reached (file:line). BUILD must be configured
                                        with --coverage; a partly written OUT.tsv is resumed.
  test-coverage.py unique OUT.tsv       per test, the src lines that no other test reaches, fewest first
  test-coverage.py lost BEFORE AFTER    the src lines some test reached before and none reaches after

A coverage build:
  cmake -S . -B build/cov -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_BUILD_TESTS=ON \\
      -DQUILLON_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="-O0 --coverage" -DCMAKE_C_FLAGS="-O0 --coverage" \\
      -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
  cmake --build build/cov -j2
"""
import collections
import glob
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIPPED_LABELS = {"kernel", "package"}


def tests_of(build):
    listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], capture_output=True, text=True)
    names = []
    for test in json.loads(listing.stdout)["tests"]:
        labels = next((p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"), [])
        if not SKIPPED_LABELS.intersection(labels):
            names.append(test["name"])
    return names


def reached_lines(build):
    # Only src/ objects: a test's own build tree may hold links that lead back to the root.
    data = glob.glob(os.path.join(build, "src", "**", "*.gcda"), recursive=True)
    lines = set()
    for start in range(0, len(data), 40):
        out = subprocess.run(["gcov", "-j", "-t"] + data[start:start + 40], capture_output=True, text=True, cwd=ROOT)
        for doc in out.stdout.splitlines():
            if not doc.lstrip().startswith("{"):
                continue
            report = json.loads(doc)
            for entry in report.get("files", []):
                path = os.path.normpath(os.path.join(report.get("current_working_directory", ROOT), entry["file"]))
                rel = os.path.relpath(path, ROOT)
                if rel.startswith("src" + os.sep):
                    lines.update(f"{rel}:{line['line_number']}" for line in entry["lines"] if line["count"] > 0)
    return lines


def run(build, out):
    done = set()
    if os.path.exists(out):
        done = {line.split("\t", 1)[0] for line in open(out, encoding="utf-8")}
    names = tests_of(build)
    with open(out, "a", encoding="utf-8") as table:
        for i, name in enumerate(names, 1):
            if name in done:
                continue
            for data in glob.glob(os.path.join(build, "src", "**", "*.gcda"), recursive=True):
                os.remove(data)
            result = subprocess.run(["ctest", "--test-dir", build, "-R", "^" + re.escape(name) + "$"],
                                    capture_output=True, text=True)
            lines = reached_lines(build)
            status = "ok" if result.returncode == 0 else "FAILED"
            table.write(f"{name}\t{status}\t{' '.join(sorted(lines))}\n")
            table.flush()
            print(f"[{i}/{len(names)}] {name}: {status}, {len(lines)} lines", flush=True)


def read(path):
    table = {}
    for line in open(path, encoding="utf-8"):
        name, _, rest = line.rstrip("\n").split("\t")
        table[name] = set(rest.split())
    return table


def unique(path):
    table = read(path)
    count = collections.Counter(line for lines in table.values() for line in lines)
    rows = sorted((sum(count[l] == 1 for l in lines), len(lines), name, lines) for name, lines in table.items())
    print("test\tunique\treached\tunique lines")
    for nUnique, nReached, name, lines in rows:
        print(f"{name}\t{nUnique}\t{nReached}\t{' '.join(sorted(l for l in lines if count[l] == 1))}")


def lost(before, after):
    reached = [set().union(*read(p).values()) for p in (before, after)]
    gone = sorted(reached[0] - reached[1], key=lambda l: (l.rsplit(":", 1)[0], int(l.rsplit(":", 1)[1])))
    print(f"{len(reached[0])} lines reached before, {len(reached[1])} after, {len(gone)} no longer reached")
    for line in gone:
        print(line)


if __name__ == "__main__":
    commands = {"run": (run, 2), "unique": (unique, 1), "lost": (lost, 2)}
    if len(sys.argv) < 2 or sys.argv[1] not in commands or len(sys.argv) - 2 != commands[sys.argv[1]][1]:
        sys.exit(__doc__)
    command, _ = commands[sys.argv[1]]
    if command is run:
        sys.argv[2] = os.path.abspath(sys.argv[2])
    command(*sys.argv[2:])
