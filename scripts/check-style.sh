#!/usr/bin/env bash
# Fails on a formatting difference (every tracked C++ file) or a clang-tidy finding (the sources under
# src/, checked against the default build's compile commands, which it configures and builds first so
# that generated headers exist). `check-style.sh format` runs only the formatting check.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-style: the files above differ from .clang-format (clang-format -i FILE fixes them)" >&2
  exit 1
fi
echo "check-style: formatting of ${#files[@]} files is clean"
[ "${1:-}" = format ] && exit 0

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
mapfile -t sources < <(git ls-files 'src/*.cpp')
if ! run-clang-tidy -quiet -p build/default -j "$(nproc)" "${sources[@]/#/$PWD/}" >build/default/tidy.log 2>&1; then
  grep -E 'error:|warning:' build/default/tidy.log | sort -u >&2 || cat build/default/tidy.log >&2
  echo "check-style: clang-tidy findings above (.clang-tidy lists the checks)" >&2
  exit 1
fi
echo "check-style: clang-tidy found nothing in ${#sources[@]} sources"
