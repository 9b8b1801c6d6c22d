#!/usr/bin/env bash
# Reads the profile edge cases through Quillon's reader and through the Windows profile API under
# Wine, and fails unless both give the same values for every case except those that
# docs/configuration.md lists as deliberate differences, which must still differ.
# Usage: profile_differential.sh PROBE WIN_PROBE_EXE WINE64 WINESERVER WORK_DIR CONFIGURATION_MD
set -euo pipefail
probe=$1 exe=$2 wine=$3 wineserver=$4 work=$5 doc=$6

for tool in "$probe" "$exe" "$wine" "$wineserver"; do
  if [ ! -f "$tool" ]; then
    echo "FAIL: $tool is missing (scripts/setup.sh installs wine64 and gcc-mingw-w64-x86-64)" >&2
    exit 1
  fi
done

# A private prefix in the build tree, no display, no downloads of the .NET or HTML runtimes, no
# debug output, and the Western code page for unmarked files.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' LC_ALL=C.UTF-8 LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$work"
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT

if [ ! -f "$WINEPREFIX/.ready" ]; then
  rm -rf "$WINEPREFIX"
  echo "creating the Wine prefix $WINEPREFIX"
  start=$SECONDS
  "$wine" wineboot --init >"$work/wineboot.log" 2>&1
  "$wineserver" -w
  touch "$WINEPREFIX/.ready"
  echo "prefix ready in $(( SECONDS - start )) s"
fi
"$wine" --version || true

cases=$work/cases
rm -rf "$cases"
"$probe" write "$cases"
(cd "$cases" && "$probe" read . >quillon.txt)
(cd "$cases" && "$wine" "$exe" queries.txt wine.txt >"$work/wine.log" 2>&1) || {
  echo "FAIL: the Windows probe did not run:" >&2; cat "$work/wine.log" >&2; exit 1; }

nQueries=$(wc -l <"$cases/queries.txt")
for out in quillon.txt wine.txt; do
  if [ "$(wc -l <"$cases/$out")" -ne "$nQueries" ]; then
    echo "FAIL: $out does not answer all $nQueries queries" >&2; exit 1
  fi
done

# The case names of the table under the heading of deliberate differences.
documented=$(awk '/^### Deliberate differences/ {on = 1; next} /^#/ {on = 0}
                  on && /^\| `[a-z0-9-]+` \|/ {split($0, f, "`"); print f[2]}' "$doc" | sort -u)
if [ -z "$documented" ]; then
  echo "FAIL: no deliberate differences found in $doc" >&2; exit 1
fi

# One line per query whose answers differ: case TAB query TAB Quillon's answer TAB Wine's.
paste "$cases/quillon.txt" "$cases/wine.txt" | awk -F'\t' '
  { q = $1 " [" $3 "] " $4; if ($5 != $10 || $2 != $7 || $4 != $9) { sub(/\.ini$/, "", $2); print $2 "\t" q "\t" $5 "\t" $10 } }' \
  >"$work/differences.txt"
differing=$(cut -f1 "$work/differences.txt" | sort -u)
nCases=$(cut -f2 "$cases/queries.txt" | sort -u | wc -l)

status=0
while IFS=$'\t' read -r name query ours theirs; do
  if grep -qx -- "$name" <<<"$documented"; then kind=deliberate; else kind=UNEXPECTED; status=1; fi
  printf '%-11s %-28s %s\n    Quillon: %s\n    Windows: %s\n' "$kind" "$name" "$query" "$ours" "$theirs"
done <"$work/differences.txt"
for name in $documented; do
  if ! grep -qx -- "$name" <<<"$differing"; then
    if grep -q "^[IS]	$name\.ini	" "$cases/queries.txt"; then
      echo "FAIL: $name is listed as a deliberate difference but both readers agree"
    else
      echo "FAIL: $name is listed as a deliberate difference but is no edge case"
    fi
    status=1
  fi
done
echo "$nCases cases, $nQueries queries, $(grep -c . <<<"$differing" || true) cases differing"
exit $status
