#!/usr/bin/env bash
# Builds the converter and converts the MP2 files named, or a sample it makes.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/install-deps.sh" build
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target sondrik >/dev/null

if [ $# -eq 0 ]; then
  # Three seconds of a chord, encoded here: never a file from elsewhere.
  mkdir -p "$root/out"
  sox -q -n -r 48000 -c 2 -b 16 "$root/out/sample-source.wav" synth 3 sine 440 sine 660 gain -6
  twolame --quiet -b 192 "$root/out/sample-source.wav" "$root/out/sample.mp2"
  # The sample is ours to replace on every run.
  set -- -f "$root/out/sample.mp2"
fi
exec "$root/build/sondrik" "$@"
