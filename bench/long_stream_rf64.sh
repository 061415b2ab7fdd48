#!/usr/bin/env bash
# A 6.5-hour stream, made by concatenating encoded parts, converted for real
# into a WAV file past 4 GiB: the RF64 layout read back by sox and ffprobe,
# the last minute checked against the last part converted alone, and the
# time against ffmpeg writing RF64 as well. Opt-in (not in tools/test.sh):
# it needs about 10 GB of disk and a few minutes.
#   bench/long_stream_rf64.sh [WORK_DIR]     (default build/long-stream)
# The WAV files are deleted at the end; the MP2 parts are kept for next time.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${1:-$root/build/long-stream}"
sondrik="${SONDRIK:-$root/build/sondrik}"

for tool in sox twolame ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || { echo "long stream: $tool is missing" >&2; exit 1; }
done
[ -x "$sondrik" ] || { echo "long stream: build sondrik first (cmake --build build)" >&2; exit 1; }
mkdir -p "$work"
cd "$work"
free_kb=$(df -Pk . | awk 'NR == 2 { print $4 }')
if [ "$free_kb" -lt $((10 * 1024 * 1024)) ]; then
  echo "long stream: $work has $((free_kb / 1024 / 1024)) GB free, 10 GB needed" >&2
  exit 1
fi
trap 'rm -f long.wav long.ffmpeg.wav last.wav' EXIT

# Two different half-hour parts of 48 kHz stereo at 192 kbit/s; the stream is
# twelve of the first and then the second: 6.5 hours, 4.49 GB of PCM.
make_part() {  # name tone-hz
  [ -s "$1.mp2" ] && return
  sox -R -c 3 -r 48000 -n -b 16 -c 2 "$1.src.wav" synth 1800 sine "$2" pinknoise brownnoise \
    tremolo 2 30 remix 1v0.4,2v0.3 1v0.3,3v0.4
  twolame --quiet -b 192 -m s "$1.src.wav" "$1.mp2"
  rm -f "$1.src.wav"
}
make_part part_a 330
make_part part_b 523
if [ ! -s long.mp2 ]; then
  for _ in $(seq 12); do cat part_a.mp2; done >long.mp2
  cat part_b.mp2 >>long.mp2
fi

seconds() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.1f", (e - s) / 1e9 }'; }

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "# $(df -P . | awk 'NR == 2 { print $1 }') ($(stat -f -c %T .)), input $(stat -c %s long.mp2) bytes"
start=$(date +%s%N)
"$sondrik" long.mp2 | tr -d '\r'
end=$(date +%s%N)
sondrik_s=$(seconds "$start" "$end")
start=$(date +%s%N)
ffmpeg -nostdin -v error -i long.mp2 -rf64 auto -y long.ffmpeg.wav
end=$(date +%s%N)
ffmpeg_s=$(seconds "$start" "$end")
"$sondrik" part_b.mp2 >/dev/null
mv part_b.wav last.wav

failures=0
check() {  # what expected got
  if [ "$2" = "$3" ]; then echo "ok   $1: $3"; else echo "FAIL $1: expected $2, got $3"; failures=$((failures + 1)); fi
}
size=$(stat -c %s long.wav)
data=$((size - 80))
samples=$((data / 4))
frames_a=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 part_a.mp2)
frames_b=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 part_b.mp2)
check "sample frames from the parts' MP2 frames" $(((12 * frames_a + frames_b) * 1152)) "$samples"
check "layout" "RF64" "$(head -c 4 long.wav)"
check "ds64 data size" "$data" "$(od -A n -t u8 -j 28 -N 8 long.wav | tr -d ' ')"
check "ds64 sample count" "$samples" "$(od -A n -t u8 -j 36 -N 8 long.wav | tr -d ' ')"
check "sox --i sample count" "$samples" "$(sox --i -s long.wav)"
check "sox --i duration" "$(awk -v n="$samples" 'BEGIN { printf "%.6f", n / 48000 }')" \
  "$(awk -v d="$(sox --i -D long.wav)" 'BEGIN { printf "%.6f", d }')"
check "ffprobe samples" "$samples" \
  "$(ffprobe -v error -select_streams a:0 -show_entries stream=duration_ts -of csv=p=0 long.wav)"
check "ffprobe duration" "$(awk -v n="$samples" 'BEGIN { printf "%.6f", n / 48000 }')" \
  "$(ffprobe -v error -show_entries format=duration -of csv=p=0 long.wav)"
# Both files end with the last part: their last minutes line up from the end.
minute=$((60 * 48000 * 4))
check "last minute equals the last part alone" "$(tail -c "$minute" last.wav | sha256sum | cut -c1-16)" \
  "$(tail -c "$minute" long.wav | sha256sum | cut -c1-16)"
check "ffmpeg wrote RF64 too" "RF64" "$(head -c 4 long.ffmpeg.wav)"
ratio=$(awk -v a="$sondrik_s" -v b="$ffmpeg_s" 'BEGIN { printf "%.2f", a / b }')
echo "time: sondrik ${sondrik_s} s, ffmpeg -rf64 auto ${ffmpeg_s} s (sondrik / ffmpeg ${ratio}), $size bytes"
[ "$failures" -eq 0 ]
