#!/usr/bin/env bash
# Through the real kernel, every identity check on: a download through the boot loader and one through
# a DFU patch (the device re-enumerates both ways each time), then an upload that reads back what was
# written; trace lines and files as the in-process emulator gives them.
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
run_both boot download --match-policy 0x10f --verify --serial ZA1200-000101 "$images/za1200-fw-0106.bin"
run_both patch download --match-policy 0x10f --verify --serial ZA4800-000410 "$images/za4800-fw-0101.bin"
mkdir "$work/k" "$work/r"
cli upload --serial ZA1200-000101 "$work/k/up.bin" >"$work/upload.kernel" 2>&1 || fail "upload failed"
cli --sim "$work/ref" upload --serial ZA1200-000101 "$work/r/up.bin" >"$work/upload.ref" 2>&1
sed -i "s#$work/k/#$work/r/#" "$work/upload.kernel"
for name in boot patch upload; do
  diff <(normalise <"$work/$name.ref") <(normalise <"$work/$name.kernel") >&2 || fail "$name: output differs from the emulator's"
done
grep -qx 'Firmware upgrade succeeded....' "$work/patch.kernel" || fail "patch download did not succeed"
cmp "$work/k/up.bin" "$work/r/up.bin" || fail "the upload through the kernel differs from the emulator's"
stop_uhid
finish
