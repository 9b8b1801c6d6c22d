# Shared by the kernel tests (sourced): BUILD_DIR is the first argument. On the host the calling script
# runs itself again inside the guest (scripts/guest.sh), as root; there the emulator's devices are
# served through /dev/uhid by quillon-uhid and reached through hidraw, as real devices are.
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(realpath "$1")
bin=$build/bin
if [ "${2:-}" != --inside ]; then
  exec bash "$src/scripts/guest.sh" "$build" -- bash "$(realpath "$0")" "$build" --inside
fi
work=$(mktemp -d)
chmod 755 "$work"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
finish() { [ "$failures" -eq 0 ] && echo "all checks passed" || echo "$failures check(s) failed" >&2; exit $((failures > 0)); }
cli() { timeout 300 "$bin/quillon-cli" "$@"; }
nodes() { ls /dev/hidraw* 2>/dev/null | wc -l; }
# Waits until N hidraw nodes exist and udev has handled them.
wait_nodes() {
  for _ in $(seq 300); do [ "$(nodes)" -eq "$1" ] && { udevadm settle; return 0; }; sleep 0.1; done
  fail "expected $1 hidraw node(s), found $(nodes)"
}
# A copy of the example devices in $work/NAME.
sim_copy() { rm -rf "${work:?}/$1"; cp -r "$src/examples/sim" "$work/$1"; }
# quillon-uhid [OPTIONS] DIR, served until stop_uhid; waits for N nodes (the last argument).
start_uhid() {
  local n=${*: -1}
  "$bin/quillon-uhid" "${@:1:$#-1}" >"$work/uhid.out" 2>"$work/uhid.err" &
  uhid_pid=$!
  wait_nodes "$n"
}
stop_uhid() { kill -TERM "$uhid_pid"; wait "$uhid_pid" || fail "quillon-uhid ended with status $? on SIGTERM"; }
# Device paths (hidraw nodes or device files) as one word, so that both transports' output compare.
normalise() { sed -E 's#/dev/hidraw[0-9]+#DEVICE#g; s#/[^ ]*/[a-z0-9-]+\.json#DEVICE#g'; }
# A device file of the example set with changes: set_json FILE KEY=JSON...
set_json() {
  python3 - "$@" <<'PY'
import json, sys
path = sys.argv[1]
d = json.load(open(path))
for kv in sys.argv[2:]:
    k, v = kv.split("=", 1)
    d[k] = json.loads(v)
json.dump(d, open(path, "w"))
PY
}
