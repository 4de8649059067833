#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds every preset and runs
# every test: native; AddressSanitizer + UndefinedBehaviorSanitizer;
# ThreadSanitizer (the reliability tests); a one-minute libFuzzer run of each
# fuzz target under ASan + UBSan; and the DLLs under Wine. Quiet on success;
# on failure it shows the log of what failed. Prints how long each preset
# took to build and to test.
#
# The presets run in three lanes side by side, so that one lane builds while
# another tests: linux, linux-tsan and linux-fuzz; linux-asan; win64 and then
# win32 (whose ZIP test takes the 64-bit DLL from win64).
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || { echo "test: set-up failed" >&2; exit 1; }

logs=$(mktemp -d /tmp/bspp-test.XXXXXX)
started=$SECONDS

# Builds and tests one preset. Leaves in $logs: PRESET.line, what to say of
# it; PRESET.counts, its passed and failed tests; PRESET.errors, what failed.
run_preset() {
  local preset=$1 begin built summary passed=0 failed=0 log
  begin=$SECONDS
  log="$logs/$preset-build.log"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
    echo "$preset: build failed after $((SECONDS - begin)) s" >"$logs/$preset.line"
    { echo "test: $preset: build failed"; tail -n 60 "$log"; } >"$logs/$preset.errors"
    return
  fi
  built=$((SECONDS - begin))
  log="$logs/$preset-test.log"
  if ! ctest --preset "$preset" -j 2 >"$log" 2>&1; then
    { sed -n '/The following tests FAILED/,$p' "$log"; echo "test: full log in $log"; } \
      >"$logs/$preset.errors"
  fi
  summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
  if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=${BASH_REMATCH[1]}
    passed=$((BASH_REMATCH[2] - failed))
  fi
  echo "$passed $failed" >"$logs/$preset.counts"
  echo "$preset: ${summary:-no test summary} (build $built s, tests $((SECONDS - begin - built)) s)" \
    >"$logs/$preset.line"
}

lane() {
  local preset
  for preset in "$@"; do run_preset "$preset"; done
}

lane linux linux-tsan linux-fuzz &
lane linux-asan &
lane win64 win32 &
wait

status=0
passed_all=0
failed_all=0
for preset in linux linux-asan linux-tsan linux-fuzz win64 win32; do
  cat "$logs/$preset.line" 2>/dev/null || echo "$preset: did not run"
  if [[ -f $logs/$preset.errors || ! -f $logs/$preset.counts ]]; then
    status=1
    cat "$logs/$preset.errors" >&2 2>/dev/null
  fi
  if [[ -f $logs/$preset.counts ]]; then
    read -r passed failed <"$logs/$preset.counts"
    passed_all=$((passed_all + passed))
    failed_all=$((failed_all + failed))
  fi
done

elapsed=$((SECONDS - started))
echo "tests: $passed_all passed, $failed_all failed, in $((elapsed / 60)) min $((elapsed % 60)) s"
exit "$status"
