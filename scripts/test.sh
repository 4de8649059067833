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

# Builds and tests one preset; writes its summary line, its times and the
# counts of passed and failed tests to $logs/PRESET.result.
run_preset() {
  local preset=$1 log rc summary begin built passed=0 failed=0
  begin=$SECONDS
  log="$logs/$preset-build.log"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
    {
      echo "status=1"
      echo "line='$preset: build failed after $((SECONDS - begin)) s'"
    } >"$logs/$preset.result"
    { echo "test: $preset: build failed"; tail -n 60 "$log"; } >"$logs/$preset.errors"
    return
  fi
  built=$((SECONDS - begin))
  log="$logs/$preset-test.log"
  ctest --preset "$preset" -j 2 >"$log" 2>&1
  rc=$?
  summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
  if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=${BASH_REMATCH[1]}
    passed=$((BASH_REMATCH[2] - failed))
  fi
  if ((rc != 0)); then
    { sed -n '/The following tests FAILED/,$p' "$log"; echo "test: full log in $log"; } \
      >"$logs/$preset.errors"
  fi
  {
    echo "status=$((rc != 0))"
    echo "passed=$passed failed=$failed"
    echo "line='$preset: ${summary:-no test summary} (build $built s, tests $((SECONDS - begin - built)) s)'"
  } >"$logs/$preset.result"
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
  passed=0 failed=0 status_one=1 line="$preset: did not run"
  # shellcheck disable=SC1090
  [[ -f $logs/$preset.result ]] && source <(sed 's/^status=/status_one=/' "$logs/$preset.result")
  echo "$line"
  [[ -f $logs/$preset.errors ]] && cat "$logs/$preset.errors" >&2
  ((status_one != 0)) && status=1
  passed_all=$((passed_all + passed))
  failed_all=$((failed_all + failed))
done

elapsed=$((SECONDS - started))
echo "tests: $passed_all passed, $failed_all failed, in $((elapsed / 60)) min $((elapsed % 60)) s"
exit "$status"
