#!/usr/bin/env bash
# Runs every test: the Linux build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the suites that drive the programs for real, and
# a minute of each fuzzer.
# Ends with one line: "tests: N passed, N failed".
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash tools/install-deps.sh test || exit 1

passed=0
failed=0
count_ctest() {  # adds a ctest run's totals from its summary line
  local log=$1 line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}
run_ctest() {  # name, build dir, extra configure flags...
  local name=$1 dir=$2; shift 2
  echo "== $name"
  if ! cmake -S . -B "$dir" "$@" >"$dir.configure.log" 2>&1 || ! cmake --build "$dir" -j2 >"$dir.build.log" 2>&1; then
    tail -40 "$dir.configure.log" "$dir.build.log" 2>/dev/null
    echo "$name: build failed"
    failed=$((failed + 1))
    return
  fi
  ctest --test-dir "$dir" --output-on-failure -j2 2>&1 | tee "$dir.ctest.log"
  count_ctest "$dir.ctest.log"
}

mkdir -p build build-asan
run_ctest "Linux build" build -DCMAKE_BUILD_TYPE=Release
run_ctest "Sanitizer build" build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONDRIK_SANITIZE=ON

echo "== Fuzzers, 60 s each"
bash tools/fuzz.sh 60 2>&1 | tee build-fuzz.log
passed=$((passed + $(grep -c ': passed$' build-fuzz.log)))
failed=$((failed + $(grep -c -E ': (FAILED|build failed)$' build-fuzz.log)))

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
