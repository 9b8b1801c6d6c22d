#!/usr/bin/env bash
# Runs one command in a Linux guest under QEMU, so that HID devices cross a real kernel: Debian's own
# kernel (unpacked into the build tree, never installed), a busybox initramfs, the host's root
# read-only over 9p with a tmpfs overlay on top, systemd-udevd with the project's udev rules.
#
# Usage: scripts/guest.sh [--user] [--rules FILE] BUILD_DIR -- COMMAND [ARG...]
#   --user        run COMMAND as the unprivileged user "quillon-test" (uid 4711) instead of root
#   --rules FILE  udev rules installed in the guest (default: BUILD_DIR/packaging/70-quillon.rules when present)
# COMMAND's standard output and error come back on the host's; the script exits with its status.
# The guest sees the host's files as they are (read-only) and the folder $GUEST_OUT writable.
# Fails with a message when QEMU, busybox or the kernel package cannot be had; never skips.
set -euo pipefail

user=0
rules=
while [ $# -gt 0 ]; do
  case $1 in
    --user) user=1; shift ;;
    --rules) rules=$2; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -lt 3 ] || [ "$2" != -- ]; then
  echo "usage: scripts/guest.sh [--user] [--rules FILE] BUILD_DIR -- COMMAND [ARG...]" >&2
  exit 2
fi
build=$(realpath "$1")
shift 2
[ -n "$rules" ] || rules=$build/packaging/70-quillon.rules

die() { echo "guest: $*" >&2; exit 1; }
for tool in qemu-system-x86_64 dpkg-deb apt-get cpio depmod modprobe; do
  command -v "$tool" >/dev/null || die "$tool is missing: run scripts/setup.sh (package qemu-system-x86, kmod, cpio, dpkg)"
done
[ -x /bin/busybox ] || die "busybox is missing: run scripts/setup.sh (package busybox-static)"
[ -x /lib/systemd/systemd-udevd ] || die "systemd-udevd is missing: run scripts/setup.sh (package udev)"

# The kernel: Debian's linux-image-amd64 and the image package it depends on, unpacked once.
cache=$build/guest
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if [ ! -f "$cache/kernel.ok" ]; then
  rm -rf "$cache/root" "$cache"/*.deb
  (cd "$cache" && apt-get download linux-image-amd64 >/dev/null 2>&1) ||
    die "cannot download the package linux-image-amd64 (apt-get download): no network or no Debian sources"
  image=$(dpkg-deb -f "$cache"/linux-image-amd64_*.deb Depends | grep -o 'linux-image-[0-9][^ ,]*' | head -1)
  [ -n "$image" ] || die "linux-image-amd64 names no kernel image package"
  (cd "$cache" && apt-get download "$image" >/dev/null 2>&1) || die "cannot download the package $image"
  dpkg-deb -x "$cache/${image}"_*.deb "$cache/root" || die "cannot unpack $image"
  touch "$cache/kernel.ok"
fi
kver=$(ls "$cache/root/lib/modules" | head -1)
vmlinuz=$cache/root/boot/vmlinuz-$kver
[ -f "$vmlinuz" ] || die "no kernel in $cache/root/boot"

# The initramfs: busybox and the modules that reach the host's root and serve HID devices.
initrd=$cache/initrd-$kver.cpio.gz
if [ ! -f "$initrd" ] || [ "$0" -nt "$initrd" ] || [ "$(dirname "$0")/guest-stage2.sh" -nt "$initrd" ]; then
  depmod -b "$cache/root" "$kver"
  stage=$(mktemp -d)
  mkdir -p "$stage"/{bin,proc,sys,dev,newroot,lower,upper,mod}
  cp /bin/busybox "$stage/bin/"
  modules=()
  for m in virtio_pci virtio_blk 9p 9pnet_virtio overlay uhid hid-generic; do
    while read -r _ path _; do
      base=$(basename "$path")
      [ -f "$stage/mod/$base" ] || { cp "$path" "$stage/mod/"; modules+=("$base"); }
    done < <(modprobe -d "$cache/root" -S "$kver" --show-depends "$m" | grep '^insmod')
  done
  cat >"$stage/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
for m in ${modules[*]}; do insmod /mod/\$m; done
mount -t 9p -o ro,trans=virtio,version=9p2000.L,msize=262144,cache=loose hostroot /lower || poweroff -f
mount -t tmpfs -o size=256m tmp /upper
mkdir -p /upper/u /upper/w
mount -t overlay -o lowerdir=/lower,upperdir=/upper/u,workdir=/upper/w overlay /newroot
cp /stage2 /newroot/.guest-stage2
exec switch_root /newroot /bin/bash /.guest-stage2
EOF
  chmod +x "$stage/init"
  cp "$(dirname "$0")/guest-stage2.sh" "$stage/stage2"
  (cd "$stage" && find . | cpio -o -H newc 2>/dev/null | gzip -1) >"$initrd.new"
  mv "$initrd.new" "$initrd"
  rm -rf "$stage"
fi
flock -u 9

# The command and what comes back go through a writable shared folder.
GUEST_OUT=$(mktemp -d "${TMPDIR:-/tmp}/quillon-guest.XXXXXX")
trap 'rm -rf "$GUEST_OUT"' EXIT
chmod 777 "$GUEST_OUT"
{
  printf 'cd %q\n' "$PWD"
  printf 'export GUEST_OUT=%q\n' "$GUEST_OUT"
  for v in $(compgen -e | grep -E '^(QUILLON_|GUEST_)' || true); do printf 'export %s=%q\n' "$v" "${!v}"; done
  printf 'GUEST_USER=%s\n' "$user"
  printf 'GUEST_RULES=%q\n' "$([ -f "$rules" ] && realpath "$rules")"
  printf 'GUEST_CMD=('
  printf '%q ' "$@"
  printf ')\n'
} >"$GUEST_OUT/command"

accel=tcg
[ "${QUILLON_GUEST_ACCEL:-}" = kvm ] && accel=kvm
timeout "${QUILLON_GUEST_TIMEOUT:-600}" qemu-system-x86_64 -machine q35,accel=$accel -cpu max -smp 1 -m 768 \
  -nographic -no-reboot -serial "file:$GUEST_OUT/console" -monitor none \
  -kernel "$vmlinuz" -initrd "$initrd" \
  -append "console=ttyS0 quiet loglevel=1 no_timer_check panic=-1 rdinit=/init guestout=$GUEST_OUT" \
  -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
  -virtfs "local,path=$GUEST_OUT,mount_tag=guestout,security_model=none" </dev/null >/dev/null 2>"$GUEST_OUT/qemu.err" ||
  true
cat "$GUEST_OUT/stdout" 2>/dev/null || true
cat "$GUEST_OUT/stderr" >&2 2>/dev/null || true
if [ ! -f "$GUEST_OUT/rc" ]; then
  echo "guest: the guest did not finish its command; its console:" >&2
  tail -n 40 "$GUEST_OUT/console" >&2 2>/dev/null || true
  cat "$GUEST_OUT/qemu.err" >&2 || true
  exit 1
fi
exit "$(cat "$GUEST_OUT/rc")"
