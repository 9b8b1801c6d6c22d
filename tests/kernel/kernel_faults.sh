#!/usr/bin/env bash
# Faults on a real node: a device pulled out in the middle of a block fails the download cleanly and
# takes the next one after it is plugged back in; a device that stops answering ends the attempt by
# the read timeout, without hanging.
source "$(dirname "$0")/lib.sh"
image=$src/examples/images/za1200-fw-0106.bin
dl() { cli download --match-policy 0x10f --verify --serial ZA1200-000101 "$image"; }

sim_copy devs
rm "$work/devs"/za{2400,3600,4800}.json
set_json "$work/devs/za1200.json" faults='{"unplugAtStep": "write", "unplugAtStepCount": 3}'
start_uhid "$work/devs" 1
out=$(dl 2>&1) && fail "download succeeded through an unplug: $out"
grep -q 'Firmware upgrade succeeded' <<<"$out" && fail "success traced through an unplug: $out"
grep -q '^Reason: .*device unplugged' <<<"$out" || fail "no reason given: $out"
wait_nodes 0
# Plugged back in, without the fault: it recovers on the next download.
set_json "$work/devs/za1200.json.unplugged" faults='{}'
mv "$work/devs/za1200.json.unplugged" "$work/devs/za1200.json"
wait_nodes 1
out=$(dl 2>&1) || fail "no recovery after the device came back: $out"
grep -qx 'Firmware upgrade succeeded....' <<<"$out" || fail "recovery download did not succeed: $out"


# Stops answering: its first flash write gets no answer. The read timeout ends that attempt and the
# next one runs, as on the emulator; nothing hangs.
faults='{"timeoutWrites": [1]}'
set_json "$work/devs/za1200.json" faults="$faults"
sim_copy ref
rm "$work/ref"/za{2400,3600,4800}.json
set_json "$work/ref/za1200.json" faults="$faults"
wait_nodes 1
sleep 1
udevadm settle
status=0
out=$(dl 2>&1) || status=$?
[ "$status" -ne 124 ] || fail "the download hung"
expected=$(cli --sim "$work/ref" download --match-policy 0x10f --verify --serial ZA1200-000101 "$image" 2>&1) || true
[ "$(normalise <<<"$out")" = "$(normalise <<<"$expected")" ] || fail "not as on the emulator:
$out
--- emulator:
$expected"
stop_uhid
# The unanswered block went out again: more reports than the clean download of the plug-in before.
reports() { sed -nE "s/^$1 .*za1200\.json: ([0-9]+) reports out.*/\1/p" "$work/uhid.out" | tail -1; }
[ "$(reports stopped)" -gt "$(reports unplugged)" ] || fail "no attempt ended by the timeout: $(cat "$work/uhid.out")"
finish
