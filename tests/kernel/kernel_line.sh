#!/usr/bin/env bash
# The production line on real nodes: several devices at once, each in a program of its own with its own
# outcome, and one program per device: a second one is refused while the first writes, the first
# finishes unharmed, and a holder that was killed leaves nothing behind.
source "$(dirname "$0")/lib.sh"
image=$src/examples/images/za1200-fw-0106.bin

sim_copy devs
# A slow chip (0.3 s a sector erase): the first program is still writing for seconds when a second one
# has started in the guest, however slow the guest is.
set_json "$work/devs/za1200.json" timing='{"sectorEraseUs": 300000}'
start_uhid "$work/devs" 4
# Only the ZA1200 takes this image under the vendor and product checks: the others are refused, untouched.
status=0
cli --quiet --match-policy 0x3 download "$image" --all >"$work/all.out" 2>"$work/all.err" || status=$?
[ "$status" -eq 5 ] || fail "download --all: status $status, not 5: $(cat "$work/all.out" "$work/all.err")"
[ "$(grep -c ': download succeeded$' "$work/all.out")" -eq 1 ] || fail "not one device succeeded: $(cat "$work/all.out")"
[ "$(grep -c ': download refused, nothing written$' "$work/all.out")" -eq 3 ] || fail "not three refused: $(cat "$work/all.out")"
grep -qx '1 of 4 downloads succeeded' "$work/all.out" || fail "no summary: $(cat "$work/all.out")"

dl=("$bin/quillon-cli" download --match-policy 0x10f --serial ZA1200-000101 "$image")
start_first() {
  "${dl[@]}" >"$work/first.out" 2>&1 &
  first=$!
  # Holding the device is the first program's exclusive lock, which the kernel lists with its pid.
  for _ in $(seq 1200); do grep -q "FLOCK  ADVISORY  WRITE $first " /proc/locks && return 0; sleep 0.05; done
  fail "the first program never held the device: $(cat "$work/first.out")"
}
start_first
status=0
out=$(timeout 300 "${dl[@]}" 2>&1) || status=$?
[ "$status" -eq 6 ] || fail "second program: status $status, not 6: $out"
grep -q "is in use by another program (process $first); nothing was done" <<<"$out" || fail "no holder named: $out"
grep -q 'Open DFU file' <<<"$out" && fail "the second program began: $out"
wait "$first" || fail "the first program failed beside the second: $(cat "$work/first.out")"
grep -qx 'Firmware upgrade succeeded....' "$work/first.out" || fail "the first did not succeed: $(cat "$work/first.out")"

# A holder killed in the middle of writing: the next program gets the device and brings it back. Killed
# only once it writes: a kill while the device switches to DFU mode leaves it off the bus for a moment,
# and a program started in that moment rightly finds no such device.
start_first
for _ in $(seq 1200); do grep -q 'Firmware upgrade started' "$work/first.out" && break; sleep 0.05; done
grep -q 'Firmware upgrade started' "$work/first.out" || fail "the first program never wrote: $(cat "$work/first.out")"
kill -KILL "$first"
wait "$first" 2>/dev/null || true
out=$(timeout 300 "${dl[@]}" 2>&1) || fail "no download after a killed holder: $out"
grep -qx 'Firmware upgrade succeeded....' <<<"$out" || fail "download after a killed holder: $out"
stop_uhid
finish
