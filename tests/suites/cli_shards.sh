#!/usr/bin/env bash
# Beyond one machine: three --shard processes under GNU parallel over one
# tree convert each file exactly once, in the shard its name hashes to, and
# together write what one run writes. Sources from --files-from lists (lines,
# NUL from find -print0); --track 2 of a transport stream; the folder walk's
# container names.
#
#   cli_shards.sh SONDRIK
#
# Exits 77 when a tool is missing.
set -u
sondrik=$(realpath "$1")
for tool in twolame sox ffmpeg parallel python3 cmp; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"

# 36 short tones in nested folders, in every MP2 extension, names unique.
folders=(. a a/b a/b/c d d/e)
extensions=(mp2 MP2 mpa m2a mpeg mp2)
for i in $(seq 1 36); do
  takes[i]=tree/${folders[i % 6]}/take$i.${extensions[i / 6 % 6]}
  mkdir -p "$(dirname ${takes[i]})"
  sox -q -R -n -r 32000 -c 1 tone.wav synth 0.3 sine $((200 + i * 37)) &&
    twolame --quiet -m m -b 64 tone.wav ${takes[i]} || fail "take$i: sox or twolame failed"
done

# Track 2 of three beside a video is b.mp2's WAV, alone; b's track in every
# container name the walk takes, in any case; names it passes over.
sox -q -R -n -r 48000 -c 2 a.wav synth 2 sine 440 && sox -q -R -n -r 48000 -c 2 b.wav synth 2 sine 300-3000 &&
  sox -q -R -n -r 48000 -c 1 c.wav synth 2 pinknoise && twolame --quiet a.wav a.mp2 &&
  twolame --quiet -m s b.wav b.mp2 && twolame --quiet -m m -b 96 c.wav c.mp2 && rm a.wav b.wav c.wav &&
  "$sondrik" -q a.mp2 b.mp2 c.mp2 >/dev/null || fail "could not make a, b and c"
ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -i a.mp2 -i b.mp2 -i c.mp2 \
  -map 0:v -map 1:a -map 2:a -map 3:a -c:v mpeg2video -c:a copy -shortest -f mpegts x.ts || fail "ffmpeg: x.ts"
log=$("$sondrik" --track 2 x.ts 2>&1) || fail "--track 2: exit $?"
[ "$(grep '^track ' <<<"$log")" = 'track 2 of 3: PID 0x0102' ] && cmp -s x.wav b.wav && ! ls x.?.wav 2>/dev/null ||
  fail "--track 2: $log"
"$sondrik" -q -f --track 2 - <x.ts >/dev/null && cmp -s stdin.wav b.wav || fail "--track 2 from standard input"
"$sondrik" -q --track 2 -o elementary b.mp2 >/dev/null && cmp -s elementary/b.wav b.wav || fail "--track 2 of an MP2 file"
mkdir tree/video && cp x.ts tree/video/six.ts && echo text >tree/a/notes.txt && cp b.mp2 tree/d/clip.mp4
for entry in "one.ts mpegts" "two.M2TS mpegts -mpegts_m2ts_mode 1" "three.mts mpegts" "four.mpg mpeg" "five.VOB vob"; do
  read -r name format more <<<"$entry"
  ffmpeg -v error -y -i b.mp2 -c copy -f $format $more tree/video/$name || fail "ffmpeg: $name"
done
files=$(find tree -type f ! -name notes.txt ! -name clip.mp4 | wc -l)
"$sondrik" -j 2 -o whole tree >whole.txt 2>&1 && [ "$(grep -c '^Converting ' whole.txt)" -eq "$files" ] ||
  fail "whole tree: not $files files converted"
for entry in "one b" "two b" "three b" "four b" "five b" "six a" "six.2 b" "six.3 c"; do
  read -r wav stream <<<"$entry"
  cmp -s whole/video/$wav.wav $stream.wav || fail "whole tree: video/$wav.wav is not $stream.mp2's WAV"
done

# Three shards as three processes: each file once, in the shard the upper
# half of the FNV-1a 64 of its name below the folder gives, the same WAVs
# as the whole run, and summaries that add up.
shard_of() {  # N NAME...
  python3 - "$@" <<'PY'
import sys
for name in sys.argv[2:]:
    h = 0xcbf29ce484222325
    for b in name.encode():
        h = ((h ^ b) * 0x100000001b3) & 0xffffffffffffffff
    print((h >> 32) % int(sys.argv[1]) + 1, name)
PY
}
parallel -j 3 "'$sondrik' -j 1 --shard {}/3 -o shards tree >shard{}.txt 2>&1" ::: 1 2 3 || fail "a shard failed"
for k in 1 2 3; do sed -n "s|^Converting tree/|$k |p" shard$k.txt; done | sort -k2 >converted.txt
cmp -s converted.txt <(shard_of 3 $(sed -n 's|^Converting tree/||p' whole.txt) | sort -k2) ||
  fail "shards: the files converted, or their shards"
[ "$(cd whole && find . -type f | sort)" = "$(cd shards && find . -type f | sort)" ] || fail "shards: other WAV files"
for wav in $(cd whole && find . -type f); do cmp -s whole/$wav shards/$wav || fail "shards: $wav differs"; done
summed=$(sed -n -E 's/^sondrik finished: ([0-9]+) converted, 0 failed, 0 skipped.*/\1/p' shard?.txt | awk '{s += $1} END {print s}')
[ "$summed" = "$files" ] || fail "shards: the summaries count $summed files, not $files"

# Two sources for one destination in two shards: the second fails in its own.
mkdir clash && cp ${takes[1]} clash/clash.mp2 && cp ${takes[2]} clash/clash.mpeg
[ "$(shard_of 3 clash.mp2 clash.mpeg | cut -d' ' -f1 | uniq | wc -l)" -eq 2 ] || fail "clash: pick other names"
for k in 1 2 3; do "$sondrik" --shard $k/3 -o clashed clash 2>&1; done | grep ERR >clash.txt
[ "$(cat clash.txt)" = 'ERR: clashed/clash.wav is already the destination of clash/clash.mp2' ] &&
  cmp -s clashed/clash.wav whole/${folders[1]}/take1.wav || fail "clash across shards: $(cat clash.txt)"

# Lists: after the command line's sources, in list order; from standard
# input; sharded; naming '-'; NUL-separated names holding a newline.
find tree -name 'take*' | sort -r >list.txt
"$sondrik" -t -j 2 b.mp2 --files-from list.txt 2>&1 | sed -n 's/: OK,.*//p' >listed.txt
cmp -s listed.txt <(echo b.mp2; cat list.txt) || fail "--files-from: files or order"
sed 's/$/\r/; 1i\\r' list.txt >crlf.txt
"$sondrik" -t --files-from crlf.txt 2>&1 | sed -n 's/: OK,.*//p' | cmp -s - list.txt || fail "--files-from: a list with CR LF lines"
"$sondrik" -q -j 2 -o flat --files-from - <list.txt >/dev/null 2>&1 || fail "--files-from -: exit $?"
for i in $(seq 1 36); do cmp -s flat/take$i.wav whole/${folders[i % 6]}/take$i.wav || fail "--files-from -: take$i.wav"; done
for k in 1 2 3; do "$sondrik" -t --shard $k/3 --files-from list.txt 2>&1; done | sed -n 's/: OK,.*//p' | sort >sharded.txt
cmp -s sharded.txt <(sort list.txt) || fail "--files-from with --shard: not each listed file once"
echo - >dash.txt
"$sondrik" -q -f --files-from dash.txt <b.mp2 >/dev/null && cmp -s stdin.wav b.wav || fail "a list naming '-'"
out=$(echo - | "$sondrik" --files-from - 2>&1)
[ $? -eq 2 ] && [ "$(head -1 <<<"$out")" = "sondrik: the list on standard input names '-', standard input itself" ] ||
  fail "a list on standard input naming '-': $(head -1 <<<"$out")"
mkdir odd && cp ${takes[1]} "odd/with space.mp2" && cp ${takes[2]} "odd/two
lines.mp2"
find odd -type f -print0 >list0
"$sondrik" -q -o nul --null --files-from list0 >/dev/null 2>&1 &&
  find odd -type f -print0 | "$sondrik" -q -o nul_stdin --null --files-from - >/dev/null 2>&1 || fail "--null: exit status"
for out in nul nul_stdin; do
  cmp -s "$out/with space.wav" whole/${folders[1]}/take1.wav && cmp -s "$out/two
lines.wav" whole/${folders[2]}/take2.wav || fail "--null: $out holds other WAV files: $(ls $out | xargs)"
done

# Usage errors: exit status 2 and the first line.
while IFS='|' read -r arguments line; do
  eval "args=($arguments)"
  out=$("$sondrik" "${args[@]}" 2>&1 </dev/null)
  [ $? -eq 2 ] && [ "$(head -1 <<<"$out")" = "$line" ] || fail "sondrik $arguments: $(head -1 <<<"$out")"
done <<'TABLE'
--track 0 b.mp2|sondrik: --track wants a track number from 1, not '0'
--track 2x b.mp2|sondrik: --track wants a track number from 1, not '2x'
--track 99999999999 b.mp2|sondrik: --track wants a track number from 1, not '99999999999'
--shard 4/3 b.mp2|sondrik: --shard wants K/N with 1 <= K <= N, not '4/3'
--shard 0/3 b.mp2|sondrik: --shard wants K/N with 1 <= K <= N, not '0/3'
--shard 2 b.mp2|sondrik: --shard wants K/N with 1 <= K <= N, not '2'
--shard 1/3/5 b.mp2|sondrik: --shard wants K/N with 1 <= K <= N, not '1/3/5'
--null b.mp2|sondrik: --null says how a --files-from list is separated, but none is given
--files-from ''|sondrik: --files-from needs a file name, or - for standard input
--files-from - -|sondrik: --files-from - reads the list from standard input, so '-' can't be a source too
--shard 1/2|sondrik: no source given
--files-from missing.txt|ERR 2 opening list missing.txt
TABLE

echo "$files files in 3 shards: $(for k in 1 2 3; do grep -c '^Converting ' shard$k.txt; done | xargs)"
echo "$failures failures"
[ $failures -eq 0 ]
