#!/usr/bin/env bash
# One long file on every core: wall and CPU time of build/sondrik at -j 1
# and -j 2 on a 10-minute and a 6.5-hour stream, the mixed batch (the long
# file and 100 three-minute ones), and the peak memory of the long file;
# also what two cores give here: two one-pass conversions at once.
#   bench/long_file_cores.sh [ROUNDS]   (default 3, 15 for the 10-minute stream; medians)
# Streams are made once with sox and twolame into $BENCH_DIR/cores (default
# build/bench/cores, about 700 MB) and kept; the WAV files go to $BENCH_OUT,
# or else to /dev/shm when it has room, and are removed after each run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${BENCH_DIR:-$root/build/bench}/cores"
sondrik="${SONDRIK:-$root/build/sondrik}"
rounds=${1:-3}
for tool in sox twolame python3 hyperfine; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$sondrik" ] || { echo "bench: build sondrik first (cmake --build build)" >&2; exit 1; }
mkdir -p "$work/batch"
cd "$work"
out=/dev/shm/sondrik-cores
[ "$(df --output=avail -k /dev/shm | tail -1)" -gt 6000000 ] || out="$work/out"
out="${BENCH_OUT:-$out}"

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

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# Wall seconds of one run of a command, timed by hyperfine, the WAV files
# removed before it.
wall_of() {
  hyperfine -N --runs 1 --style none --prepare "rm -rf $out" --export-json run.json "$1" >/dev/null 2>&1
  python3 -c "import json; print(json.load(open('run.json'))['results'][0]['times'][0])"
}

# hyperfine times the converter itself, -j 1 and -j 2 taking turns round by
# round (a slow spell of the machine falls on both), the WAV files removed
# before each run; the short stream gets five times the rounds. Peak RSS is
# time's, from runs of their own.
printf '| input | -j | wall s | CPU s | peak RSS MiB | wall -j 2 / -j 1 |\n|---|---|---|---|---|---|\n'
for input in ten.mp2 long.mp2 mixed; do
  runs=$rounds
  [ "$input" = ten.mp2 ] && runs=$((rounds * 5))
  sources=("$input")
  [ "$input" = mixed ] && sources=(long.mp2 batch)
  : >walls1.txt
  : >walls2.txt
  : >cpus1.txt
  : >cpus2.txt
  : >alone.txt
  : >pair.txt
  for _ in $(seq 1 "$runs"); do
    for jobs in 1 2; do
      hyperfine -N --runs 1 --style none --prepare "rm -rf $out" --export-json run.json \
        "$sondrik -q -f -j $jobs -o $out ${sources[*]}" >/dev/null 2>&1
      python3 -c "import json; r = json.load(open('run.json'))['results'][0]; print(r['times'][0])" >>"walls$jobs.txt"
      python3 -c "import json; r = json.load(open('run.json'))['results'][0]; print(r['user'] + r['system'])" >>"cpus$jobs.txt"
    done
    # What two cores give here, in the same rounds: two one-pass conversions
    # at once against one alone. Virtual cores that share a physical core's
    # floating-point units slow each other down, and no split of one file
    # can do better than two whole files.
    if [ "$input" = ten.mp2 ]; then
      one="$sondrik -q -f -j 1 -o $out/0 ten.mp2 >/dev/null"
      wall_of "bash -c \"$one; wait\"" >>alone.txt
      wall_of "bash -c \"$one & $sondrik -q -f -j 1 -o $out/1 ten.mp2 >/dev/null; wait\"" >>pair.txt
    fi
  done
  wall1=$(median <walls1.txt)
  for jobs in 1 2; do
    rm -rf "$out" && mkdir -p "$out"
    /usr/bin/time -f '%M' -o rss.txt "$sondrik" -q -f -j "$jobs" -o "$out" "${sources[@]}" >/dev/null 2>&1
    rss=$(cat rss.txt)
    rm -rf "$out"
    wall=$(median <"walls$jobs.txt")
    cpu=$(median <"cpus$jobs.txt")
    printf '| %s | %s | %.4f | %.2f | %s | %.3f |\n' "$input" "$jobs" "$wall" "$cpu" "$((rss / 1024))" \
      "$(python3 -c "print($wall / $wall1)")"
  done
  if [ "$input" = ten.mp2 ]; then
    alone=$(median <alone.txt)
    pair=$(median <pair.txt)
    printf '| ten.mp2, two at once | 1 each | %.4f | | | %.3f (%.4f s alone: the best a split reaches here) |\n' \
      "$pair" "$(python3 -c "print($pair / 2 / $alone)")" "$alone"
  fi
done
