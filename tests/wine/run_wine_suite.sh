#!/usr/bin/env bash
# Runs the real sondrik.exe under Wine in a private X server and checks it
# from outside with the UI probe; compares every WAV file it writes with the
# Linux converter's.
#   run_wine_suite.sh WIN32_BUILD_DIR LINUX_BUILD_DIR [SCREENSHOT.png]
# Prints one line per test and, last, "N passed, N failed".
set -uo pipefail

win_build=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
screenshot_out=${3:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
golden_dir="$here/../data/golden"
exe="$win_build/sondrik.exe"
probe="$win_build/ui_probe.exe"
linux_converter="$linux_build/sondrik"

passed=0
failed=0
started=$(date +%s)

work=$(mktemp -d /tmp/sondrik-wine.XXXXXX)
source "$here/private_wine.sh"
export HOME="$work/home" TMPDIR="$work/tmp" LANG=C.UTF-8
mkdir -p "$HOME" "$TMPDIR" "$work/files" "$work/expect"
if ! start_private_wine; then
  echo "FAIL wine-setup: $(cat "$work/setup.log")"
  echo "0 passed, 1 failed"
  exit 1
fi
wineserver -p  # stays up between the probe runs

win() { winepath -w "$1" 2>/dev/null; }

pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); }

# probe NAME STEP...: one probe run; its output is kept in $work/NAME.probe.
probe() {
  local name=$1; shift
  timeout 600 wine "$probe" "$(win "$exe")" "$@" >"$work/$name.probe" 2>"$work/$name.probe.err"
}
# The probe's own reason, for a failed run.
probe_reason() { grep -h '^FAIL' "$work/$1.probe" 2>/dev/null || echo "probe ended with no reason (see stderr: $(tail -c 300 "$work/$1.probe.err"))"; }

# A file whose contents are exactly the arguments, for texts with quotes and line ends.
text_file() { local path="$work/expect/$1"; shift; printf '%s' "$*" >"$path"; win "$path"; }

# The log the desktop program must show for these sources, built from the
# Linux converter's own lines: "Converting" with each entry as the program
# was given it, the converter's lines for the file, "sondrik finished".
#   expected_log OUT ENTRY SOURCE [ENTRY SOURCE]...
expected_log() {
  local out=$1; shift
  : >"$out"
  while [ $# -ge 2 ]; do
    printf 'Converting %s\r\n' "$1" >>"$out"
    # The command line puts its errors on standard error and replaces nothing unasked.
    "$linux_converter" -f -j 1 "$2" 2>&1 | sed '1d;$d' | sed 's/$/\r/' >>"$out"
    shift 2
  done
  printf 'sondrik finished\r\n' >>"$out"
}
# Logs compare equal apart from the conversion time.
same_log() {
  local normalise='s/^wav file written, [0-9]*\.[0-9]* sec\r$/wav file written, T sec\r/'
  cmp -s <(sed "$normalise" "$1") <(sed "$normalise" "$2")
}
# The desktop program's WAV file for SOURCE must equal the Linux converter's.
same_wav() {
  local source=$1 reference_dir=$2
  local base; base=$(basename "${source%.*}")
  cmp -s "${source%.*}.wav" "$reference_dir/$base.wav"
}
# Copies sources into DIR and converts the copies with the Linux converter.
reference_wavs() {
  local dir=$1 source copies=(); shift
  mkdir -p "$dir"
  for source in "$@"; do
    cp "$source" "$dir/"
    copies+=("$dir/$(basename "$source")")
  done
  "$linux_converter" -f "${copies[@]}" >/dev/null
}

# ---- test files ----
files="$work/files"
music="$golden_dir/tl_48k_stereo_192k_music.mp2"
tone="$golden_dir/ff_44k_mono_32k_tone.mp2"
mkdir -p "$files/My Music" "$files/corpus" "$files/long" "$files/dialog" "$files/many" "$files/overflow" "$files/unicode"
cp "$music" "$files/My Music/a.mp2"
cp "$tone" "$files/b.mp2"
# A stream long enough (a second or more to convert) to be seen converting.
for _ in $(seq 80); do cat "$music"; done >"$files/long/long.mp2"
head -c 4000 "$music" >"$files/dialog/noext"
cp "$music" "$files/dialog/a.mp2"
cp "$tone" "$files/dialog/b c.mp2"
head -c 3000 "$music" >"$files/tiny.mp2"
for i in $(seq 300); do cp "$files/tiny.mp2" "$files/many/f$i.mp2"; done
overflow_names=""
for i in $(seq -w 120); do
  name="${i}_$(printf 'x%.0s' $(seq 72)).mp2"
  cp "$files/tiny.mp2" "$files/overflow/$name"
  overflow_names+="\"$name\" "
done
cp "$tone" "$files/unicode/音楽 д.mp2"
cp "$music" "$files/unicode/é ψ.mp2"

# The corpus: every stream of the test data (named after its folder and
# file) and fresh encodings of several modes and rates by two encoders.
data_dir=$(cd "$here/../data" && pwd)
while IFS= read -r -d '' stream; do
  relative=${stream#"$data_dir"/}
  cp "$stream" "$files/corpus/${relative//\//_}"
done < <(find "$data_dir" -type f \( -name '*.mp2' -o -name '*.mpeg' \) -print0)
signal="$work/signal"
mkdir -p "$signal"
sox -n -r 48000 -c 2 "$signal/s48.wav" synth 2 sine 440 sine 660 gain -3 2>/dev/null
sox -n -r 44100 -c 2 "$signal/s44.wav" synth 2 pinknoise sine 1000 gain -6 2>/dev/null
sox -n -r 32000 -c 2 "$signal/s32.wav" synth 2 sine 300-3000 sine 200 gain -4 2>/dev/null
sox -n -r 48000 -c 1 "$signal/m48.wav" synth 2 sine 100-8000 gain -3 2>/dev/null
sox -n -r 44100 -c 1 "$signal/m44.wav" synth 2 square 220 gain -12 2>/dev/null
encode_twolame() { twolame --quiet "$@" >/dev/null 2>&1; }
encode_twolame -b 224 -m s "$signal/s48.wav" "$files/corpus/gen_tl_48k_stereo_224k.mp2"
encode_twolame -b 96 -m j "$signal/s48.wav" "$files/corpus/gen_tl_48k_jstereo_96k.mp2"
encode_twolame -b 160 -m j -p "$signal/s44.wav" "$files/corpus/gen_tl_44k_jstereo_160k_crc.mp2"
encode_twolame -b 192 -m d "$signal/s44.wav" "$files/corpus/gen_tl_44k_dual_192k.mp2"
encode_twolame -b 320 -m s "$signal/s32.wav" "$files/corpus/gen_tl_32k_stereo_320k.mp2"
encode_twolame -b 64 -m j -d "$signal/s32.wav" "$files/corpus/gen_tl_32k_jstereo_64k_pad.mp2"
encode_twolame -b 80 -m m "$signal/m48.wav" "$files/corpus/gen_tl_48k_mono_80k.mp2"
encode_twolame -b 160 -m m "$signal/m44.wav" "$files/corpus/gen_tl_44k_mono_160k.mp2"
ffmpeg -v error -i "$signal/s44.wav" -c:a mp2 -b:a 128k "$files/corpus/gen_ff_44k_stereo_128k.mp2"
ffmpeg -v error -i "$signal/m48.wav" -c:a mp2 -b:a 64k "$files/corpus/gen_ff_48k_mono_64k.mp2"
ffmpeg -v error -i "$signal/s32.wav" -c:a mp2 -b:a 96k "$files/corpus/gen_ff_32k_stereo_96k.mp2"
generated=$(ls "$files/corpus"/gen_*.mp2 2>/dev/null | wc -l)
if [ "$generated" -ne 11 ]; then
  fail corpus-encoding "only $generated of 11 streams were encoded"
fi
# Damage gives the gap and CRC lines (48 kHz at 192k: every frame is 576
# bytes, byte 6 its first allocation bits); a transport stream its track.
encode_twolame -p -b 192 "$signal/s48.wav" "$signal/crc.mp2"
damaged="$files/corpus/gen_damaged_gap_crc.mp2"
{ head -c $((576 * 40 + 100)) "$signal/crc.mp2"; printf 'junk%.0s' $(seq 20); tail -c +$((576 * 40 + 101)) "$signal/crc.mp2"; } >"$damaged"
printf '\x0f' | dd of="$damaged" bs=1 seek=$((576 * 20 + 6)) conv=notrunc status=none
ffmpeg -v error -i "$signal/m48.wav" -c:a mp2 -b:a 96k -f mpegts "$files/corpus/gen_ts_48k_mono_96k.ts"

help_text=$(text_file help.txt "sondrik converts mp2 files (48k or 44.1k) to wav files
The wav files will be the same mode (mono or stereo) as the mp2 file
Click \"Select files\" to choose the mp2 files to convert
The wav files are put in the same folder as the mp2 files
You can also convert files by dragging them onto the sondrik icon
")
no_arguments=$(text_file none.txt "")

# ---- the executable itself ----
headers=$(i686-w64-mingw32-objdump -p "$exe")
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
if [ "$dlls" != "COMDLG32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ]; then
  fail exe-imports "imports $dlls"
elif ! grep -q 'Subsystem.*Windows GUI' <<<"$headers"; then
  fail exe-imports "not a GUI program"
elif ! grep -q '<activeCodePage[^>]*>UTF-8</activeCodePage>' "$exe"; then
  fail exe-imports "no UTF-8 manifest"
else
  pass exe-imports
fi

# A fused multiply-add would round once where the sums round twice.
if fma_report=$(bash "$here/../suites/no_fused_multiply_add.sh" i686-w64-mingw32-objdump "$exe"); then
  pass "exe-no-fused-multiply-add (${fma_report#*: })"
else
  fail exe-no-fused-multiply-add "$fma_report"
fi

# The platforms' cos() may differ in the last bit; the nine-decimal rounding
# of the matrixing coefficients must hide that.
wine "$win_build/cos_matrix_dump.exe" 2>/dev/null | tr -d '\r' >"$work/cos-windows.txt"
"$linux_build/cos_matrix_dump" >"$work/cos-linux.txt"
if [ "$(wc -l <"$work/cos-windows.txt")" -ne 2048 ]; then
  fail cos-matrix-equal-linux "the Windows dump has $(wc -l <"$work/cos-windows.txt") lines"
else
  read -r raw_differ matrix_differ < <(paste -d' ' "$work/cos-windows.txt" "$work/cos-linux.txt" |
    awk '{ raw += ($3 != $7); matrix += ($4 != $8) } END { print raw + 0, matrix + 0 }')
  if [ "$matrix_differ" -ne 0 ]; then
    fail cos-matrix-equal-linux "$matrix_differ of 2048 coefficients differ ($raw_differ raw cos values)"
  else
    pass "cos-matrix-equal-linux (2048 coefficients; $raw_differ raw cos values differ in the last bits)"
  fi
fi

# ---- start-up and the idle window ----
if probe idle launch "@$no_arguments" children idle status "sondrik converter" log "" total 0 layout close exit 0; then
  pass start-idle
else
  fail start-idle "$(probe_reason idle)"
fi

if probe help launch "@$no_arguments" click 4 box "sondrik help" "@$help_text" idle log "" click 3 exit 0; then
  pass help-and-exit
else
  fail help-and-exit "$(probe_reason help)"
fi

if probe resize launch "@$no_arguments" layout resize 700 420 layout resize 400 160 layout resize 330 90 layout \
  close exit 0; then
  pass resize-layout
else
  fail resize-layout "$(probe_reason resize)"
fi

# ---- command-line runs ----
long="$files/long/long.mp2"
long_size=$(stat -c %s "$long")
reference_wavs "$work/ref/long" "$long"
expected_log "$work/expect/long.log" "$(win "$long")" "$work/ref/long/long.mp2"
if ! probe one-name launch "@$(text_file one.txt "$(win "$long")")" converting click 4 box "sondrik help" \
  "@$help_text" wait-done status "$(win "$long")" save-log "$(win "$work/one-name.log")" total "$long_size" \
  close exit 0; then
  fail one-name "$(probe_reason one-name)"
elif ! same_log "$work/one-name.log" "$work/expect/long.log"; then
  fail one-name "log differs: $(head -c 400 "$work/one-name.log")"
elif ! same_wav "$long" "$work/ref/long"; then
  fail one-name "WAV differs from the Linux converter's"
else
  pass one-name
fi
rm -f "$files/long/long.wav"

# The raw shape "C:\My Music\a.mp2" C:\b.mp2, then the whole corpus, then
# the long stream: the list is seen converting, and a known stream ends it.
reference_wavs "$work/ref/raw" "$files/My Music/a.mp2" "$files/b.mp2"
corpus_files=("$files/corpus"/*)
reference_wavs "$work/ref/corpus" "${corpus_files[@]}"
raw="\"$(win "$files/My Music/a.mp2")\" $(win "$files/b.mp2")"
log_args=("$(win "$files/My Music/a.mp2")" "$work/ref/raw/a.mp2" "$(win "$files/b.mp2")" "$work/ref/raw/b.mp2")
for f in "${corpus_files[@]}"; do
  raw+=" \"$(win "$f")\""
  log_args+=("$(win "$f")" "$work/ref/corpus/$(basename "$f")")
done
raw+=" $(win "$long")"
log_args+=("$(win "$long")" "$work/ref/long/long.mp2")
expected_log "$work/expect/several.log" "${log_args[@]}"
screenshot_bmp="$work/screenshot.bmp"
if ! probe several launch "@$(text_file several.txt "$raw")" converting wait-done status "$(win "$long")" \
  save-log "$(win "$work/several.log")" total "$long_size" bar green \
  screenshot "$(win "$screenshot_bmp")" close exit 0; then
  fail several-names-and-bar "$(probe_reason several)"
elif ! same_log "$work/several.log" "$work/expect/several.log"; then
  fail several-names-and-bar "log differs from the expected lines"
else
  pass several-names-and-bar
fi
if [ -n "$screenshot_out" ] && [ -s "$screenshot_bmp" ]; then
  convert "$screenshot_bmp" "$screenshot_out" 2>/dev/null || echo "note: couldn't write $screenshot_out"
fi
different=0
identical=0
for f in "$files/My Music/a.mp2" "$files/b.mp2"; do
  if same_wav "$f" "$work/ref/raw"; then identical=$((identical + 1)); else different=$((different + 1)); fi
done
if same_wav "$long" "$work/ref/long"; then identical=$((identical + 1)); else different=$((different + 1)); fi
rm -f "$files/long/long.wav" "$work/ref/long/long.wav"
for f in "${corpus_files[@]}"; do
  reference="$work/ref/corpus/$(basename "${f%.*}").wav"
  # A stream that neither converter turns into a file counts as agreeing.
  if same_wav "$f" "$work/ref/corpus" || { [ ! -e "$reference" ] && [ ! -e "${f%.*}.wav" ]; }; then
    identical=$((identical + 1))
  else
    different=$((different + 1))
    echo "  differs: $(basename "$f")"
  fi
done
report="$win_build/synthesis_path_report.exe"
default_path=$(wine "$report" 2>/dev/null | tr -d '\r')
if [ "$different" -eq 0 ]; then
  pass "wav-bytes-equal-linux ($identical files, $default_path path)"
else
  fail wav-bytes-equal-linux "$different of $((identical + different)) files differ"
fi

# How many of the corpus's WAV files differ from the Linux converter's, each
# named on standard error; a stream that neither converter turns into a file
# counts as agreeing.
corpus_differences() {
  local f reference count=0
  for f in "${corpus_files[@]}"; do
    reference="$work/ref/corpus/$(basename "${f%.*}").wav"
    if ! same_wav "$f" "$work/ref/corpus" && { [ -e "$reference" ] || [ -e "${f%.*}.wav" ]; }; then
      count=$((count + 1))
      echo "  differs $1: $(basename "$f")" >&2
    fi
  done
  echo "$count"
}

# The program starts on the fastest path this processor runs; every other
# path it can run, forced with the test switch, must write the same bytes.
corpus_list=""
for f in "${corpus_files[@]}"; do corpus_list+=" \"$(win "$f")\""; done
for path in $(wine "$report" --available 2>/dev/null | tr -d '\r'); do
  [ "$path" = "$default_path" ] && continue
  reported=$(SONDRIK_SYNTHESIS_PATH=$path wine "$report" 2>/dev/null | tr -d '\r')
  if [ "$reported" != "$path" ]; then
    fail "wav-bytes-equal-linux-$path" "the test switch started the $reported path"
    continue
  fi
  rm -f "$files/corpus/"*.wav
  if ! SONDRIK_SYNTHESIS_PATH=$path probe "path-$path" launch "@$(text_file "path-$path.txt" "$corpus_list")" \
    wait-done close exit 0; then
    fail "wav-bytes-equal-linux-$path" "$(probe_reason "path-$path")"
    continue
  fi
  different=$(corpus_differences "on $path")
  if [ "$different" -eq 0 ]; then
    pass "wav-bytes-equal-linux-$path (${#corpus_files[@]} files)"
  else
    fail "wav-bytes-equal-linux-$path" "$different of ${#corpus_files[@]} files differ"
  fi
done

# With more than one processor a long file is decoded in chunks on all of
# them. In chunks of seven frames, on files of any size, every stream must
# still give the one pass's lines and bytes.
reference_wavs "$work/ref/long" "$long"
if ! SONDRIK_CHUNK_FRAMES=7 SONDRIK_CHUNK_MIN_BYTES=0 probe chunks launch "@$(text_file chunks.txt "$raw")" \
  wait-done save-log "$(win "$work/chunks.log")" close exit 0; then
  fail wav-bytes-equal-linux-in-chunks "$(probe_reason chunks)"
elif ! same_log "$work/chunks.log" "$work/expect/several.log"; then
  fail wav-bytes-equal-linux-in-chunks "log differs from the expected lines"
else
  different=$(corpus_differences "in chunks")
  same_wav "$long" "$work/ref/long" || different=$((different + 1))
  for f in "$files/My Music/a.mp2" "$files/b.mp2"; do same_wav "$f" "$work/ref/raw" || different=$((different + 1)); done
  if [ "$different" -eq 0 ]; then
    pass "wav-bytes-equal-linux-in-chunks ($((${#corpus_files[@]} + 3)) files, $(nproc) processors)"
  else
    fail wav-bytes-equal-linux-in-chunks "$different of $((${#corpus_files[@]} + 3)) files differ"
  fi
fi
rm -f "$files/long/long.wav" "$work/ref/long/long.wav"

if probe empty-quotes launch "@$(text_file quotes.txt '""')" wait-done log "@$(text_file finished.txt "sondrik finished"$'\r\n')" \
  status "sondrik converter" close exit 0; then
  pass empty-quotes
else
  fail empty-quotes "$(probe_reason empty-quotes)"
fi

# A missing file, a name without '.' and a destination that can't be
# created (a folder has its name) in the middle of a list.
rm -f "$files/My Music/a.wav" "$files/b.wav"
missing="$(win "$files")\\missing.mp2"
noext="$(win "$files/dialog/noext")"
cp "$tone" "$files/blocked.mp2"
mkdir -p "$files/blocked.wav"
cat >"$work/expect/failing.log.in" <<EOF
Converting $(win "$files/My Music/a.mp2")
@a
Converting $missing
ERR 2 opening $missing
Converting $noext
ERR: source file has no '.'
Converting $(win "$files/blocked.mp2")
ERR 5 opening $(win "$files")\\blocked.wav
Converting $(win "$files/b.mp2")
@b
sondrik finished
EOF
# Stand the Linux lines in for @a and @b, and end every line with \r\n.
expected_log "$work/expect/a.part" x "$work/ref/raw/a.mp2"
expected_log "$work/expect/b.part" x "$work/ref/raw/b.mp2"
while IFS= read -r line; do
  case "$line" in
    @a) sed '1d;$d' "$work/expect/a.part" ;;
    @b) sed '1d;$d' "$work/expect/b.part" ;;
    *) printf '%s\r\n' "$line" ;;
  esac
done <"$work/expect/failing.log.in" >"$work/expect/failing.log"
raw="\"$(win "$files/My Music/a.mp2")\" $missing $noext $(win "$files/blocked.mp2") $(win "$files/b.mp2")"
if ! probe failing launch "@$(text_file failing.txt "$raw")" wait-done save-log "$(win "$work/failing.log")" \
  status "$(win "$files/b.mp2")" close exit 0; then
  fail failing-file-in-the-middle "$(probe_reason failing)"
elif ! same_log "$work/failing.log" "$work/expect/failing.log"; then
  fail failing-file-in-the-middle "log differs: $(head -c 600 "$work/failing.log")"
elif ! same_wav "$files/My Music/a.mp2" "$work/ref/raw" || ! same_wav "$files/b.mp2" "$work/ref/raw"; then
  fail failing-file-in-the-middle "the files around the failing ones weren't converted exactly"
else
  pass failing-file-in-the-middle
fi

# An empty source says the system's 0, as on Linux, also when its .wav is
# there from before (creating over it leaves the system's "already exists"),
# and leaves no empty .wav file behind.
: >"$files/empty-new.mp2"
: >"$files/empty-again.mp2"
echo leftover >"$files/empty-again.wav"
rm -f "$files/empty-new.wav"
printf 'Converting %s\r\nERROR 0 reading input\r\nConverting %s\r\nERROR 0 reading input\r\nsondrik finished\r\n' \
  "$(win "$files/empty-new.mp2")" "$(win "$files/empty-again.mp2")" >"$work/expect/empty.log"
if ! probe empty launch "@$(text_file empty.txt "$(win "$files/empty-new.mp2") $(win "$files/empty-again.mp2")")" \
  wait-done save-log "$(win "$work/empty.log")" close exit 0; then
  fail empty-source "$(probe_reason empty)"
elif ! cmp -s "$work/empty.log" "$work/expect/empty.log"; then
  fail empty-source "log: $(tr '\r\n' '|' <"$work/empty.log" | cut -c1-300)"
elif [ -e "$files/empty-new.wav" ] || [ -e "$files/empty-again.wav" ]; then
  fail empty-source "an empty .wav file was left behind"
else
  pass empty-source
fi

# More names than one list holds: every one is converted, the log keeps them all.
raw=""
for i in $(seq 300); do raw+="$(win "$files/many/f$i.mp2") "; done
if ! probe many launch "@$(text_file many.txt "$raw")" wait-done save-log "$(win "$work/many.log")" close exit 0; then
  fail over-256-names "$(probe_reason many)"
elif [ "$(grep -c '^Converting ' "$work/many.log")" -ne 300 ] || [ "$(ls "$files/many/"*.wav | wc -l)" -ne 300 ]; then
  fail over-256-names "$(grep -c '^Converting ' "$work/many.log") announced, $(ls "$files/many/"*.wav | wc -l) written"
elif ! grep -q "Converting $(win "$files/many/f300.mp2" | sed 's/\\/\\\\/g')"$'\r' "$work/many.log"; then
  fail over-256-names "the last name wasn't converted"
else
  pass over-256-names
fi

# A name too long for the full path buffer is refused with one line; the list goes on.
long_name="$(win "$files")\\$(printf 'n%.0s' $(seq 1100)).mp2"
rm -f "$files/b.wav"
if ! probe too-long launch "@$(text_file too-long.txt "$long_name $(win "$files/b.mp2")")" wait-done \
  save-log "$(win "$work/too-long.log")" close exit 0; then
  fail too-long-path "$(probe_reason too-long)"
elif [ "$(sed -n 1p "$work/too-long.log" | wc -c)" -ne 1023 ] || [ "$(sed -n 1p "$work/too-long.log" | tail -c 2)" != $'\r' ] ||
  [ "$(sed -n 2p "$work/too-long.log")" != $'ERR: full path is longer than 1023 characters\r' ] ||
  ! same_wav "$files/b.mp2" "$work/ref/raw"; then
  fail too-long-path "log: $(sed -n 2,3p "$work/too-long.log" | cut -c1-100)"
else
  pass too-long-path
fi

# Closing the window while a conversion runs ends the program.
if probe close-during launch "@$(text_file one.txt "$(win "$long")")" converting close exit 0; then
  pass close-during-conversion
else
  fail close-during-conversion "$(probe_reason close-during)"
fi

# ---- the open-file dialog ----
dialog_dir=$(win "$files/dialog")
reference_wavs "$work/ref/dialog" "$files/dialog/a.mp2" "$files/dialog/b c.mp2"
# One file: the bar is set back (a file that then fails leaves it white with
# the file's size as total), and the full path is logged.
expected_log "$work/expect/dialog-one.log" "$dialog_dir\\b c.mp2" "$work/ref/dialog/b c.mp2"
if ! probe dialog-one launch "@$(text_file one.txt "$(win "$long")")" wait-done bar green \
  click 2 dialog enter-folder "$dialog_dir" type noext ok wait-done \
  log "@$(text_file noext.log "Converting $dialog_dir\\noext"$'\r\n'"ERR: source file has no '.'"$'\r\n'"sondrik finished"$'\r\n')" \
  total 4000 bar white \
  click 2 dialog enter-folder "$dialog_dir" type "b c.mp2" ok wait-done status "$dialog_dir\\b c.mp2" \
  save-log "$(win "$work/dialog-one.log")" total "$(stat -c %s "$files/dialog/b c.mp2")" bar green close exit 0; then
  fail dialog-one-file "$(probe_reason dialog-one)"
elif ! same_log "$work/dialog-one.log" "$work/expect/dialog-one.log"; then
  fail dialog-one-file "log differs: $(head -c 400 "$work/dialog-one.log")"
elif ! same_wav "$files/dialog/b c.mp2" "$work/ref/dialog"; then
  fail dialog-one-file "WAV differs from the Linux converter's"
else
  pass dialog-one-file
fi

# Several files: the log is cleared, bare names are logged, the status line
# shows full paths.
rm -f "$files/dialog/"*.wav
expected_log "$work/expect/dialog-several.log" a.mp2 "$work/ref/dialog/a.mp2" "b c.mp2" "$work/ref/dialog/b c.mp2"
if ! probe dialog-several launch "@$(text_file one.txt "$(win "$files/b.mp2")")" wait-done click 2 dialog \
  enter-folder "$dialog_dir" type "@$(text_file names.txt '"a.mp2" "b c.mp2"')" ok wait-done status "$dialog_dir\\b c.mp2" \
  save-log "$(win "$work/dialog-several.log")" close exit 0; then
  fail dialog-several-files "$(probe_reason dialog-several)"
elif ! same_log "$work/dialog-several.log" "$work/expect/dialog-several.log"; then
  fail dialog-several-files "log differs: $(head -c 400 "$work/dialog-several.log")"
elif ! same_wav "$files/dialog/a.mp2" "$work/ref/dialog" || ! same_wav "$files/dialog/b c.mp2" "$work/ref/dialog"; then
  fail dialog-several-files "WAV differs from the Linux converter's"
else
  pass dialog-several-files
fi

# Cancelled: no box, and nothing changes.
if ! probe dialog-cancel launch "@$(text_file one.txt "$(win "$files/b.mp2")")" wait-done \
  save-log "$(win "$work/before-cancel.log")" click 2 dialog cancel no-other-windows idle \
  status "$(win "$files/b.mp2")" log "@$(win "$work/before-cancel.log")" close exit 0; then
  fail dialog-cancelled "$(probe_reason dialog-cancel)"
else
  pass dialog-cancelled
fi

# A selection larger than the 8192-byte buffer: Wine hands back a buffer cut
# off without its terminators. The names that fit are converted, the rest is
# reported in one line.
if ! probe overflow launch "@$no_arguments" click 2 dialog enter-folder "$(win "$files/overflow")" \
  type "@$(text_file overflow.txt "$overflow_names")" ok wait-done save-log "$(win "$work/overflow.log")" close exit 0; then
  fail dialog-selection-overflow "$(probe_reason overflow)"
else
  announced=$(grep -c '^Converting ' "$work/overflow.log")
  written=$(ls "$files/overflow/"*.wav 2>/dev/null | wc -l)
  if [ "$announced" -lt 1 ] || [ "$announced" -ge 120 ] || [ "$written" -ne "$announced" ] ||
    [ "$(tail -2 "$work/overflow.log" | head -1)" != \
      $'ERR: the selection did not fit in 8192 bytes, the names cut off were not converted\r' ]; then
    fail dialog-selection-overflow "$announced announced, $written written; log ends $(tail -c 200 "$work/overflow.log")"
  else
    pass "dialog-selection-overflow ($announced of 120 names fit)"
  fi
fi

# Names outside the ANSI code page reach the file system through the UTF-8 manifest.
reference_wavs "$work/ref/unicode" "$files/unicode/"*.mp2
unicode_a="$(win "$files/unicode")\\音楽 д.mp2"
expected_log "$work/expect/unicode.log" "$unicode_a" "$work/ref/unicode/音楽 д.mp2"
if ! probe unicode launch "@$(text_file unicode.txt "\"$unicode_a\"")" wait-done status "$unicode_a" \
  save-log "$(win "$work/unicode.log")" click 2 dialog enter-folder "$(win "$files/unicode")" type "é ψ.mp2" ok \
  wait-done status "$(win "$files/unicode")\\é ψ.mp2" close exit 0; then
  fail utf8-names "$(probe_reason unicode)"
elif ! same_log "$work/unicode.log" "$work/expect/unicode.log"; then
  fail utf8-names "log differs: $(head -c 300 "$work/unicode.log")"
elif ! same_wav "$files/unicode/音楽 д.mp2" "$work/ref/unicode" || ! same_wav "$files/unicode/é ψ.mp2" "$work/ref/unicode"; then
  fail utf8-names "WAV missing or different"
else
  pass utf8-names
fi

echo "wine suite took $(($(date +%s) - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
