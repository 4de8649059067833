#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds every preset and runs
# every test: native; AddressSanitizer + UndefinedBehaviorSanitizer;
# ThreadSanitizer (the reliability tests); a one-minute libFuzzer run of the
# job composition under ASan + UBSan; and the DLL under Wine. Quiet on
# success; on failure it shows the log of what failed.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || { echo "test: set-up failed" >&2; exit 1; }

logs=$(mktemp -d /tmp/bspp-test.XXXXXX)
presets=(linux linux-asan linux-tsan linux-fuzz win64 win32)
passed=0
failed=0
status=0

for preset in "${presets[@]}"; do
  log="$logs/$preset-build.log"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
    echo "test: $preset: build failed" >&2
    tail -n 60 "$log" >&2
    status=1
    continue
  fi
  log="$logs/$preset-test.log"
  ctest --preset "$preset" -j 2 >"$log" 2>&1
  rc=$?
  summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
  echo "$preset: ${summary:-no test summary}"
  if ((rc != 0)); then
    status=1
    sed -n '/The following tests FAILED/,$p' "$log" >&2
    echo "test: full log in $log" >&2
  fi
  if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
done

echo "tests: $passed passed, $failed failed"
exit "$status"
