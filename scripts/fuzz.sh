#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, ASan + UBSan), replays every target's seeds and
# regression inputs, then fuzzes each target for SECONDS (default 60), two targets at a time.
# Fails on any crash, sanitizer report, leak, timeout or out-of-memory.
#
#   scripts/fuzz.sh [SECONDS]
#
# Logs: build/fuzz/fuzz-logs/<target>.log. What a target finds is written to
# build/fuzz/findings/<target>/; keep it as a regression input under fuzz/regressions/<target>/.
# The corpus each run grows is kept in build/fuzz/corpus/<target>/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${FUZZ_JOBS:-2}
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

targets=(fuzz_profile fuzz_flash_table_text fuzz_flash_table_file fuzz_image_record
         fuzz_device_responses fuzz_emulator_commands fuzz_device_files)

bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target quillon_fuzz -j "$jobs"

build=build/fuzz
bin=$build/fuzz
logs=$build/fuzz-logs
mkdir -p "$logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Options of one target beyond the common ones. The image target's seeds are whole 64 KB images;
# the record is 36 bytes, so mutants stay small to keep the file reads fast.
extra_options() {
  case "$1" in
    fuzz_image_record) echo "-max_len=8192" ;;
    *) echo "" ;;
  esac
}

# Existing input folders of a target: its seeds and its regression inputs.
inputs() {
  local t=$1
  for d in "$bin/seeds/$t" "fuzz/regressions/$t"; do
    [ -d "$d" ] && echo "$d"
  done
  return 0
}

failed=()

echo "== replaying seeds and regression inputs"
for t in "${targets[@]}"; do
  # shellcheck disable=SC2046
  if "$bin/$t" -runs=0 -timeout=60 -rss_limit_mb=4096 $(inputs "$t") >"$logs/$t.replay.log" 2>&1; then
    echo "$t: $(grep -Eo '^#[0-9]+[[:space:]]+DONE' "$logs/$t.replay.log" | grep -Eo '^#[0-9]+' | tr -d '#' | head -1) inputs replayed"
  else
    echo "$t: replay FAILED (see $logs/$t.replay.log)"
    tail -40 "$logs/$t.replay.log"
    failed+=("$t")
  fi
done

run_target() {
  local t=$1
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  # shellcheck disable=SC2046
  "$bin/$t" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict="fuzz/dict/$t.dict" -artifact_prefix="$build/findings/$t/" $(extra_options "$t") \
    "$build/corpus/$t" $(inputs "$t") >"$logs/$t.log" 2>&1
}

echo "== fuzzing each target for ${seconds} s"
declare -A pids=()
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n || true
  done
  run_target "$t" &
  pids[$t]=$!
done

for t in "${targets[@]}"; do
  if wait "${pids[$t]}"; then
    runs=$(grep -Eo 'stat::number_of_executed_units:[[:space:]]+[0-9]+' "$logs/$t.log" | grep -Eo '[0-9]+$' || echo '?')
    speed=$(grep -Eo 'stat::average_exec_per_sec:[[:space:]]+[0-9]+' "$logs/$t.log" | grep -Eo '[0-9]+$' || echo '?')
    cov=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$logs/$t.log" | grep -Eo 'cov: [0-9]+' | tail -1 || true)
    echo "$t: ${runs} executions, ${speed}/s, ${cov:-cov: ?}, no crash"
  else
    echo "$t: FAILED (see $logs/$t.log; input in $build/findings/$t/)"
    grep -E 'ERROR|SUMMARY|Test unit written' "$logs/$t.log" | head -10 || true
    failed+=("$t")
  fi
done

# A target that failed its replay counts once.
mapfile -t failed < <(printf '%s\n' "${failed[@]}" | sort -u | sed '/^$/d')
passed=$(( ${#targets[@]} - ${#failed[@]} ))
echo "fuzz: ${passed} passed, ${#failed[@]} failed"
[ "${#failed[@]}" -eq 0 ]
