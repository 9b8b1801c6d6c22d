#!/usr/bin/env bash
# Installs what is missing, builds the default preset and runs every test through ctest.
# With a preset name (asan, tsan), builds and runs that preset instead; tsan builds only the test
# programs of the threading tests, which are the ones it runs.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
bash scripts/setup.sh
cmake --preset "$preset" >/dev/null
if [ "$preset" = tsan ]; then
  cmake --build --preset "$preset" --target quillon_thread_tests -j "$(nproc)"
else
  cmake --build --preset "$preset" -j "$(nproc)"
fi
ctest --preset "$preset"
