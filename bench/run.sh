#!/usr/bin/env bash
# Times build/sondrik against mpg123 and ffmpeg on the same streams in the same
# run, and counts sondrik's instructions per second of audio with callgrind.
#   bench/run.sh [ROUNDS]        wall clock (alternating rounds) and callgrind
#   bench/run.sh --callgrind     callgrind only: repeatable on a busy machine
# Streams are generated once with sox and twolame into $BENCH_DIR
# (default build/bench) and kept for later runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${BENCH_DIR:-$root/build/bench}"
sondrik="${SONDRIK:-$root/build/sondrik}"  # another build to compare: SONDRIK=path
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
[ -x "$sondrik" ] || { echo "bench: build sondrik first (cmake --build build)" >&2; exit 1; }
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
make_stream s48_stereo_192k 600 48000 2 192 s
make_stream s44_jstereo_128k 600 44100 2 128 j
make_stream s48_mono_64k 600 48000 1 64 m
make_stream s48_stereo_192k_30s 30 48000 2 192 s

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "# load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# sondrik $(git -C "$root" describe --always --dirty 2>/dev/null || echo '?'), $(mpg123 --version | head -1), $(ffmpeg -version | head -1 | cut -d' ' -f1-3)"

# Instructions per second of audio: callgrind counts are the same on every run.
instructions() {  # command...
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
sample=s48_stereo_192k_30s
sondrik_ir=$(instructions "$sondrik" "$sample.mp2")
mpg123_ir=$(instructions mpg123 -q -w "$sample.mpg123.wav" "$sample.mp2")
echo
echo "## Instructions per second of audio (callgrind, 30 s of 48 kHz stereo 192 kbit/s)"
echo
echo "| program | instructions | per second of audio |"
echo "|---|---:|---:|"
echo "| sondrik | $sondrik_ir | $((sondrik_ir / 30)) |"
echo "| mpg123 -w | $mpg123_ir | $((mpg123_ir / 30)) |"
$callgrind_only && exit 0

peak_kib() {  # command...
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'
}

echo
echo "## Wall time, $rounds alternating rounds per stream"
echo
echo "| stream | program | median wall s | ratio sondrik/program | CPU s (user+sys) | s of audio per CPU s | peak RSS MiB |"
echo "|---|---|---:|---:|---:|---:|---:|"
for name in s48_stereo_192k s44_jstereo_128k s48_mono_64k; do
  cmd_sondrik="$sondrik $name.mp2"
  cmd_mpg123="mpg123 -q -w $name.mpg123.wav $name.mp2"
  cmd_ffmpeg="ffmpeg -v error -y -c:a mp2float -i $name.mp2 -c:a pcm_s16le $name.ffmpeg.wav"
  # One run of each program per round, so load that comes and goes hits all three.
  for round in $(seq "$rounds"); do
    hyperfine --runs 1 --style none --export-json "$name.round$round.json" \
      -n sondrik "$cmd_sondrik" -n "mpg123 -w" "$cmd_mpg123" -n "ffmpeg mp2float" "$cmd_ffmpeg" >/dev/null 2>&1
  done
  seconds=$(python3 -c "import wave,sys; w=wave.open(sys.argv[1]); print(w.getnframes()/w.getframerate())" "$name.wav")
  peaks="$(peak_kib $cmd_sondrik) $(peak_kib $cmd_mpg123) $(peak_kib $cmd_ffmpeg)"
  python3 - "$name" "$seconds" "$rounds" $peaks <<'PY'
import json, statistics, sys
name, audio, rounds = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
peaks = [int(k) / 1024 for k in sys.argv[4:7]]
wall, cpu = {}, {}
for r in range(1, rounds + 1):
    for result in json.load(open(f"{name}.round{r}.json"))["results"]:
        wall.setdefault(result["command"], []).append(result["times"][0])
        cpu.setdefault(result["command"], []).append(result["user"] + result["system"])
names = list(wall)
median = {n: statistics.median(wall[n]) for n in names}
for n, peak in zip(names, peaks):
    c = statistics.median(cpu[n])
    ratio = "" if n == "sondrik" else f"{median['sondrik'] / median[n]:.2f}"
    print(f"| {name} ({audio:.0f} s) | {n} | {median[n]:.3f} | {ratio} | {c:.3f} | {audio / c:.0f} | {peak:.1f} |")
PY
  rm -f "$name".round*.json "$name".*.wav
done
echo
echo "# load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
