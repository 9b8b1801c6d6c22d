#!/usr/bin/env bash
# The shipped udev rules as the real udevd applies them: each configured device's node belongs to
# root:plugdev, mode 0660, tagged uaccess (docs/install.md); a user outside the group cannot open it,
# and `doctor` run as that user names the node and the fix; in the group, the user lists the devices.
source "$(dirname "$0")/lib.sh"

sim_copy devs
chmod -R a+rwX "$work/devs"
start_uhid "$work/devs" 4
for node in /dev/hidraw*; do
  [ "$(stat -c '%U:%G %a' "$node")" = "root:plugdev 660" ] || fail "$node: $(stat -c '%U:%G %a' "$node")"
  udevadm info -q property "$node" | grep -q '^TAGS=.*:uaccess:' || fail "$node: no uaccess tag"
done

as_user() {  # GROUPS-OPTION CLI-ARGS...
  local groups=$1
  shift
  setpriv --reuid=4711 --regid=4711 "$groups" -- env HOME="$work" timeout 300 "$bin/quillon-cli" "$@"
}
status=0
out=$(as_user --clear-groups list 2>"$work/list.err") || status=$?
[ "$out" = "No device found." ] && [ "$status" -eq 0 ] || fail "devices listed without access: $out (status $status)"
grep -q 'quillon-cli doctor' "$work/list.err" || fail "list without access gives no hint at doctor: $(cat "$work/list.err")"
out=$(as_user --clear-groups doctor 2>&1) && fail "doctor found nothing wrong: $out"
for node in /dev/hidraw*; do
  grep -q "$node" <<<"$out" || fail "doctor does not name $node: $out"
done
grep -q 'sudo usermod -aG plugdev quillon-test' <<<"$out" || fail "doctor does not give the fix: $out"

out=$(as_user --groups="$(getent group plugdev | cut -d: -f3)" list 2>&1) || fail "list in the group failed: $out"
[ "$(grep -c '^No\.' <<<"$out")" -eq 4 ] || fail "the group member does not see the four devices: $out"
stop_uhid
finish
