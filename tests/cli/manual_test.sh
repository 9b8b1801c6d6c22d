#!/usr/bin/env bash
# The manual pages and the shell completion against the program's own --help: every command and every
# option that the help of quillon-cli and of each of its commands names is in quillon-cli(1) and in
# both completions; every option of the window's --help is in quillon(1).
set -euo pipefail
bin=$1/bin manual=$1/manual
fail() { echo "manual_test: $*" >&2; exit 1; }
text() { zcat "$1" | sed 's/\\-/-/g; s/\\f[BIR]//g'; }
cli_man=$(text "$manual/quillon-cli.1.gz")
commands() { "$bin/quillon-cli" "$@" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF {print $1}'; }
words=()
for top in $(commands); do
  subs=$(commands "$top")
  if [ -z "$subs" ]; then words+=("$top"); else for sub in $subs; do words+=("$top $sub"); done; fi
done
[ ${#words[@]} -ge 10 ] || fail "only ${#words[@]} commands found in the help"
for w in "" "${words[@]}"; do
  # shellcheck disable=SC2086
  help=$("$bin/quillon-cli" $w --help)
  for name in $w; do
    for file in "$manual/quillon-cli.bash" "$manual/_quillon-cli"; do
      grep -qw -- "$name" "$file" || fail "$file does not complete the command $name"
    done
  done
  [ -z "$w" ] || grep -qF ".SS \"$w\"" <<<"$cli_man" || fail "quillon-cli(1) has no section $w"
  for option in $(grep -oE '(^|[ ,])--?[a-z][a-z-]*' <<<"$help" | tr -d ' ,' | sort -u); do
    [ "$option" = --help ] || [ "$option" = -h ] && continue
    grep -qF -- "$option" <<<"$cli_man" || fail "quillon-cli(1) does not name $option (help of '$w')"
    for file in "$manual/quillon-cli.bash" "$manual/_quillon-cli"; do
      grep -qE -- "[ ']$option( |')" "$file" || fail "$file does not complete $option (help of '$w')"
    done
  done
done
if [ -x "$bin/Quillon" ]; then
  gui_man=$(text "$manual/quillon.1.gz")
  for option in $("$bin/Quillon" --help | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
    grep -qF -- "$option" <<<"$gui_man" || fail "quillon(1) does not name $option"
  done
fi
bash -n "$manual/quillon-cli.bash" || fail "the bash completion is not valid bash"
echo "manual_test: ${#words[@]} commands agree"
