#!/usr/bin/env bash
# Damaged sources, accounted for: garbage inside a stream, a cut last frame,
# tags, CRC errors and files of other formats. -t gives one verdict per file,
# --report a JSON line whose byte accounts add up and whose digest is the
# WAV file's, --strict fails damage; Ctrl-C in a -j 2 batch and a
# --skip-existing run after it give the files of a clean run.
set -u
sondrik=$(realpath "$1")
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"

# Four seconds at 48 kHz, 192 kbit/s: frames of 576 bytes. Undithered, so
# every run encodes the same bytes.
sox -D -q -n -r 48000 -c 2 -b 16 src.wav synth 4 sine 300-3000 sine 450 gain -8
twolame --quiet -b 192 src.wav clean.mp2
twolame --quiet -p -b 192 src.wav crc.mp2
at=$((576 * 10))
{ head -c $at clean.mp2; printf '\x55'; tail -c +$((at + 1)) clean.mp2; } >gap1.mp2
{ head -c $at clean.mp2; head -c 5000 /dev/zero | tr '\0' '\125'; tail -c +$((at + 1)) clean.mp2; } >gap5000.mp2
head -c $(($(stat -c %s clean.mp2) - 100)) clean.mp2 >cut.mp2
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
ape_tag() {  # a header, one item (21 bytes), a footer
  local flags
  for flags in $(((1 << 31) | (1 << 29))) $((1 << 31)); do
    [ "$flags" -eq $((1 << 31)) ] && { le32 7; le32 0; printf 'Title\0Concert'; }
    printf APETAGEX; le32 2000; le32 53; le32 1; le32 "$flags"; head -c 8 /dev/zero
  done
}
# ID3v2 of 1010 bytes, APE of 85, ID3v1 of 128.
{ printf 'ID3\x03\x00\x00\x00\x00\x07\x68'; head -c 1000 /dev/zero; cat clean.mp2; ape_tag
  printf TAG; head -c 125 /dev/zero | tr '\0' ' '; } >tags.mp2
# Byte 6 of a frame with a CRC is its first allocation bits; byte 400 is samples.
cp crc.mp2 crc_in.mp2
printf '\x0f' | dd of=crc_in.mp2 bs=1 seek=$((576 * 20 + 6)) conv=notrunc status=none
cp crc.mp2 crc_out.mp2
printf '\x0f' | dd of=crc_out.mp2 bs=1 seek=$((576 * 20 + 400)) conv=notrunc status=none
ffmpeg -v error -i src.wav -c:a libmp3lame -b:a 128k mp3.mp2
sox src.wav flac.flac && mv flac.flac flac.mp2
: >empty.mp2
files=(clean gap1 gap5000 cut tags crc_in crc_out mp3 flac empty)
sources=("${files[@]/%/.mp2}")

# -t: a verdict per file and its exit status, and nothing written.
while read -r name status verdict; do
  "$sondrik" -t -o tested "$name.mp2" >out.txt 2>err.txt
  got=$?
  line=$(cat out.txt err.txt | grep -v '^sondrik finished')
  [ $got -eq "$status" ] || fail "-t $name: exit $got, wanted $status"
  [ "$line" = "$verdict" ] || fail "-t $name: '$line', wanted '$verdict'"
done <<'EOF'
clean 0 clean.mp2: OK, 0:00:04 (167 frames)
gap1 1 ERR: gap1.mp2: DAMAGED, 1 gap (1 byte); 0:00:04 (167 frames)
gap5000 1 ERR: gap5000.mp2: DAMAGED, 1 gap (5000 bytes); 0:00:04 (167 frames)
cut 0 cut.mp2: OK, 0:00:03 (166 frames)
tags 0 tags.mp2: OK, 0:00:04 (167 frames)
crc_in 1 ERR: crc_in.mp2: DAMAGED, 1 CRC error; 0:00:04 (167 frames)
crc_out 0 crc_out.mp2: OK, 0:00:04 (167 frames)
mp3 1 ERR: mp3.mp2: FAILED, mp3.mp2 is an MPEG Layer III (MP3) stream; only Layer II is converted
flac 1 ERR: flac.mp2: FAILED, flac.mp2 is a FLAC file, not MPEG audio
empty 1 ERR: empty.mp2: FAILED, error 0 reading input
EOF
ls >before.txt
"$sondrik" -t -o tested --report test.jsonl "${sources[@]}" >out.txt 2>err.txt
[ $? -eq 1 ] || fail "-t over damaged files did not exit 1"
grep -qx 'sondrik finished: 10 checked (4 OK, 3 damaged, 3 failed); 0:00:2[0-9] of audio in [0-9.]* s' out.txt ||
  { fail "-t summary"; cat out.txt; }
[ "$(ls | grep -vx test.jsonl)" = "$(cat before.txt)" ] || fail "-t created files: $(ls)"
[ "$(jq -r 'select(.destination != null or .sha256 != null) | .source' test.jsonl)" = "" ] ||
  fail "-t reports a WAV file"
[ "$(jq -r '.outcome' test.jsonl | sort | uniq -c | tr -s ' ' | tr '\n' ,)" = " 7 checked, 3 failed," ] ||
  fail "-t outcomes: $(jq -r .outcome test.jsonl | tr '\n' ' ')"

# Converted with a report: one line per source, in order, as the table says.
"$sondrik" -j 2 --report run.jsonl "${sources[@]}" >out.txt 2>err.txt
status=$?; [ $status -eq 1 ] || { fail "a run with failures: exit $status"; cat out.txt err.txt; }
grep -qx 'sondrik finished: 7 converted (3 with gaps or CRC errors), 3 failed, 0 skipped; 0:00:2[0-9] of audio in [0-9.]* s' \
  out.txt || { fail "summary"; cat out.txt; }
grep -q '^gap: 5000 bytes skipped at 0:00:00.240 (byte 5760)$' out.txt || fail "the gap line"
grep -q '^CRC error in frame 21 at 0:00:00.480$' out.txt || fail "the CRC error line"
expected='clean.mp2	converted	-	0	0	0	0	0	clean.wav
gap1.mp2	converted	-	1	0	1	0	0	gap1.wav
gap5000.mp2	converted	-	1	0	5000	0	0	gap5000.wav
cut.mp2	converted	-	0	0	0	0	476	cut.wav
tags.mp2	converted	-	0	0	0	1223	0	tags.wav
crc_in.mp2	converted	-	0	1	0	0	0	crc_in.wav
crc_out.mp2	converted	-	0	0	0	0	0	crc_out.wav
mp3.mp2	failed	other_layer	-	-	-	-	-	-
flac.mp2	failed	foreign_format	-	-	-	-	-	-
empty.mp2	failed	read_failed	-	-	-	-	-	-'
got=$(jq -r 'if .outcome == "converted" then [.source, .outcome, "-", .gap_count, .crc_error_count, .bytes.gaps,
  .bytes.tags, .bytes.cut_frame, .destination] else [.source, .outcome, .failure, "-", "-", "-", "-", "-",
  (.destination // "-")] end | @tsv' run.jsonl)
[ "$got" = "$expected" ] || { fail "the report:"; diff <(echo "$expected") <(echo "$got"); }
[ "$(jq -c '[.gaps[0].offset, .gaps[0].length, .gaps[0].time]' <(grep gap5000 run.jsonl))" = "[5760,5000,0.24]" ] ||
  fail "the gap's place"
[ "$(jq -c '.crc_errors' <(grep crc_in run.jsonl))" = '[{"frame":21,"time":0.48}]' ] || fail "the CRC error's place"
while IFS=$'\t' read -r source destination digest size read accounted; do
  [ "$digest" = "$(sha256sum "$destination" | cut -d' ' -f1)" ] || fail "$source: the digest is not the WAV file's"
  [ "$size" -eq "$(stat -c %s "$source")" ] && [ "$read" -eq "$size" ] && [ "$accounted" -eq "$size" ] ||
    fail "$source: $size bytes, $read read, $accounted accounted for"
done < <(jq -r 'select(.outcome == "converted") | [.source, .destination, .sha256, .input_size, .bytes.read,
  (.bytes | .frames + .tags + .stuffing + .gaps + .cut_frame + .not_converted)] | @tsv' run.jsonl)
unaccounted=$(jq -r 'select(.bytes.read != (.bytes | .frames + .tags + .stuffing + .gaps + .cut_frame +
  .not_converted)) | .source' run.jsonl)
[ -z "$unaccounted" ] || fail "bytes read and not accounted for: $unaccounted"
cmp -s clean.wav crc_out.wav && fail "the flipped sample bit changed nothing"
for name in mp3 flac empty; do
  [ -z "$(ls $name.*wav* 2>/dev/null)" ] || fail "$name left $(ls $name.*wav*)"
done

# --strict: a damaged file fails, keeps its WAV file and says so; without it the run passes.
"$sondrik" -f clean.mp2 gap1.mp2 >out.txt 2>err.txt || fail "damage without --strict: exit $?"
"$sondrik" -f --strict clean.mp2 gap1.mp2 >out.txt 2>err.txt
[ $? -eq 1 ] || fail "--strict did not exit 1"
[ "$(cat err.txt)" = "ERR: gap1.mp2 is damaged: 1 gap (1 byte); --strict counts it as failed" ] ||
  { fail "--strict line"; cat err.txt; }
grep -q '^sondrik finished: 1 converted, 1 failed, 0 skipped; ' out.txt || { fail "--strict summary"; cat out.txt; }
[ -s gap1.wav ] || fail "--strict removed the WAV file"

# A change of rate past the first reads: the rest is not converted, and yet
# accounted for, from a file, a pipe and a transport stream's track.
sox -D -q src.wav -r 44100 src44.wav
twolame --quiet -b 192 src44.wav at44.mp2
cat clean.mp2 at44.mp2 >changed.mp2
ffmpeg -v error -i changed.mp2 -c:a copy -f mpegts changed.ts
"$sondrik" -f --report changed.jsonl changed.mp2 >/dev/null 2>&1
cat changed.mp2 | "$sondrik" -c --report piped.jsonl - >/dev/null 2>&1
"$sondrik" -f --report track.jsonl changed.ts >/dev/null 2>&1
for report in changed.jsonl piped.jsonl track.jsonl; do
  jq -e '.failure == "rate_changed" and .bytes.not_converted > 0 and
    .bytes.read == (.bytes | .frames + .tags + .stuffing + .gaps + .cut_frame + .not_converted)' $report >/dev/null ||
    fail "$report: the accounts of a change of rate: $(jq -c .bytes $report)"
done
[ "$(jq .bytes.read changed.jsonl)" -eq "$(stat -c %s changed.mp2)" ] || fail "a change of rate: not all the file accounted for"
[ "$(jq .bytes.read track.jsonl)" -le "$(stat -c %s changed.mp2)" ] || fail "a track's change of rate: more read than it holds"

# Ctrl-C with two files running, then --skip-existing: every file finished,
# none left unfinished, each the bytes of an uninterrupted run.
sox -D -q -n -r 32000 -c 1 -b 16 ten.wav synth 10 sine 200-2000 gain -6
twolame --quiet -b 32 ten.wav ten.mp2
mkdir batch
cp ten.mp2 batch/a-short.mp2
for _ in $(seq 1 180); do cat ten.mp2; done >batch/b.mp2  # half an hour
cp batch/b.mp2 batch/c.mp2
cp batch/b.mp2 batch/d.mp2
"$sondrik" -q -o clean batch >/dev/null 2>&1 || fail "the clean batch run failed"
target=$(($(stat -c %s clean/b.wav) * 3 / 10))
"$sondrik" -j 2 -o resumed --report stopped.jsonl batch >out.txt 2>err.txt &
pid=$!
for _ in $(seq 1 3000); do
  [ "$(stat -c %s resumed/*.wav.part 2>/dev/null | sort -n | tail -1)" -ge $target ] 2>/dev/null && break
  sleep 0.005
done
kill -INT $pid
wait $pid
status=$?
[ $status -eq 130 ] || fail "Ctrl-C in a batch: exit $status"
# Which files finished depends on the threads' pace; nothing else may.
ls resumed/*.part >/dev/null 2>&1 && fail "Ctrl-C left part files: $(ls resumed)"
partials=$(cd resumed && ls *.partial.wav 2>/dev/null)
[ -n "$partials" ] || fail "no file was interrupted: $(ls resumed)"
for partial in $partials; do
  name=${partial%.partial.wav}
  frames=$(sed -nE "s/^ERR: interrupted after ([0-9]+) frames; resumed\/$name\.partial\.wav holds the part before$/\1/p" err.txt)
  [ -n "$frames" ] || { fail "the interrupted line of $name"; cat err.txt; frames=0; }
  [ "$(stat -c %s resumed/$partial)" -eq $((44 + frames * 2304)) ] &&
    cmp -s -n $((frames * 2304)) <(tail -c +45 resumed/$partial) <(tail -c +45 clean/$name.wav) ||
    fail "$partial is not the start of $name.wav"
done
# Files not started have no report line.
want=$(for partial in $partials; do printf 'batch/%s.mp2\tinterrupted\tresumed/%s\t-\n' "${partial%.partial.wav}" "$partial"; done)
got=$(jq -r 'select(.outcome != "converted") | [.source, .failure, .destination, .sha256 // "-"] | @tsv' stopped.jsonl)
[ "$got" = "$want" ] || fail "the report of the stopped run: $got"
finished=0
for wav in $(cd resumed && ls | grep -v '\.partial\.wav$'); do
  cmp -s resumed/$wav clean/$wav || fail "$wav, finished before Ctrl-C, differs from a clean run"
  finished=$((finished + 1))
done
[ "$(wc -l <stopped.jsonl)" -eq $((finished + $(echo "$partials" | wc -w))) ] || fail "report lines after Ctrl-C"
"$sondrik" -j 2 --skip-existing -o resumed batch >out.txt 2>err.txt || fail "the resumed run: exit $?"
grep -q "^sondrik finished: $((4 - finished)) converted, 0 failed, $finished skipped; " out.txt ||
  { fail "resumed summary"; cat out.txt; }
[ "$(cd resumed && ls | tr '\n' ' ')" = "a-short.wav b.wav c.wav d.wav " ] || fail "after resuming: $(ls resumed)"
for f in a-short b c d; do cmp -s clean/$f.wav resumed/$f.wav || fail "resumed $f.wav differs from a clean run"; done

echo "$failures failures"
[ $failures -eq 0 ]
