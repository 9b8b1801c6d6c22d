#!/usr/bin/env bash
# First run on a fresh Debian 12 machine, as root: installs the packages the build needs, builds
# quillon-cli and its data files, and downloads an example firmware image into an emulated example
# device, showing the trace lines as the window shows them. The emulated devices are a scratch copy of
# examples/sim; the repository is never changed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quillon-cli quillon_data -j "$(nproc)"

cli=build/default/bin/quillon-cli
sim=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo.XXXXXX")
cp -r examples/sim/. "$sim/"

echo
echo "== The emulated example devices ($sim)"
"$cli" --sim "$sim" list
echo
echo "== The example image's identity record"
"$cli" image info examples/images/za1200-fw-0106.bin
echo
echo "== Downloading it into device 0, every identity check on, the emulator paced in real time"
QUILLON_SIM_REALTIME=1 "$cli" --sim "$sim" --match-policy 0x10f download examples/images/za1200-fw-0106.bin --device 0
echo
echo "Done. The emulated devices keep their new flash contents in $sim;"
echo "try: $cli --sim $sim upload /tmp/readback.bin --device 0"
