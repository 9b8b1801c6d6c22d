#!/usr/bin/env bash
# The two Debian packages, built by CPack from this build tree: their contents and metadata, an unpacked
# copy whose quillon-cli (run through the bin/ link) finds its data files, and, in a scratch root, a
# fresh install, an upgrade from the single package of earlier releases, doctor's fixes for a package,
# and a purge that leaves nothing.
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
cli_deb=$(ls "$work"/pkg/quillon-cli_*.deb)
gui_deb=$(ls "$work"/pkg/quillon_*.deb 2>/dev/null || true)
version=$(dpkg-deb -f "$cli_deb" Version)

# Contents. Each package carries its copyright and changelog; the window's package only what the
# window needs.
dpkg-deb -c "$cli_deb" >"$work/cli.contents"
[ -z "$gui_deb" ] || dpkg-deb -c "$gui_deb" >"$work/gui.contents"
has() { sed 's/ -> .*//' "$work/$1.contents" | grep -q " \./${2#/}\$" || fail "${2} is not in the package $1"; }
cli_files=(/usr/lib/quillon/quillon-cli /usr/lib/quillon/Quillon.ini /usr/lib/quillon/zel.dat /usr/bin/quillon-cli
  /usr/lib/udev/rules.d/70-quillon.rules /usr/share/doc/quillon-cli/copyright
  /usr/share/doc/quillon-cli/changelog.Debian.gz)
gui_files=(/usr/lib/quillon/Quillon /usr/bin/quillon /usr/share/applications/quillon.desktop
  /usr/share/icons/hicolor/48x48/apps/quillon.png /usr/share/metainfo/invalid.quillon.quillon.metainfo.xml
  /usr/share/doc/quillon/copyright /usr/share/doc/quillon/changelog.Debian.gz)
cli_files+=(/usr/share/man/man1/quillon-cli.1.gz /usr/share/bash-completion/completions/quillon-cli
  /usr/share/zsh/vendor-completions/_quillon-cli)
gui_files+=(/usr/share/man/man1/quillon.1.gz)
for f in "${cli_files[@]}"; do has cli "$f"; done
grep -q ' ./usr/bin/quillon-cli -> ../lib/quillon/quillon-cli$' "$work/cli.contents" || fail "no bin/quillon-cli link"
dpkg-deb -f "$cli_deb" Depends | grep -q libhidapi || fail "quillon-cli does not depend on hidapi"
! dpkg-deb -f "$cli_deb" Depends | grep -Eq 'libqt6(gui|widgets)|libx' || fail "quillon-cli depends on the GUI stack"
dpkg-deb -f "$cli_deb" Breaks | grep -q "quillon (<< $version)" || fail "quillon-cli does not take over from quillon"
if [ -n "$gui_deb" ]; then
  for f in "${gui_files[@]}"; do has gui "$f"; done
  grep -q ' ./usr/bin/quillon -> ../lib/quillon/Quillon$' "$work/gui.contents" || fail "no bin/quillon link"
  grep -q ' ./usr/lib/quillon/quillon-cli$' "$work/gui.contents" && fail "quillon holds quillon-cli's files"
  depends=$(dpkg-deb -f "$gui_deb" Depends)
  grep -q "quillon-cli (= $version)" <<<"$depends" && grep -q 'qt6-qpa-plugins' <<<"$depends" \
    || fail "quillon does not depend on quillon-cli and the platform plugins: $depends"
fi

dpkg-deb -x "$cli_deb" "$work/unpacked"
[ -z "$gui_deb" ] || dpkg-deb -x "$gui_deb" "$work/unpacked"
u=$work/unpacked

# The command line links no Qt Gui, Widgets or X library, directly or through another library.
if ldd "$u/usr/lib/quillon/quillon-cli" | grep -E 'libQt6(Gui|Widgets)|libX|libxcb|lib(E|Open)?GL'; then
  fail "quillon-cli links the GUI stack"
fi
# Nothing installed names the checkout or the build folder. A path counts only as a whole path in a
# printable string: a short checkout path such as /w also turns up in the bytes of machine code.
re_path() { printf '%s' "$1" | sed 's/[][\.*^$+?(){}|]/\\&/g'; }
pattern="(^|[^[:alnum:]_./-])($(re_path "$src")|$(re_path "$build"))(/|\$|[^[:alnum:]_.-])"
while IFS= read -r -d '' f; do
  if strings -a -n 4 "$f" | grep -qE "$pattern"; then echo "$f" >&2; fail "installed files hold a build path"; fi
done < <(find "$u" -type f -print0)

# Copyright in the machine-readable format; the changelog compressed as policy asks, in this version.
head -1 "$u/usr/share/doc/quillon-cli/copyright" \
  | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' || fail "copyright is not DEP-5"
grep -qx 'License: Apache-2.0' "$u/usr/share/doc/quillon-cli/copyright" || fail "copyright names no licence"
gzip -t "$u/usr/share/doc/quillon-cli/changelog.Debian.gz" || fail "changelog is no gzip file"
[ "$(od -An -tx1 -j3 -N5 "$u/usr/share/doc/quillon-cli/changelog.Debian.gz" | tr -d ' ')" = 0000000000 ] \
  || fail "changelog.Debian.gz keeps a name or time stamp (gzip -n)"
zcat "$u/usr/share/doc/quillon-cli/changelog.Debian.gz" | head -1 | grep -q "^quillon ($version) " \
  || fail "changelog does not start with $version"

# The rules name exactly the devices of the installed configuration, for the seat and for plugdev.
rules=$u/usr/lib/udev/rules.d/70-quillon.rules
expected=$(grep -Eio '^(ID|Info)[0-9]+=0x[0-9a-f]+, *0x[0-9a-f]+' "$u/usr/lib/quillon/Quillon.ini" \
  | sed -E 's/.*=(0x[0-9a-f]+), *(0x[0-9a-f]+)/\1 \2/' | xargs -n2 printf '%04x:%04x\n' | sort -u)
got=$(grep -v '^#' "$rules" | grep . | sed -E 's/^SUBSYSTEM=="hidraw", KERNELS=="0003:([0-9A-F]{4}):([0-9A-F]{4})\.\*".*/\1:\2/' | tr A-F a-f | sort)
[ -n "$expected" ] && [ "$got" = "$expected" ] || fail "rules name $got, the configuration $expected"
grep -v '^#' "$rules" | grep . | grep -v 'TAG+="uaccess", GROUP="plugdev", MODE="0660"$' && fail "a rule without seat or group access"

# The installed quillon-cli, run through its link, finds Quillon.ini and zel.dat beside its real file.
check_installed() {
  local root=$1
  rm -rf "$work/sim" && cp -r "$src/examples/sim" "$work/sim"
  local out
  out=$("$root/usr/bin/quillon-cli" --sim "$work/sim" list) || fail "installed quillon-cli list failed"
  grep -q '^  Chipset:     ZA1200+ZH880$' <<<"$out" || fail "installed quillon-cli did not name the chipset: $out"
  out=$("$root/usr/bin/quillon-cli" --json config check) || fail "installed configuration does not load: $out"
  grep -q "\"ini\":\"$root/usr/lib/quillon/Quillon.ini\"" <<<"$out" || fail "config read from elsewhere: $out"
  grep -q '"ok":true' <<<"$out" || fail "configuration incomplete: $out"
}
check_installed "$u"
# doctor on an unpacked tree gives the tree's own rules file.
mkdir -p "$work/empty"
out=$(QUILLON_SYSROOT=$work/empty "$u/usr/bin/quillon-cli" doctor) && fail "doctor found no missing rules"
grep -qF "fix: sudo install -m 644 $u/usr/lib/udev/rules.d/70-quillon.rules /etc/udev/rules.d/" <<<"$out" \
  || fail "doctor's fix for an install tree: $out"

# dpkg in a scratch root.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"
dpkg_root() {
  dpkg --root="$root" --force-script-chrootless --force-not-root --log=/dev/null "$@" >"$work/dpkg.log" 2>&1 \
    || { cat "$work/dpkg.log" >&2; fail "dpkg $*"; }
}
installed() { dpkg-query --root="$root" -W -f='${Status} ${Version}' "$1" 2>/dev/null || true; }
purge_all() {
  dpkg_root --purge quillon quillon-cli
  left=$(find "$root" -path "$root/var" -prune -o \( -type f -o -type l \) -print)
  [ -z "$left" ] || fail "files left after purge: $left"
}
packages=("$cli_deb" ${gui_deb:+"$gui_deb"})

# Fresh install; doctor tells a local package from one an apt source offers.
dpkg_root --force-depends -i "${packages[@]}"
[ "$(installed quillon-cli)" = "install ok installed $version" ] || fail "quillon-cli not registered"
check_installed "$root"
rm "$root/usr/lib/udev/rules.d/70-quillon.rules"
doctor_fix() { QUILLON_SYSROOT=$root "$root/usr/bin/quillon-cli" --json doctor | grep -o '"fix":"[^"]*apt-get[^"]*"' || true; }
arch=$(dpkg-deb -f "$cli_deb" Architecture)
grep -qF "sudo apt-get install --reinstall ./quillon-cli_${version}_$arch.deb && sudo udevadm" <<<"$(doctor_fix)" \
  || fail "doctor's fix for a local package: $(doctor_fix)"
mkdir -p "$root/var/lib/apt/lists"
printf 'Package: quillon-cli\nVersion: %s\nArchitecture: %s\n\n' "$version" "$arch" >"$root/var/lib/apt/lists/x_Packages"
grep -qF '"fix":"sudo apt-get install --reinstall quillon-cli && sudo udevadm' <<<"$(doctor_fix)" \
  || fail "doctor's fix for a package from an archive: $(doctor_fix)"
rm -r "$root/var/lib/apt"
dpkg_root --force-depends -i "$cli_deb"  # what the reinstall does
[ -f "$root/usr/lib/udev/rules.d/70-quillon.rules" ] || fail "reinstalling brought the rules back"
purge_all

# Upgrade from the single package quillon that held everything.
if [ -n "$gui_deb" ]; then
  old=$work/old
  dpkg-deb -R "$gui_deb" "$old" && dpkg-deb -x "$cli_deb" "$old"
  sed -i -e "s/^Version: .*/Version: ${version%-*}/" -e 's/^Depends: quillon-cli[^,]*, qt6-qpa-plugins, /Depends: /' \
    "$old/DEBIAN/control"
  cp "$src/packaging/postinst" "$src/packaging/postrm" "$old/DEBIAN/"
  dpkg-deb --root-owner-group -b "$old" "$work/quillon-old.deb" >/dev/null
  dpkg_root --force-depends -i "$work/quillon-old.deb"
  dpkg_root --force-depends --auto-deconfigure -i "${packages[@]}"  # as apt runs it
  [ "$(installed quillon)" = "install ok installed $version" ] || fail "quillon not upgraded: $(installed quillon)"
  check_installed "$root"
  purge_all
fi
echo "package test: $(basename -a "${packages[@]}" | tr '\n' ' ')install, upgrade, run through their links and purge cleanly"
