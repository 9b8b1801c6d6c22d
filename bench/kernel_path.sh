#!/usr/bin/env bash
# The kernel path against the in-process emulator, in one guest run (scripts/guest.sh): the same 128 KB
# download into the ZA1200 (W25Q80DV, default timing, verified) once through quillon-uhid and hidraw,
# once in process (--sim). Prints, for each, the host CPU time (the CLI, plus quillon-uhid for the
# kernel path) per report and the device-clock time of the download, and the ratios. Absolute times
# under TCG mean little; the ratios are the figure.
# Usage: bench/kernel_path.sh BUILD_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
if [ "${2:-}" != --inside ]; then
  exec bash "$src/scripts/guest.sh" "$build" -- bash "$(realpath "$0")" "$build" --inside
fi
bin=$build/bin
image=$src/examples/images/za1200-fw-0106.bin
work=$(mktemp -d)
one_device() { rm -rf "${work:?}/$1" && mkdir "$work/$1" && cp "$src/examples/sim/za1200.json" "$work/$1/"; }
cpu_of() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }  # user + system, in clock ticks
ticks=$(getconf CLK_TCK)

# In process: the CLI's CPU, and the device's clock and reports from the emulator's own counters.
one_device sim
TIMEFORMAT='%U %S'
t=$( { time "$bin/quillon-cli" --sim "$work/sim" download --match-policy 0x10f --verify "$image" >/dev/null; } 2>&1)
sim_cpu=$(awk '{ print $1 + $2 }' <<<"$t")

# Through the kernel.
one_device dev
"$bin/quillon-uhid" "$work/dev" >"$work/uhid.out" &
uhid=$!
for _ in $(seq 100); do [ -e /dev/hidraw0 ] && break; sleep 0.1; done
udevadm settle
before=$(cpu_of "$uhid")
t=$( { time "$bin/quillon-cli" download --match-policy 0x10f --verify "$image" >/dev/null; } 2>&1)
uhid_cpu=$(( $(cpu_of "$uhid") - before ))
kill -TERM "$uhid"
wait "$uhid"
kernel_cpu=$(awk -v t="$t" -v u="$uhid_cpu" -v hz="$ticks" 'BEGIN { split(t, a, " "); print a[1] + a[2] + u / hz }')
read -r reports_out reports_in clock_us < <(sed -nE 's/^stopped .*: ([0-9]+) reports out, ([0-9]+) in, device clock ([0-9]+) us$/\1 \2 \3/p' "$work/uhid.out")
reports=$((reports_out + reports_in))

# The in-process device clock of the same download, from the emulator's benchmark when it is built.
sim_clock_ms=$("$build/bench/device/quillon_device_bench" --benchmark_filter='BM_SimulatedDownload/0' \
  --benchmark_format=csv 2>/dev/null | awk -F, '/SimulatedDownload/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9.]+$/) v = $i } END { print v }' || true)
awk -v s="$sim_cpu" -v k="$kernel_cpu" -v r="$reports" -v c="$clock_us" -v sc="${sim_clock_ms:-}" 'BEGIN {
  printf "reports of the download through the kernel: %d\n", r
  printf "host CPU per report: in process %.1f us, kernel path %.1f us, ratio %.1f\n", s * 1e6 / r, k * 1e6 / r, k / s
  printf "device clock of the download through the kernel: %.0f ms\n", c / 1000
  if (sc != "") printf "device clock in process (BM_SimulatedDownload): %s ms, ratio %.3f\n", sc, c / 1000 / sc
}'
