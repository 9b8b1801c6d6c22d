#!/usr/bin/env bash
# The device library against hostile devices on real nodes: a short or malformed report descriptor,
# input reports of the wrong size, answers to the wrong sequence number. Each ends in a clear result
# (the device is not listed), never a crash or a hang; a well-behaved device beside it is still found.
source "$(dirname "$0")/lib.sh"

sim_copy good
rm "$work/good"/za{1200,2400,3600}.json
for quirk in "--descriptor short" "--descriptor malformed" "--input-size 40" "--input-size 65" "--wrong-seq"; do
  sim_copy bad
  rm "$work/bad"/za{2400,3600,4800}.json
  "$bin/quillon-uhid" "$work/good" >/dev/null 2>&1 &
  good=$!
  # shellcheck disable=SC2086 # the quirk is an option and its value
  "$bin/quillon-uhid" $quirk "$work/bad" >"$work/uhid.out" 2>&1 &
  bad=$!
  sleep 2
  udevadm settle
  status=0
  out=$(cli list 2>&1) || status=$?
  [ "$status" -lt 124 ] || fail "$quirk: list ended with status $status: $out"
  grep -q '^  Serial:      ZA1200-000101$' <<<"$out" && fail "$quirk: the hostile device is listed: $out"
  grep -q '^  Serial:      ZA4800-000410$' <<<"$out" || fail "$quirk: the good device is not listed: $out"
  echo "$quirk: $(ls /dev/hidraw* 2>/dev/null | wc -l) node(s)"
  kill -TERM "$good" "$bad"
  wait "$good" "$bad" || fail "$quirk: quillon-uhid did not end cleanly"
  wait_nodes 0
done
finish
