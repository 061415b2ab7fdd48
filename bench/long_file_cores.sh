#!/usr/bin/env bash
# One long file on every core: wall and CPU time of build/sondrik at -j 1
# and -j 2 on a 10-minute and a 6.5-hour stream, the mixed batch (the long
# file and 100 three-minute ones), and the peak memory of the long file.
#   bench/long_file_cores.sh [ROUNDS]   (default 3, 15 for the 10-minute stream; medians)
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

# Prints "wall cpu rss_kb" of one run; the wall time to the microsecond
# (time's own has two decimals, too coarse for the ten-minute stream).
measure() {
  rm -rf "$out" && mkdir -p "$out"
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S %M' -o time.txt "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  read -r user sys rss <time.txt
  echo "$(python3 -c "print(f'{($end - $start) / 1e9:.4f}', round($user + $sys, 2))") $rss"
  rm -rf "$out"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# -j 1 and -j 2 take turns, so that a slow spell of the machine falls on both;
# the short stream gets five times the rounds.
printf '| input | -j | wall s | CPU s | peak RSS MiB | wall -j 2 / -j 1 |\n|---|---|---|---|---|---|\n'
for input in ten.mp2 long.mp2 mixed; do
  runs=$rounds
  [ "$input" = ten.mp2 ] && runs=$((rounds * 5))
  : >runs1.txt
  : >runs2.txt
  for _ in $(seq 1 "$runs"); do
    for jobs in 1 2; do
      if [ "$input" = mixed ]; then
        measure "$sondrik" -q -f -j "$jobs" -o "$out" long.mp2 batch >>"runs$jobs.txt"
      else
        measure "$sondrik" -q -f -j "$jobs" -o "$out" "$input" >>"runs$jobs.txt"
      fi
    done
  done
  wall1=$(cut -d' ' -f1 runs1.txt | median)
  for jobs in 1 2; do
    wall=$(cut -d' ' -f1 "runs$jobs.txt" | median)
    cpu=$(cut -d' ' -f2 "runs$jobs.txt" | median)
    rss=$(cut -d' ' -f3 "runs$jobs.txt" | median)
    ratio=$(python3 -c "print(f'{$wall / $wall1:.3f}')")
    printf '| %s | %s | %s | %s | %s | %s |\n' "$input" "$jobs" "$wall" "$cpu" "$((rss / 1024))" "$ratio"
  done
done
