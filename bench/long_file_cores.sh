#!/usr/bin/env bash
# One long file on every core: wall and CPU time of build/sondrik at -j 1
# and -j 2 on a 10-minute and a 6.5-hour stream, the mixed batch (the long
# file and 100 three-minute ones), and the peak memory of the long file.
#   bench/long_file_cores.sh [ROUNDS]   (default 3; medians)
# Streams are made once with sox and twolame into $BENCH_DIR/cores (default
# build/bench/cores, about 700 MB) and kept; the WAV files go to /dev/shm
# when it has room, and are removed after each run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${BENCH_DIR:-$root/build/bench}/cores"
sondrik="${SONDRIK:-$root/build/sondrik}"
rounds=${1:-3}
for tool in sox twolame python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$sondrik" ] || { echo "bench: build sondrik first (cmake --build build)" >&2; exit 1; }
mkdir -p "$work/batch"
cd "$work"
out=/dev/shm/sondrik-cores
[ "$(df --output=avail -k /dev/shm | tail -1)" -gt 6000000 ] || out="$work/out"

# Ten minutes of tones over pink noise, 48 kHz stereo at 192 kbit/s; the
# long file is 39 of them back to back (Layer II frames stand alone).
if [ ! -s ten.mp2 ]; then
  sox -R -c 2 -r 48000 -n -b 16 ten.wav synth 600 sine 300-3000 pinknoise tremolo 2 40 gain -8
  twolame --quiet -b 192 ten.wav ten.mp2
  rm -f ten.wav
fi
[ -s long.mp2 ] || for _ in $(seq 1 39); do cat ten.mp2; done >long.mp2
for i in $(seq -w 1 100); do
  [ -s "batch/take$i.mp2" ] && continue
  head -c $((192000 / 8 * 180)) ten.mp2 >"batch/take$i.mp2"
done

# Prints "wall cpu rss_kb" of one run.
measure() {
  rm -rf "$out" && mkdir -p "$out"
  /usr/bin/time -f '%e %U %S %M' -o time.txt "$@" >/dev/null 2>&1
  read -r wall user sys rss <time.txt
  echo "$wall $(python3 -c "print($user + $sys)") $rss"
  rm -rf "$out"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

printf '| input | -j | wall s | CPU s | peak RSS MiB |\n|---|---|---|---|---|\n'
for input in ten.mp2 long.mp2 mixed; do
  for jobs in 1 2; do
    : >runs.txt
    for _ in $(seq 1 "$rounds"); do
      if [ "$input" = mixed ]; then
        measure "$sondrik" -q -f -j "$jobs" -o "$out" long.mp2 batch >>runs.txt
      else
        measure "$sondrik" -q -f -j "$jobs" -o "$out" "$input" >>runs.txt
      fi
    done
    wall=$(cut -d' ' -f1 runs.txt | median)
    cpu=$(cut -d' ' -f2 runs.txt | median)
    rss=$(cut -d' ' -f3 runs.txt | median)
    printf '| %s | %s | %s | %s | %s |\n' "$input" "$jobs" "$wall" "$cpu" "$((rss / 1024))"
  done
done
