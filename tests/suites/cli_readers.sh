#!/usr/bin/env bash
# Streams from two encoders at several modes and rates: the converter names
# each stream correctly, and sox and ffprobe read back the header it wrote.
set -u
sondrik=$1
for tool in twolame ffmpeg sox ffprobe; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 77; }
done
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"
check() {  # name, expected stream line, rate, channels, seconds of audio in
  local name=$1 line=$2 rate=$3 channels=$4 seconds=$5
  local out status probe codec probe_rate probe_channels samples
  out=$("$sondrik" "$name.mp2")
  status=$?
  [ $status -eq 0 ] || { fail "$name: exit $status"; return; }
  grep -qx "$line" <<<"$out" || fail "$name: no line '$line' in: $out"
  [ "$(sox --i -r "$name.wav")" = "$rate" ] || fail "$name: sox rate"
  [ "$(sox --i -c "$name.wav")" = "$channels" ] || fail "$name: sox channels"
  probe=$(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration_ts -of csv=p=0 "$name.wav")
  IFS=, read -r codec probe_rate probe_channels samples <<<"$probe"
  [ "$codec,$probe_rate,$probe_channels" = "pcm_s16le,$rate,$channels" ] || fail "$name: ffprobe says $probe"
  # Whole frames of 1152 samples, at least as many as went in.
  local wanted=$((seconds * rate))
  if [ $((samples % 1152)) -ne 0 ] || [ "$samples" -lt "$wanted" ] || [ "$samples" -gt $((wanted + 3 * 1152)) ]; then
    fail "$name: $samples samples for $wanted in"
  fi
  echo "ok   $name: $line, $samples samples"
}

sox -q -n -r 48000 -c 2 -b 16 s48.wav synth 2 sine 300 sine 500
sox -q -n -r 44100 -c 2 -b 16 s44.wav synth 2 sine 300 sine 500
sox -q -n -r 32000 -c 1 -b 16 m32.wav synth 2 sine 440
sox -q -n -r 44100 -c 1 -b 16 m44.wav synth 2 pinknoise gain -10

twolame --quiet -b 192 s48.wav a.mp2
twolame --quiet -b 128 -m j -p s44.wav b.mp2
twolame --quiet -b 48 m32.wav c.mp2
twolame --quiet -b 64 -m d -d s44.wav d.mp2
ffmpeg -v error -i m44.wav -c:a mp2 -b:a 96k e.mp2
ffmpeg -v error -i s48.wav -c:a mp2 -b:a 384k f.mp2

check a "48000 192k stereo" 48000 2 2
check b "44100 128k jstereo" 44100 2 2
check c "32000 48k mono" 32000 1 2
check d "44100 64k dualch" 44100 2 2
check e "44100 96k mono" 44100 1 2
check f "48000 384k stereo" 48000 2 2

echo "$failures failures"
[ $failures -eq 0 ]
