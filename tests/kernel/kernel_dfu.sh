#!/usr/bin/env bash
# Through the real kernel, every identity check on: a download through the boot loader and one through
# a DFU patch (the device re-enumerates both ways each time), then an upload that reads back what was
# written; trace lines and files as the in-process emulator gives them. A device plugged in and pulled
# out during the first download is traced once the operation is over.
source "$(dirname "$0")/lib.sh"
images=$src/examples/images

sim_copy devs
sim_copy ref
start_uhid "$work/devs" 4
run_both() {  # NAME ARGS...: the same command through the kernel and on the emulator
  local name=$1
  shift
  cli "$@" >"$work/$name.kernel" 2>&1 && echo 0 >>"$work/$name.kernel" || echo "status $?" >>"$work/$name.kernel"
  cli --sim "$work/ref" "$@" >"$work/$name.ref" 2>&1 && echo 0 >>"$work/$name.ref" || echo "status $?" >>"$work/$name.ref"
}
(
  sleep 4
  cp "$work/devs/za2400.json" "$work/devs/extra.json.new"
  set_json "$work/devs/extra.json.new" serialNumber='"EXTRA-1"' comment='"plugged during a download"'
  mv "$work/devs/extra.json.new" "$work/devs/extra.json"
  sleep 4
  rm "$work/devs/extra.json"
) &
run_both boot download --match-policy 0x10f --verify --serial ZA1200-000101 "$images/za1200-fw-0106.bin"
wait
# The notices came during the operation: traced after its end, after its last line.
grep -A2 '^Device is switched to normal mode successfully!$' "$work/boot.kernel" | grep -Eq '^Device /dev/hidraw[0-9]+ is plugged in$' ||
  fail "arrival not traced after the operation: $(cat "$work/boot.kernel")"
grep -Eq '^Device /dev/hidraw[0-9]+ is removed$' "$work/boot.kernel" || fail "removal not traced"
grep -Ev '^Device /dev/hidraw[0-9]+ is (plugged in|removed)$' "$work/boot.kernel" >"$work/boot.kernel.ops"
mv "$work/boot.kernel.ops" "$work/boot.kernel"

run_both patch download --match-policy 0x10f --verify --serial ZA4800-000410 "$images/za4800-fw-0101.bin"
run_both upload upload --serial ZA1200-000101 "$work/up.kernel.bin"
mv "$work/up.kernel.bin" "$work/up.kernel.keep"
cli --sim "$work/ref" upload --serial ZA1200-000101 "$work/up.kernel.bin" >/dev/null 2>&1
for name in boot patch upload; do
  diff <(normalise <"$work/$name.ref") <(normalise <"$work/$name.kernel") >&2 || fail "$name: output differs from the emulator's"
done
grep -qx 'Firmware upgrade succeeded....' "$work/patch.kernel" || fail "patch download did not succeed"
cmp "$work/up.kernel.keep" "$work/up.kernel.bin" || fail "the upload through the kernel differs from the emulator's"
stop_uhid
finish
