#!/usr/bin/env bash
# CPU time on an hour of transport stream (MPEG-2 video at 320x240, 1 Mbit/s
# at most, and one 192 kbit/s MP2 track): sondrik -j 1 against ffmpeg writing
# the audio to a WAV file, against just reading the file, and against sondrik
# on the track alone (ffmpeg's copy of its bytes), which leaves the
# demultiplexing's share. Medians of user+sys over the rounds, with the source
# in the page cache and the WAV written to disk.
#   bench/containers.sh [ROUNDS]   (default 5)
# The stream is made once into $BENCH_DIR/containers (default
# build/bench/containers): a minute encoded, then looped sixty times.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${BENCH_DIR:-$root/build/bench}/containers"
sondrik="${SONDRIK:-$root/build/sondrik}"
rounds=${1:-5}
for tool in sox twolame ffmpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$sondrik" ] || { echo "bench: build sondrik first (cmake --build build)" >&2; exit 1; }
mkdir -p "$work"
cd "$work"
trap 'rm -f hour.wav ffmpeg.wav track.wav' EXIT

if [ ! -s hour.ts ]; then
  sox -R -n -r 48000 -c 2 -b 16 minute.wav synth 60 pinknoise sine 300-6000 tremolo 3 40 gain -8
  twolame --quiet -b 192 minute.wav minute.mp2
  ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -i minute.mp2 -map 0:v -map 1:a -t 60 \
    -c:v mpeg2video -b:v 1M -maxrate 1M -bufsize 1M -c:a copy -f mpegts minute.ts
  # Copying keeps the audio bytes; the muxer renumbers the packets.
  ffmpeg -v error -y -stream_loop 59 -i minute.ts -map 0 -c copy -f mpegts hour.part.ts
  mv hour.part.ts hour.ts
  rm -f minute.wav
fi
[ -s track.mp2 ] || ffmpeg -v error -y -i hour.ts -map 0:a -c copy -f mp2 track.mp2

# user+sys, wall, user and sys seconds of one run. Each starts with no WAV
# file to replace and no writes of the last still pending.
timed() {  # command...
  rm -f hour.wav ffmpeg.wav track.wav
  sync
  /usr/bin/time -f '%U %S %e' -o time.txt "$@" >/dev/null 2>&1 || { echo "bench: $* failed" >&2; exit 1; }
  awk '{ printf "%.2f %.2f %.2f %.2f\n", $1 + $2, $3, $1, $2 }' time.txt
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cat hour.ts >/dev/null
names=("sondrik -f -j 1" "ffmpeg -map 0:a -f wav" "cat > /dev/null" "sondrik -f -j 1, the track alone")
: >runs.txt
for ((r = 1; r <= rounds; r++)); do
  echo "0 $(timed "$sondrik" -q -f -j 1 hour.ts)" >>runs.txt
  wav_bytes=$(stat -c %s hour.wav)
  echo "1 $(timed ffmpeg -nostdin -v error -i hour.ts -map 0:a -f wav -y ffmpeg.wav)" >>runs.txt
  ffmpeg_bytes=$(stat -c %s ffmpeg.wav)
  echo "2 $(timed sh -c 'cat hour.ts >/dev/null')" >>runs.txt
  echo "3 $(timed "$sondrik" -q -f -j 1 track.mp2)" >>runs.txt
done

echo "# hour.ts: $(stat -c %s hour.ts) bytes, $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //');" \
  "WAV $wav_bytes bytes (ffmpeg's $ffmpeg_bytes); median of $rounds rounds; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| command | CPU s (user+sys) | user s | sys s | wall s | CPU against sondrik |"
echo "|---|---:|---:|---:|---:|---:|"
base=$(awk '$1 == 0 { print $2 }' runs.txt | median)
for i in 0 1 2 3; do
  cpu=$(awk -v i=$i '$1 == i { print $2 }' runs.txt | median)
  wall=$(awk -v i=$i '$1 == i { print $3 }' runs.txt | median)
  user=$(awk -v i=$i '$1 == i { print $4 }' runs.txt | median)
  sys=$(awk -v i=$i '$1 == i { print $5 }' runs.txt | median)
  echo "| ${names[i]} | $cpu | $user | $sys | $wall | $(awk -v c="$cpu" -v b="$base" 'BEGIN { printf "%.2fx", c / b }') |"
done
