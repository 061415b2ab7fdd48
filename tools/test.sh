#!/usr/bin/env bash
# Runs every test: the Linux build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the suites that drive the programs for real, the
# aarch64 build under qemu, the Windows program under Wine, and a minute of
# each fuzzer. Ends with one line: "tests: N passed, N failed"; skipped tests
# (a path this processor lacks) are counted in neither, on a line of their own.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash tools/install-deps.sh test || exit 1

passed=0
failed=0
skipped=0
count_ctest() {  # adds a ctest run's totals from its summary line
  local log=$1 line total bad skip
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  # ctest counts a skipped test as passed; it lists it as not run.
  skip=$(grep -c -E '^\s+[0-9]+ - .*\(Skipped\)$' "$log")
  passed=$((passed + total - bad - skip))
  failed=$((failed + bad))
  skipped=$((skipped + skip))
}
run_ctest() {  # name, build dir, extra configure flags...
  local name=$1 dir=$2; shift 2
  echo "== $name"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" "$@" >"$dir/configure.log" 2>&1 || ! cmake --build "$dir" -j2 >"$dir/build.log" 2>&1; then
    tail -40 "$dir/configure.log" "$dir/build.log" 2>/dev/null
    echo "$name: build failed"
    failed=$((failed + 1))
    return
  fi
  ctest --test-dir "$dir" --output-on-failure -j2 2>&1 | tee "$dir/ctest.log"
  count_ctest "$dir/ctest.log"
}

# The Windows program, cross-built and driven for real under Wine; its WAV
# files are compared with the Linux build's.
run_wine_suite() {
  local dir=build-win32
  echo "== Windows program under Wine"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
      >"$dir/configure.log" 2>&1 || ! cmake --build "$dir" -j2 >"$dir/build.log" 2>&1; then
    tail -40 "$dir/configure.log" "$dir/build.log" 2>/dev/null
    echo "Windows build failed"
    failed=$((failed + 1))
    return
  fi
  # Wine runs a 32-bit program as a 32-bit Linux process; some kernels are
  # built or booted without that (the loader then fails with "Exec format
  # error"). The program is built all the same; only its run is skipped.
  /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
  if [ $? -eq 126 ]; then
    echo "skipped: this machine can't run 32-bit x86 programs, which Wine needs for the Windows program"
    skipped=$((skipped + 1))
    return
  fi
  bash tests/wine/run_wine_suite.sh "$dir" build "$dir/screenshot.png" 2>&1 | tee "$dir/wine.log"
  local line
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$dir/wine.log" | tail -1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  passed=$((passed + $(cut -d' ' -f1 <<<"$line")))
  failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
}

# The aarch64 build, cross-compiled and run under qemu on each of its synthesis
# paths; its WAV files are compared with the recorded hashes and with the
# x86-64 build's, so it runs after the Linux build's tests made the corpus.
run_aarch64_suite() {
  local dir=build-aarch64
  echo "== aarch64 build under qemu"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
      -DBUILD_TESTING=OFF >"$dir/configure.log" 2>&1 ||
    ! cmake --build "$dir" -j2 --target sondrik synthesis_path_report >"$dir/build.log" 2>&1; then
    tail -40 "$dir/configure.log" "$dir/build.log" 2>/dev/null
    echo "aarch64 build failed"
    failed=$((failed + 1))
    return
  fi
  bash tests/cross/run_aarch64_suite.sh "$dir" build 2>&1 | tee "$dir/suite.log"
  local line
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$dir/suite.log" | tail -1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  passed=$((passed + $(cut -d' ' -f1 <<<"$line")))
  failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
}

# Conversions side by side on threads, under ThreadSanitizer: two streams in
# one process, chunks decoded while their stream is still being listed, and
# the command line's -j.
run_tsan() {
  local dir=build-tsan
  echo "== ThreadSanitizer build"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONDRIK_THREAD_SANITIZE=ON >"$dir/configure.log" 2>&1 ||
    ! cmake --build "$dir" -j2 --target sondrik sondrik_memory_tests sondrik_tests >"$dir/build.log" 2>&1; then
    tail -40 "$dir/configure.log" "$dir/build.log" 2>/dev/null
    echo "ThreadSanitizer build failed"
    failed=$((failed + 1))
    return
  fi
  # Chunks of a few frames even for small files, so that -j runs the chunk pool too.
  TSAN_OPTIONS=halt_on_error=1 SONDRIK_CHUNK_FRAMES=7 SONDRIK_CHUNK_MIN_BYTES=0 \
    ctest --test-dir "$dir" --output-on-failure -R 'TwoStreams|ChunkedStream|cli\.jobs' 2>&1 | tee "$dir/ctest.log"
  count_ctest "$dir/ctest.log"
}

run_ctest "Linux build" build -DCMAKE_BUILD_TYPE=Release
run_tsan
run_aarch64_suite
run_ctest "Sanitizer build" build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONDRIK_SANITIZE=ON
run_wine_suite

echo "== Fuzzers, 60 s each"
mkdir -p build-fuzz
bash tools/fuzz.sh 60 2>&1 | tee build-fuzz/fuzz.log
passed=$((passed + $(grep -c ': passed$' build-fuzz/fuzz.log)))
failed=$((failed + $(grep -c -E ': (FAILED|build failed)$' build-fuzz/fuzz.log)))

[ "$skipped" -eq 0 ] || echo "skipped: $skipped (paths this processor doesn't run, or the Wine suite)"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
