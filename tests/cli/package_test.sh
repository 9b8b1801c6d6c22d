#!/usr/bin/env bash
# The Debian package, built by CPack from this build tree: its contents, an unpacked copy whose
# quillon-cli (run through the bin/ link) finds its data files, and an install and removal by dpkg in a
# scratch root.
set -euo pipefail
build=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"

fail() { echo "package test: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/pkg/quillon_*.deb)

# Contents: the programs and data files in one folder, links in bin/, udev rules.
dpkg-deb -c "$deb" >"$work/contents"
for path in ./usr/lib/quillon/quillon-cli ./usr/lib/quillon/Quillon.ini ./usr/lib/quillon/zel.dat; do
  grep -q " $path\$" "$work/contents" || fail "$path is not in the package"
done
grep -q ' ./usr/bin/quillon-cli -> ../lib/quillon/quillon-cli$' "$work/contents" || fail "no bin/quillon-cli link"
grep -Eq ' ./usr/lib/udev/rules.d/[^ ]*quillon[^ ]*\.rules$' "$work/contents" || fail "no udev rules"
if grep -q ' ./usr/lib/quillon/Quillon$' "$work/contents"; then
  grep -q ' ./usr/bin/quillon -> ../lib/quillon/Quillon$' "$work/contents" || fail "no bin/quillon link"
  grep -q ' ./usr/share/applications/quillon.desktop$' "$work/contents" || fail "no desktop entry"
  grep -q ' ./usr/share/icons/hicolor/48x48/apps/quillon.png$' "$work/contents" || fail "no icon"
fi
dpkg-deb -f "$deb" Depends | grep -q libhidapi || fail "the package does not depend on hidapi"

# The installed quillon-cli, run through its link, finds Quillon.ini and zel.dat beside its real file.
check_installed() {
  local root=$1
  cp -r "$src/examples/sim" "$work/sim-$2"
  local out
  out=$("$root/usr/bin/quillon-cli" --sim "$work/sim-$2" list) || fail "installed quillon-cli list failed"
  grep -q '^  Chipset:     ZA1200+ZH880$' <<<"$out" || fail "installed quillon-cli did not name the chipset: $out"
  out=$("$root/usr/bin/quillon-cli" --json config check) || fail "installed configuration does not load: $out"
  grep -q "\"ini\":\"$root/usr/lib/quillon/Quillon.ini\"" <<<"$out" || fail "config read from elsewhere: $out"
  grep -q '"ok":true' <<<"$out" || fail "configuration incomplete: $out"
}

dpkg-deb -x "$deb" "$work/unpacked"
check_installed "$work/unpacked" unpacked

# dpkg in a scratch root: installs, is registered, removes every file.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$root" --force-script-chrootless --force-not-root --log=/dev/null "$@"; }
dpkg_root --force-depends -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "dpkg -i failed"; }
dpkg_root -s quillon | grep -q '^Status: install ok installed$' || fail "not registered as installed"
check_installed "$root" root
dpkg_root --purge quillon >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg --purge failed"; }
left=$(find "$root" -path "$root/var" -prune -o \( -type f -o -type l \) -print)
[ -z "$left" ] || fail "files left after removal: $left"
echo "package test: $(basename "$deb") installs, runs through its links and removes cleanly"
