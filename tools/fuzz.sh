#!/usr/bin/env bash
# Builds the three fuzzers (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each for SECONDS (default 60), one after the other, from the seeds
# and the corpus of earlier runs. Prints each run's figures; exits non-zero
# when a fuzzer fails to build or finds a crash, leaving the input in
# build-fuzz/crashes/.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds=${1:-60}
build=build-fuzz

if ! cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONDRIK_FUZZ=ON \
       -DBUILD_TESTING=OFF >"$build.configure.log" 2>&1 ||
   ! cmake --build "$build" -j2 --target decode_stream_fuzzer command_line_split_fuzzer demux_fuzzer >"$build.build.log" 2>&1; then
  tail -40 "$build.configure.log" "$build.build.log"
  echo "fuzzers: build failed"
  exit 2
fi

# Seeds: the first frames of every golden stream (whole streams make each run
# slow), the odd streams, the command-line texts and the small containers.
mkdir -p "$build/seeds/decode_stream" "$build/corpus/decode_stream" "$build/corpus/command_line_split" \
  "$build/corpus/demux" "$build/crashes"
for f in tests/data/golden/*.mp2; do head -c 3500 "$f" >"$build/seeds/decode_stream/$(basename "$f")"; done
cp fuzz/seeds/decode_stream/*.mp2 fuzz/seeds/decode_stream/*.bin "$build/seeds/decode_stream/"

status=0
run() {  # fuzzer, corpus, seeds, longest input (4096 unless given)
  local fuzzer=$1 corpus=$2 seeds=$3 max_len=${4:-4096} log="$build/$1.log"
  echo "== $fuzzer, $seconds s"
  "$build/fuzz/$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$fuzzer-" "$corpus" "$seeds" >"$log" 2>&1
  local rc=$?
  grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)' "$log" | tail -2
  grep -E '^stat::number_of_executed_units' "$log"
  if [ $rc -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -10
    echo "$fuzzer: FAILED"
    status=1
  else
    echo "$fuzzer: passed"
  fi
}
run decode_stream_fuzzer "$build/corpus/decode_stream" "$build/seeds/decode_stream"
run command_line_split_fuzzer "$build/corpus/command_line_split" fuzz/seeds/command_line
# Containers need room for their tables and a few packets of each track.
run demux_fuzzer "$build/corpus/demux" fuzz/seeds/demux 20480
exit $status
