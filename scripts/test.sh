#!/usr/bin/env bash
# Installs what is missing, builds the default preset and runs every test through ctest.
# With a preset name (asan, tsan), builds and runs that preset instead.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
bash scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"
