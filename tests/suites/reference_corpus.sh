#!/usr/bin/env bash
# One file of the reference corpus, made here and now: a synthetic signal is
# encoded, converted by sondrik and by two independent decoders, and compared.
#
#   reference_corpus.sh case WORKDIR NAME SONDRIK PCM_COMPARE SOURCE ENCODER ARGS
#   reference_corpus.sh table WORKDIR
#
# SOURCE is RATE:CHANNELS:KIND (KIND music, voice or loud). ENCODER is twolame,
# ffmpeg, or twolame-switch (a stereo stream followed by a mono one, each
# given its own ARGS, separated by "/").
#
# Checks: sondrik finds as many frames as the encoder wrote (twolame's count,
# or ffprobe's for ffmpeg's encoder); the statistics line agrees with the file
# (frames x channels x 2304 = bytes written = data size); every sample is
# within 2 LSB of `mpg123 -w` and of ffmpeg's floating-point decoder rounded
# to 16 bits, after aligning each by the best shift of at most two frames.
# Exits 77 when a tool is missing.
set -uo pipefail

tolerance=2
max_shift=2304

table() {
  local dir=$1
  printf '%-34s %6s  %-22s  %-22s\n' "file" "frames" "vs mpg123 max/rms/shift" "vs ffmpeg max/rms/shift"
  cat "$dir"/rows/*.txt 2>/dev/null | sort
  cat "$dir"/rows/*.txt 2>/dev/null | sort >"$dir/table.txt"
}

# A few seconds with something in every subband: a sweep, a tremolo tone and
# noise; the right channel differs so that stereo coding has work to do.
# "loud" drives the decoder's output past full scale. The noise is the same
# on every run (-R), so the table of differences is too.
make_source() {  # rate channels kind seconds leading-silence trailing-silence out
  local rate=$1 channels=$2 kind=$3 seconds=$4 lead=$5 trail=$6 out=$7
  local left right
  case "$kind" in
    music)
      left=(synth "$seconds" sine 110-9000 pinknoise mix sine amod 3 gain -4)
      right=(synth "$seconds" sine 523 sine amod 5 brownnoise mix whitenoise mix gain -8) ;;
    voice)  # buzzing pitches that come and go: twolame varies the joint-stereo bound
      left=(synth "$seconds" sawtooth 110-190 sine amod 3 gain -3)
      right=(synth "$seconds" square 150-120 sine amod 2.3 gain -8) ;;
    loud)
      left=(synth "$seconds" square 220 sine mix 3000 gain -0.2)
      right=(synth "$seconds" sawtooth 147 gain -0.5) ;;
    *) echo "unknown signal $kind" >&2; return 1 ;;
  esac
  sox -q -R -n -r "$rate" -c 1 -b 16 "$out.l.wav" "${left[@]}" pad "$lead" "$trail" || return 1
  if [ "$channels" -eq 1 ]; then
    mv "$out.l.wav" "$out"
  else
    sox -q -R -n -r "$rate" -c 1 -b 16 "$out.r.wav" "${right[@]}" pad "$lead" "$trail" || return 1
    sox -q -M "$out.l.wav" "$out.r.wav" "$out" || return 1
    rm -f "$out.l.wav" "$out.r.wav"
  fi
}

# Prints the number of frames twolame says it encoded.
twolame_encode() {  # source output args...
  local source=$1 output=$2; shift 2
  local log
  # shellcheck disable=SC2068
  log=$(twolame --talkativity 2 $@ "$source" "$output" 2>&1) || { echo "$log" >&2; return 1; }
  local frames
  frames=$(tr '\r' '\n' <<<"$log" | sed -n 's|^Encoding frame: \([0-9]*\)/\([0-9]*\).*|\2|p' | tail -1)
  [ -n "$frames" ] || { echo "twolame did not say how many frames it wrote" >&2; return 1; }
  echo "$frames"
}

short() {  # "shift S max M rms R ..." -> "M / R / S"
  sed -E 's/^shift (-?[0-9]+) max ([0-9]+) rms ([0-9.]+).*/\2 \/ \3 \/ \1/' <<<"$1"
}

run_case() {
  local dir=$1 name=$2 sondrik=$3 compare=$4 source=$5 encoder=$6 args=$7
  for tool in twolame ffmpeg ffprobe mpg123 sox; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  local work="$dir/$name"
  rm -rf "$work" && mkdir -p "$work" "$dir/rows"
  rm -f "$dir/rows/$name.txt"
  local rate channels kind
  IFS=: read -r rate channels kind <<<"$source"
  local mp2="$work/$name.mp2" encoder_frames=""

  case "$encoder" in
    twolame)
      make_source "$rate" "$channels" "$kind" 2.5 0 0 "$work/source.wav" || return 1
      encoder_frames=$(twolame_encode "$work/source.wav" "$mp2" $args) || return 1 ;;
    ffmpeg)
      make_source "$rate" "$channels" "$kind" 2.5 0 0 "$work/source.wav" || return 1
      # shellcheck disable=SC2086
      ffmpeg -v error -y -i "$work/source.wav" -c:a mp2 $args "$mp2" || return 1 ;;
    twolame-switch)
      # Silence around the switch: sondrik keeps separate one- and two-channel
      # filter histories, the references one per output channel; after half a
      # second of silence both are empty and the streams must agree again.
      local stereo_frames mono_frames
      make_source "$rate" 2 "$kind" 1.5 0 0.5 "$work/stereo.wav" || return 1
      make_source "$rate" 1 "$kind" 1.5 0.5 0 "$work/mono.wav" || return 1
      stereo_frames=$(twolame_encode "$work/stereo.wav" "$work/stereo.mp2" ${args%%/*}) || return 1
      mono_frames=$(twolame_encode "$work/mono.wav" "$work/mono.mp2" ${args##*/}) || return 1
      cat "$work/stereo.mp2" "$work/mono.mp2" >"$mp2"
      encoder_frames=$((stereo_frames + mono_frames))
      channels=2 ;;
    *) echo "unknown encoder $encoder" >&2; return 1 ;;
  esac

  local failed=0
  local probed
  probed=$(ffprobe -v error -count_frames -select_streams a:0 -show_entries stream=nb_read_frames -of csv=p=0 "$mp2")
  # ffmpeg's encoder doesn't say; its count is ffprobe's.
  [ "$encoder" = ffmpeg ] && encoder_frames=$probed

  local log stats
  log=$("$sondrik" "$mp2" 2>&1) || { echo "$log"; echo "FAIL: sondrik failed"; failed=1; }
  stats=$(grep -E '^[0-9]+ frames est' <<<"$log" | tr -d '\r')
  local frames estimate written datasize
  read -r frames estimate written datasize < <(sed -E 's/^([0-9]+) frames est ([0-9]+),  ([0-9]+) written ([0-9]+) datasize$/\1 \2 \3 \4/' <<<"$stats")
  local wav="$work/$name.wav"
  local wav_size
  wav_size=$(stat -c %s "$wav" 2>/dev/null || echo 0)
  echo "$stats"
  # Listed and decoded in chunks of 7 frames on two threads: the same bytes and lines.
  local chunked
  chunked=$(SONDRIK_CHUNK_FRAMES=7 SONDRIK_CHUNK_MIN_BYTES=0 "$sondrik" -j 2 -f -o "$work/chunked" "$mp2" 2>&1)
  cmp -s "$wav" "$work/chunked/$name.wav" || { echo "FAIL: decoded in chunks, the WAV file differs"; failed=1; }
  [ "$(grep -v -e 'wav file written' -e '^sondrik finished' <<<"$chunked")" = \
    "$(grep -v -e 'wav file written' -e '^sondrik finished' <<<"$log")" ] ||
    { echo "FAIL: decoded in chunks, the lines differ:"; echo "$chunked"; failed=1; }
  if [ "$frames" != "$encoder_frames" ]; then
    echo "FAIL: sondrik found ${frames:-no} frames, the encoder wrote $encoder_frames"
    failed=1
  fi
  # ffmpeg's reader takes the first frames of a stream whose mode changes
  # right away for junk: then its count, and its output, start that many
  # frames late.
  local skipped=$((encoder_frames - probed))
  [ "$skipped" -eq 0 ] || echo "ffprobe counts $probed frames: ffmpeg's reader skips the first $skipped"
  local expected=$((${frames:-0} * channels * 2304))
  if [ "$estimate" != "$expected" ] || [ "$written" != "$expected" ] || [ "$datasize" != "$expected" ] ||
     [ "$wav_size" != $((expected + 44)) ]; then
    echo "FAIL: statistics '$stats' and a file of $wav_size bytes do not agree with $frames frames x $channels x 2304"
    failed=1
  fi

  local mpg123_args=(-q) ffmpeg_result="left out" mpg123_result
  [ "$encoder" = twolame-switch ] && mpg123_args+=(--stereo)
  mpg123 "${mpg123_args[@]}" -w "$work/mpg123.wav" "$mp2" || { echo "FAIL: mpg123 failed"; failed=1; }
  mpg123_result=$("$compare" "$wav" "$work/mpg123.wav" "$max_shift" "$tolerance") || failed=1
  echo "mpg123: $mpg123_result"
  # ffmpeg turns the mono part into two channels at -3 dB, so a stream that
  # switches is compared with mpg123 only.
  if [ "$encoder" != twolame-switch ]; then
    ffmpeg -v error -y -c:a mp2float -i "$mp2" -c:a pcm_s16le "$work/ffmpeg.wav" || { echo "FAIL: ffmpeg failed"; failed=1; }
    ffmpeg_result=$("$compare" "$wav" "$work/ffmpeg.wav" "$max_shift" "$tolerance") || failed=1
    echo "ffmpeg: $ffmpeg_result"
    if [ "$skipped" -ne 0 ] && [[ "$ffmpeg_result" != "shift $((-skipped * 1152)) "* ]]; then
      echo "FAIL: ffmpeg's output should start $skipped frames late"
      failed=1
    fi
  fi

  printf '%-34s %6s  %-22s  %-22s%s\n' "$name" "$frames" "$(short "$mpg123_result")" "$(short "$ffmpeg_result")" \
    "$([ $failed -eq 0 ] || echo '  FAILED')" >"$dir/rows/$name.txt"
  cat "$dir/rows/$name.txt"
  [ $failed -eq 0 ] && rm -f "$work"/*source.wav "$work"/stereo.wav "$work"/mono.wav
  return $failed
}

case "${1:-}" in
  case) shift; run_case "$@" ;;
  table) shift; table "$@" ;;
  *) echo "usage: $0 case WORKDIR NAME SONDRIK PCM_COMPARE SOURCE ENCODER ARGS | table WORKDIR" >&2; exit 2 ;;
esac
