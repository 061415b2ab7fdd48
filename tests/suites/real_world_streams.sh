#!/usr/bin/env bash
# Streams as broadcast and archive users have them, made here and now with
# twolame, ffmpeg and sox and byte surgery: 0xFF and random bytes in the
# ancillary data, energy levels, ID3v2 tags with pictures, 0xFF stuffing,
# bit-rate changes, free format, the half sampling rates, a rate change, a
# cut header at the end and a renamed MP3.
#
#   real_world_streams.sh WORKDIR NAME SONDRIK PCM_COMPARE STREAM_SURGERY
#
# Checks: sondrik finds every frame the encoder wrote and no other (its
# statistics line against a count of the unmodified stream); every sample is
# within 1 LSB of `mpg123 -w` after alignment, with no sample unpaired; for
# a rate change, the first part only, then the rate-change line and a
# failure; for the MP3, the no-frames line and a failure. Exits 77 when a
# tool is missing.
set -uo pipefail

tolerance=1
max_shift=1152

dir=$1 name=$2 sondrik=$3 compare=$4 surgery=$5
for tool in twolame ffmpeg ffprobe mpg123 sox; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work="$dir/$name"
rm -rf "$work" && mkdir -p "$work"
cd "$work" || exit 1

# Two seconds (or $seconds) with something in every subband; -R: the same
# noise every run.
seconds=2
signal() {  # rate channels out
  local rate=$1 channels=$2 out=$3
  sox -q -R -n -r "$rate" -c 1 -b 16 l.wav synth "$seconds" sine 110-9000 pinknoise mix sine amod 3 gain -4 || return 1
  if [ "$channels" -eq 1 ]; then
    mv l.wav "$out"
  else
    sox -q -R -n -r "$rate" -c 1 -b 16 r.wav synth "$seconds" sine 523 sine amod 5 brownnoise mix whitenoise mix gain -8 || return 1
    sox -q -M l.wav r.wav "$out" && rm -f l.wav r.wav
  fi
}

twolame_stream() {  # rate channels out twolame-args...
  local rate=$1 channels=$2 out=$3; shift 3
  signal "$rate" "$channels" "src_$out.wav" && twolame --quiet "$@" "src_$out.wav" "$out"
}

# Whole frames of a constant-bit-rate stream, by walking their lengths.
count_frames() { "$surgery" last-byte-ff "$1" /dev/null; }
# The frames twolame says it wrote, for free format, which has no lengths to walk.
twolame_frames() {  # rate channels out twolame-args...
  local rate=$1 channels=$2 out=$3; shift 3
  signal "$rate" "$channels" "src_$out.wav" || return 1
  twolame --talkativity 2 "$@" "src_$out.wav" "$out" 2>&1 | tr '\r' '\n' |
    sed -n 's|^Encoding frame: \([0-9]*\)/\([0-9]*\).*|\2|p' | tail -1
}

mp2=stream.mp2
reference_input=$mp2  # what mpg123 decodes for the comparison
expect_result=0       # sondrik's exit status
expect_last_line=""   # a line that must end the log
same_as_plain=false   # surgery that adds no audio: the WAV must be plain.mp2's, byte for byte
frames=""
case "$name" in
  last_byte_ff)  # -R 8 leaves the last byte to ancillary data
    twolame_stream 48000 2 plain.mp2 -m s -b 192 -R 8 && frames=$(count_frames plain.mp2) &&
      "$surgery" last-byte-ff plain.mp2 "$mp2" >/dev/null
    same_as_plain=true ;;
  ancillary_4 | ancillary_16 | ancillary_50)
    # Long enough that a last byte of 0xFF or a false sync pair turns up.
    seconds=12
    bytes=${name#ancillary_}
    twolame_stream 48000 2 plain.mp2 -m j -b 192 -R $((bytes * 8)) && frames=$(count_frames plain.mp2) &&
      "$surgery" ancillary plain.mp2 "$mp2" "$bytes" "$bytes" >/dev/null
    same_as_plain=true ;;
  energy)
    seconds=12
    twolame_stream 48000 2 "$mp2" -m s -b 192 -E && frames=$(count_frames "$mp2") ;;
  id3v23_30k | id3v24_30k_footer | id3v23_200k | id3v24_200k)
    version=${name:4:1}
    size=${name#id3v2?_}; size=${size%%k*}
    footer=""; [[ $name == *footer ]] && footer=footer
    twolame_stream 44100 2 plain.mp2 -m j -b 128 && frames=$(count_frames plain.mp2) &&
      "$surgery" id3 plain.mp2 "$mp2" "$version" $((size * 1000)) "$size" $footer >/dev/null
    same_as_plain=true ;;
  ff_runs)
    # mpg123 decodes the frame after a run otherwise than the same frame
    # without one; the stuffing carries no audio, so it decodes the plain stream.
    twolame_stream 48000 2 plain.mp2 -m s -b 192 && frames=$(count_frames plain.mp2) &&
      "$surgery" ff-runs plain.mp2 "$mp2" >/dev/null
    reference_input=plain.mp2
    same_as_plain=true ;;
  bitrate_48k_jstereo_128k_to_64k)
    twolame_stream 48000 2 a.mp2 -m j -b 128 && twolame_stream 48000 2 b.mp2 -m j -b 64 &&
      frames=$(($(count_frames a.mp2) + $(count_frames b.mp2))) && cat a.mp2 b.mp2 >"$mp2" ;;
  bitrate_44k_jstereo_128k_to_stereo_256k)
    twolame_stream 44100 2 a.mp2 -m j -b 128 && twolame_stream 44100 2 b.mp2 -m s -b 256 &&
      frames=$(($(count_frames a.mp2) + $(count_frames b.mp2))) && cat a.mp2 b.mp2 >"$mp2" ;;
  free_format_160k | free_format_256k)
    kbps=${name#free_format_}; kbps=${kbps%k}
    frames=$(twolame_frames 48000 2 "$mp2" -m s -b "$kbps" --freeformat) ;;
  half_rate_24k | half_rate_22k | half_rate_16k)
    case "$name" in *24k) rate=24000 ;; *22k) rate=22050 ;; *) rate=16000 ;; esac
    signal "$rate" 2 src.wav && ffmpeg -v error -y -i src.wav -c:a mp2 -b:a 96k "$mp2" &&
      frames=$(count_frames "$mp2") ;;
  rate_change_48k_then_44k)
    twolame_stream 48000 2 a.mp2 -m s -b 192 && twolame_stream 44100 2 b.mp2 -m s -b 192 &&
      frames=$(count_frames a.mp2) && cat a.mp2 b.mp2 >"$mp2"
    reference_input=a.mp2
    expect_result=1
    expect_last_line="ERR: sample rate changes from 48000 to 44100 Hz at frame $((frames + 1)); the rest is not converted" ;;
  ff_fd_after_mono)
    twolame_stream 48000 1 plain.mp2 -m m -b 96 && frames=$(count_frames plain.mp2) &&
      { cat plain.mp2; printf '\xff\xfd'; } >"$mp2"
    same_as_plain=true ;;
  renamed_mp3)
    signal 44100 2 src.wav && ffmpeg -v error -y -i src.wav -c:a libmp3lame -b:a 192k -f mp3 "$mp2"
    frames=0
    reference_input=""
    expect_result=1
    expect_last_line="ERR: $mp2 is an MPEG Layer III (MP3) stream; only Layer II is converted" ;;
  *) echo "unknown case $name"; exit 2 ;;
esac
[ -s "$mp2" ] && [ -n "$frames" ] || { echo "FAIL: could not make the stream"; exit 1; }

failed=0
log=$("$sondrik" "$mp2" 2>&1)
result=$?
echo "$log"
[ "$result" -eq "$expect_result" ] || { echo "FAIL: sondrik exited $result, wanted $expect_result"; failed=1; }
if [ -n "$expect_last_line" ]; then
  last=$(grep -v '^sondrik finished' <<<"$log" | tail -1)
  [ "$last" = "$expect_last_line" ] || { echo "FAIL: the last line is '$last', wanted '$expect_last_line'"; failed=1; }
fi
found=$(sed -n -E 's/^([0-9]+) frames est .*/\1/p' <<<"$log")
[ "$found" = "$frames" ] || { echo "FAIL: sondrik found ${found:-no} frames, the stream has $frames"; failed=1; }

wav=stream.wav
# Listed and decoded in chunks of 7 frames on two threads: the same bytes and lines.
chunked=$(SONDRIK_CHUNK_FRAMES=7 SONDRIK_CHUNK_MIN_BYTES=0 "$sondrik" -j 2 -f -o chunked "$mp2" 2>&1)
[ "$(grep -v -e 'wav file written' -e '^sondrik finished' <<<"$chunked")" = \
  "$(grep -v -e 'wav file written' -e '^sondrik finished' <<<"$log")" ] ||
  { echo "FAIL: decoded in chunks, the lines differ:"; echo "$chunked"; failed=1; }
if [ -e "$wav" ]; then
  cmp -s "$wav" "chunked/$wav" || { echo "FAIL: decoded in chunks, the WAV file differs"; failed=1; }
fi
if [ -n "$reference_input" ]; then
  mpg123 -q -w mpg123.wav "$reference_input" || { echo "FAIL: mpg123 failed"; failed=1; }
  comparison=$("$compare" "$wav" mpg123.wav "$max_shift" "$tolerance") || failed=1
  echo "mpg123: $comparison"
elif [ -e "$wav" ]; then
  echo "FAIL: a stream without Layer II frames left a WAV file"
  failed=1
fi
if $same_as_plain; then
  "$sondrik" plain.mp2 >/dev/null 2>&1
  cmp -s "$wav" plain.wav || { echo "FAIL: the WAV file differs from the unmodified stream's"; failed=1; }
fi
[ $failed -eq 0 ] && echo "PASS: $name, $found frames" && rm -f src*.wav
exit $failed
