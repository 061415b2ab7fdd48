#!/usr/bin/env bash
# Files per second over 40 files of 15 s: build/sondrik -j 2 against -j 1, and
# mpg123 and ffmpeg converting the same files one after another.
#   bench/jobs.sh [RUNS]   (hyperfine runs per command, default 5)
# The files are generated once with sox and twolame into $BENCH_DIR/jobs
# (default build/bench/jobs) and kept for later runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${BENCH_DIR:-$root/build/bench}/jobs"
sondrik="${SONDRIK:-$root/build/sondrik}"
runs=${1:-5}
for tool in sox twolame mpg123 ffmpeg hyperfine; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$sondrik" ] || { echo "bench: build sondrik first (cmake --build build)" >&2; exit 1; }
mkdir -p "$work/mp2"
cd "$work"

# Forty different 15 s streams: tones over pink noise, 48 kHz stereo at 192 kbit/s.
for i in $(seq -w 1 40); do
  [ -s "mp2/take$i.mp2" ] && continue
  sox -R -c 2 -r 48000 -n -b 16 src.wav synth 15 sine $((200 + 10#$i * 17)) pinknoise tremolo 3 40 gain -8
  twolame --quiet -b 192 src.wav "mp2/take$i.mp2"
done
rm -f src.wav
# Each run starts from an empty output folder; the reference decoders are
# started once per file, as a shell loop would.
hyperfine -N --warmup 1 --runs "$runs" --prepare 'rm -rf out' --export-json result.json \
  -n "sondrik -j 1" "$sondrik -q -j 1 -o out mp2" \
  -n "sondrik -j 2" "$sondrik -q -j 2 -o out mp2" \
  -n "mpg123 -w, one after another" "bash -c 'mkdir -p out; for f in mp2/*.mp2; do mpg123 -q -w out/\$(basename \$f .mp2).wav \$f; done'" \
  -n "ffmpeg mp2float, one after another" "bash -c 'mkdir -p out; for f in mp2/*.mp2; do ffmpeg -v error -y -c:a mp2float -i \$f -c:a pcm_s16le out/\$(basename \$f .mp2).wav; done'" \
  >/dev/null 2>&1

echo "# 40 files of 15 s (48 kHz stereo, 192 kbit/s); median of $runs runs; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| command | median s | files per second | against sondrik -j 1 |"
echo "|---|---:|---:|---:|"
python3 - result.json <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
base = results[0]["median"]
for r in results:
    print(f"| {r['command']} | {r['median']:.3f} | {40 / r['median']:.1f} | {base / r['median']:.2f}x |")
PY
