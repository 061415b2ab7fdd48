#!/usr/bin/env bash
# Times build/sondrik on each synthesis path it can run against mpg123 and
# ffmpeg on the same streams in the same run, and counts instructions with
# callgrind on the AVX2 path.
#   bench/run.sh [ROUNDS]        everything below
#   bench/run.sh --callgrind     callgrind only: repeatable on a busy machine
# Streams are generated once with sox and twolame into $BENCH_DIR (default
# build/bench, on disk) and copied to /dev/shm for the tmpfs runs.
# SONDRIK=path times another build; BEFORE=path adds an older build to the
# callgrind count. Each round runs every command once, so load that comes and
# goes hits all of them; the tables give medians over the rounds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${BENCH_DIR:-$root/build/bench}"
sondrik="${SONDRIK:-$root/build/sondrik}"
# One file at a time in the program's own process, replacing its WAV file.
one_by_one="-f -j 1"
report="$(dirname "$sondrik")/synthesis_path_report"
before="${BEFORE:-}"
rounds=7
callgrind_only=false
case "${1:-}" in
  --callgrind) callgrind_only=true ;;
  "") ;;
  *) rounds=$1 ;;
esac

for tool in sox twolame mpg123 ffmpeg hyperfine valgrind python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$sondrik" ] && [ -x "$report" ] || { echo "bench: build sondrik first (cmake --build build)" >&2; exit 1; }
mkdir -p "$work"
cd "$work"

# Tones with tremolo over pink noise: most subbands carry something, as in
# music, so allocation and synthesis do their full work. -R keeps the noise
# the same from run to run.
make_stream() {  # name seconds rate channels kbps twolame-mode
  local name=$1 seconds=$2 rate=$3 channels=$4 kbps=$5 mode=$6 mix
  [ -s "$name.mp2" ] && return
  # Two tones and two noises, mixed differently into each channel so that
  # stereo streams really carry two signals.
  mix="1v0.4,3v0.3 2v0.4,4v0.3"
  [ "$channels" -eq 1 ] && mix="1v0.2,2v0.2,3v0.15,4v0.15"
  sox -R -c 4 -r "$rate" -n -b 16 -c "$channels" "$name.src.wav" synth "$seconds" \
    sine 220 sine 330 pinknoise pinknoise tremolo 3 40 remix $mix
  twolame --quiet -b "$kbps" -m "$mode" "$name.src.wav" "$name.mp2"
  rm -f "$name.src.wav"
}
streams=(s48_stereo_192k s44_jstereo_128k s48_mono_64k s32_stereo_64k)
make_stream s48_stereo_192k 600 48000 2 192 s
make_stream s44_jstereo_128k 600 44100 2 128 j
make_stream s48_mono_64k 600 48000 1 64 m
make_stream s32_stereo_64k 600 32000 2 64 s
make_stream s48_stereo_192k_30s 30 48000 2 192 s
make_stream s48_stereo_192k_15s 15 48000 2 192 s
mkdir -p batch
for i in $(seq -w 40); do cp s48_stereo_192k_15s.mp2 "batch/b$i.mp2"; done

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "# load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# sondrik $(git -C "$root" describe --always --dirty 2>/dev/null || echo '?'), $(mpg123 --version | head -1), $(ffmpeg -version | head -1 | cut -d' ' -f1-3)"
paths=$("$report" --available | tac)  # fastest first
echo "# synthesis paths: $(echo $paths), default $("$report")"

# Instructions: callgrind counts are the same on every run. Valgrind runs
# AVX2 but not AVX-512, so the count is the AVX2 path's.
instructions() {  # command...
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' | sort -n | tail -1  # a forked helper counts apart
}
sample=s48_stereo_192k_30s
echo
echo "## Instructions (callgrind, 30 s of 48 kHz stereo 192 kbit/s)"
echo
echo "| program | instructions | per second of audio |"
echo "|---|---:|---:|"
for build in $before "$sondrik"; do
  # shellcheck disable=SC2086
  ir=$(SONDRIK_SYNTHESIS_PATH=avx2 instructions "$build" $([ "$build" = "$sondrik" ] && echo $one_by_one) "$sample.mp2")
  echo "| sondrik ($(basename "$(dirname "$build")")), AVX2 | $ir | $((ir / 30)) |"
done
ir=$(instructions mpg123 -q -w "$sample.mpg123.wav" "$sample.mp2")
echo "| mpg123 -w | $ir | $((ir / 30)) |"
rm -f "$sample".*wav
$callgrind_only && exit 0

# Every path writes the same bytes on every stream.
for name in "${streams[@]}"; do
  sums=""
  for path in $paths; do
    # shellcheck disable=SC2086
    SONDRIK_SYNTHESIS_PATH=$path "$sondrik" $one_by_one "$name.mp2" >/dev/null
    sums+="$(sha256sum <"$name.wav" | cut -c1-16) "
  done
  echo "# $name: $(tr ' ' '\n' <<<"$sums" | sed '/^$/d' | sort -u | wc -l) distinct WAV hash over the paths ($sums)"
done

peak_kib() {  # command...
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'
}

# One table per place: rounds of every command on every stream.
time_streams() {  # place-label directory
  local label=$1 dir=$2 name path
  echo
  echo "## $label: $rounds alternating rounds, medians"
  echo
  echo "| stream | program | CPU s (user+sys) | CPU / mpg123 | wall s | wall / mpg123 | peak RSS MiB |"
  echo "|---|---|---:|---:|---:|---:|---:|"
  for name in "${streams[@]}"; do
    local args=()
    for path in $paths; do
      args+=(-n "sondrik $path" "SONDRIK_SYNTHESIS_PATH=$path $sondrik $one_by_one $dir/$name.mp2")
    done
    args+=(-n "mpg123 -w" "mpg123 -q -w $dir/$name.mpg123.wav $dir/$name.mp2")
    args+=(-n "ffmpeg mp2float" "ffmpeg -v error -y -c:a mp2float -i $dir/$name.mp2 -c:a pcm_s16le $dir/$name.ffmpeg.wav")
    for round in $(seq "$rounds"); do
      hyperfine --runs 1 --style none --export-json "$work/$name.round$round.json" "${args[@]}" >/dev/null 2>&1
    done
    local peaks=""
    for path in $paths; do peaks+="$(SONDRIK_SYNTHESIS_PATH=$path peak_kib "$sondrik" $one_by_one "$dir/$name.mp2") "; done
    peaks+="$(peak_kib mpg123 -q -w "$dir/$name.mpg123.wav" "$dir/$name.mp2") "
    peaks+="$(peak_kib ffmpeg -v error -y -c:a mp2float -i "$dir/$name.mp2" -c:a pcm_s16le "$dir/$name.ffmpeg.wav")"
    python3 - "$work/$name" "$rounds" $peaks <<'PY'
import json, statistics, sys
base, rounds = sys.argv[1], int(sys.argv[2])
peaks = [int(k) / 1024 for k in sys.argv[3:]]
wall, cpu = {}, {}
for r in range(1, rounds + 1):
    for result in json.load(open(f"{base}.round{r}.json"))["results"]:
        wall.setdefault(result["command"], []).append(result["times"][0])
        cpu.setdefault(result["command"], []).append(result["user"] + result["system"])
names = list(wall)
w = {n: statistics.median(wall[n]) for n in names}
c = {n: statistics.median(cpu[n]) for n in names}
ref = "mpg123 -w"
stream = base.rsplit("/", 1)[1]
for n, peak in zip(names, peaks):
    ratio_c = "" if n == ref else f"{c[n] / c[ref]:.2f}"
    ratio_w = "" if n == ref else f"{w[n] / w[ref]:.2f}"
    print(f"| {stream} | {n} | {c[n]:.3f} | {ratio_c} | {w[n]:.3f} | {ratio_w} | {peak:.1f} |")
PY
    rm -f "$work/$name".round*.json "$dir/$name".*wav "$dir/$name.wav"
  done
}

time_streams "On disk ($(df --output=fstype "$work" | tail -1))" "$work"
shm=/dev/shm/sondrik-bench.$$
mkdir -p "$shm"
trap 'rm -rf "$shm"' EXIT
for name in "${streams[@]}"; do cp "$name.mp2" "$shm/"; done
time_streams "On tmpfs" "$shm"

# Many short files: 40 of 15 s, in one process and split over two at once.
# mpg123 writes one WAV file per run, so it runs once per file.
echo
echo "## Batch: 40 files of 15 s (48 kHz stereo 192k), on tmpfs, $rounds rounds, medians"
echo
cp -r batch "$shm/"
default_path=$("$report")
one_sondrik="$sondrik $one_by_one $shm/batch/*.mp2"
two_sondrik="$sondrik $one_by_one $shm/batch/b0*.mp2 $shm/batch/b1*.mp2 & $sondrik $one_by_one $shm/batch/b2*.mp2 $shm/batch/b3*.mp2 $shm/batch/b40.mp2; wait"
one_mpg123="for f in $shm/batch/*.mp2; do mpg123 -q -w \${f%.mp2}.m.wav \$f; done"
two_mpg123="for f in $shm/batch/b0*.mp2 $shm/batch/b1*.mp2; do mpg123 -q -w \${f%.mp2}.m.wav \$f; done & for f in $shm/batch/b2*.mp2 $shm/batch/b3*.mp2 $shm/batch/b40.mp2; do mpg123 -q -w \${f%.mp2}.m.wav \$f; done; wait"
for round in $(seq "$rounds"); do
  hyperfine --runs 1 --style none --export-json "$work/batch.round$round.json" \
    -n "sondrik ($default_path), one process" "$one_sondrik" -n "sondrik ($default_path), two processes" "$two_sondrik" \
    -n "mpg123 -w, one at a time" "$one_mpg123" -n "mpg123 -w, two at a time" "$two_mpg123" >/dev/null 2>&1
done
echo "| program | wall s | files per second | CPU s (user+sys) |"
echo "|---|---:|---:|---:|"
python3 - "$work/batch" "$rounds" <<'PY'
import json, statistics, sys
base, rounds = sys.argv[1], int(sys.argv[2])
wall, cpu = {}, {}
for r in range(1, rounds + 1):
    for result in json.load(open(f"{base}.round{r}.json"))["results"]:
        wall.setdefault(result["command"], []).append(result["times"][0])
        cpu.setdefault(result["command"], []).append(result["user"] + result["system"])
for n in wall:
    w = statistics.median(wall[n])
    print(f"| {n} | {w:.3f} | {40 / w:.0f} | {statistics.median(cpu[n]):.3f} |")
PY
rm -f "$work"/batch.round*.json
echo
echo "# load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
