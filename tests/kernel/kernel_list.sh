#!/usr/bin/env bash
# Through the real kernel: quillon-uhid refuses clearly without /dev/uhid, reports bad device files and
# serves the good ones; `list` finds exactly the configured devices, with the emulator's identity fields;
# `watch`, through the real udev notices, traces the configured devices as they arrive and leave.
source "$(dirname "$0")/lib.sh"

sim_copy devs
out=$(unshare -m bash -c "mount -t tmpfs none /dev && exec '$bin/quillon-uhid' '$work/devs'" 2>&1) && fail "served without /dev/uhid"
[ "$out" = "quillon-uhid: /dev/uhid does not exist: load the kernel module uhid (modprobe uhid)" ] || fail "without /dev/uhid: $out"
out=$(setpriv --reuid=4711 --regid=4711 --clear-groups "$bin/quillon-uhid" "$work/devs" 2>&1) && fail "served without access"
[ "$out" = "quillon-uhid: no access to /dev/uhid: run as root or give your user read and write access to it" ] ||
  fail "without access: $out"

# Beside the examples: another usage page, an unknown vendor, and a file that is no device.
cp "$work/devs/za1200.json" "$work/devs/otherpage.json"
set_json "$work/devs/otherpage.json" usage='"0xff010001"' serialNumber='"OTHER-1"'
cp "$work/devs/za1200.json" "$work/devs/unknown.json"
set_json "$work/devs/unknown.json" vendorId='"0x1234"' serialNumber='"UNKNOWN-1"'
echo '{"vendorId": ' >"$work/devs/broken.json"
"$bin/quillon-cli" watch >"$work/watch.out" 2>&1 &
watcher=$!
for _ in $(seq 600); do grep -q '^Total 0 devices found!' "$work/watch.out" && break; sleep 0.1; done
start_uhid "$work/devs" 6
grep -q "^quillon-uhid: $work/devs/broken.json: ." "$work/uhid.err" || fail "bad file not reported: $(cat "$work/uhid.err")"
for f in /sys/class/hidraw/*/device/uevent; do
  grep -q '^DRIVER=hid-generic$' "$f" || fail "$f: not bound to hid-generic"
done

sim_copy ref
kernel=$(cli list 2>&1) || fail "list failed: $kernel"
expected=$(cli --sim "$work/ref" list 2>&1)
[ "$(normalise <<<"$kernel")" = "$(normalise <<<"$expected")" ] || fail "list differs from the emulator's:
$kernel
--- emulator:
$expected"
[ "$(grep -c '^No\.' <<<"$kernel")" -eq 4 ] || fail "not exactly the four configured devices: $kernel"
stop_uhid
wait_nodes 0
for _ in $(seq 100); do [ "$(grep -c ' is removed$' "$work/watch.out")" -ge 4 ] && break; sleep 0.1; done
kill -INT "$watcher"
wait "$watcher" || fail "watch ended with status $? on SIGINT"
[ "$(grep -cE '^Device /dev/hidraw[0-9]+ is plugged in$' "$work/watch.out")" -eq 4 ] ||
  fail "watch did not trace the four devices arriving: $(cat "$work/watch.out")"
[ "$(grep -cE '^Device /dev/hidraw[0-9]+ is removed$' "$work/watch.out")" -eq 4 ] ||
  fail "watch did not trace the four devices leaving: $(cat "$work/watch.out")"
finish
