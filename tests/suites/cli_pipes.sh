#!/usr/bin/env bash
# Pipes: "-" reads standard input, -c writes the WAV to standard output with
# every line on standard error; sox and ffmpeg read such a stream to its end
# and get every sample a file conversion gets.
set -u
sondrik=$(realpath "$1")
data=$(realpath "$2")
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"

sox -q -n -r 44100 -c 2 -b 16 source.wav synth 6 sine 300 sine 500 gain -6
twolame --quiet -b 192 source.wav stereo.mp2
cp "$data/golden/tl_32k_mono_48k_speech.mp2" mono.mp2

# Standard input into a file: stdin.wav, here or under -o.
"$sondrik" -q stereo.mp2 >/dev/null || fail "the file conversion failed"
"$sondrik" -q -o into/deep - <stereo.mp2 >/dev/null 2>&1 || fail "- into a folder failed"
cmp -s into/deep/stdin.wav stereo.wav || fail "into/deep/stdin.wav differs from the file conversion"
"$sondrik" -q - <stereo.mp2 >/dev/null 2>&1 && cmp -s stdin.wav stereo.wav ||
  fail "stdin.wav here differs from the file conversion"
[ $failures -eq 0 ] || exit 1

for name in stereo mono; do
  "$sondrik" -q -f $name.mp2 >/dev/null || fail "$name: the file conversion failed"
  tail -c +45 $name.wav >$name.file.raw
  cat $name.mp2 | "$sondrik" -c - 2>$name.err | cat >$name.pipe.wav
  status=${PIPESTATUS[1]}
  [ "$status" -eq 0 ] || { fail "$name: exit $status"; cat $name.err; }
  # Standard output carries the header and the samples, nothing else.
  [ "$(head -c 4 $name.pipe.wav)" = RIFF ] && cmp -s <(tail -c +45 $name.pipe.wav) $name.file.raw ||
    fail "$name: standard output is not the WAV header and the samples"
  grep -q '^Converting -$' $name.err && grep -q '^sondrik finished: 1 converted' $name.err ||
    { fail "$name: the lines are not on standard error"; cat $name.err; }
  # Read back through pipes, so neither reader can seek to the sizes.
  cat $name.mp2 | "$sondrik" -q -c - 2>/dev/null | sox -q -t wav - -t raw $name.sox.raw ||
    fail "$name: sox can't read the stream"
  cat $name.mp2 | "$sondrik" -q -c - 2>/dev/null | ffmpeg -v error -f wav -i pipe:0 -f s16le -c:a pcm_s16le $name.ff.raw ||
    fail "$name: ffmpeg can't read the stream"
  for reader in sox ff; do
    cmp -s $name.file.raw $name.$reader.raw ||
      fail "$name: $reader read $(stat -c %s $name.$reader.raw) bytes, the file holds $(stat -c %s $name.file.raw)"
  done
done

echo "$failures failures"
[ $failures -eq 0 ]
