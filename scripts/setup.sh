#!/usr/bin/env bash
# Installs every Debian package that Quillon's build, tests and tools need. Idempotent; run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libhidapi-dev libudev-dev nettle-dev zlib1g-dev
  libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  xvfb xauth dpkg-dev fakeroot file appstream desktop-file-utils
  wine64 gcc-mingw-w64-x86-64
  qemu-system-x86 busybox-static kmod cpio udev
)
# xvfb and xauth serve the GUI tests on a real X server (xvfb-run); Qt's X11 platform plugin (xcb) and
# the X libraries it needs come with qt6-base-dev (libqt6gui6 and its dependencies).
# qemu-system-x86, busybox-static, kmod, cpio and udev run the kernel tests' guest (scripts/guest.sh,
# which fetches Debian's kernel package itself with apt-get download into the build tree).
# appstream and desktop-file-utils validate the window's metadata and desktop entry (label package).


missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "setup: installed ${missing[*]}"
