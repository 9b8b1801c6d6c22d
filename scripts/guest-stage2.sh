#!/bin/bash
# The guest's second stage (scripts/guest.sh), in the host's root with a writable overlay: the usual
# mounts, the test user, udevd with the project's rules, then the command; the guest powers off after.
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
ln -sf /proc/self/fd /dev/fd
mount -t devpts devpts /dev/pts
# /tmp stays the overlay's: a checkout or build tree under the host's /tmp must stay visible.
for d in /run /dev/shm; do mount -t tmpfs tmpfs $d; done
mkdir -p /run/lock
chmod 1777 /tmp /dev/shm /run/lock
out=$(sed -n 's/.*guestout=\([^ ]*\).*/\1/p' /proc/cmdline)
mkdir -p "$out"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 guestout "$out"
. "$out/command"
echo "quillon-test:x:4711:4711:Quillon test user:/tmp:/bin/sh" >>/etc/passwd
echo "quillon-test:x:4711:" >>/etc/group
mkdir -p /etc/udev/rules.d
rm -f /etc/udev/rules.d/*quillon*
[ -z "$GUEST_RULES" ] || cp "$GUEST_RULES" /etc/udev/rules.d/70-quillon.rules
/lib/systemd/systemd-udevd --daemon >/dev/null 2>&1
udevadm trigger --action=add >/dev/null 2>&1
udevadm settle --timeout=20
if [ "$GUEST_USER" = 1 ]; then
  setpriv --reuid=4711 --regid=4711 --clear-groups -- env HOME=/tmp USER=quillon-test "${GUEST_CMD[@]}" >"$out/stdout" 2>"$out/stderr"
else
  "${GUEST_CMD[@]}" >"$out/stdout" 2>"$out/stderr"
fi
echo $? >"$out/rc"
sync
echo o >/proc/sysrq-trigger
sleep 10
