#!/usr/bin/env bash
# Ctrl-C at about 30% of a 60-minute file: the part converted is
# hour.partial.wav, never hour.wav; it is playable (sox reads its header),
# holds exactly the frames the line names, and they are the start of a full
# conversion. The exit status is 130, and the report's byte accounts end
# with the last frame. Resuming with --skip-existing finishes the file and
# takes the part away.
set -u
sondrik=$(realpath "$1")
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"

# Ten seconds encoded at a low rate, its frames repeated to an hour: Layer II
# frames stand alone, so the copies make one valid stream.
sox -q -n -r 32000 -c 1 -b 16 ten.wav synth 10 sine 200-2000 gain -6
twolame --quiet -b 32 ten.wav ten.mp2
for _ in $(seq 1 360); do cat ten.mp2; done >hour.mp2
"$sondrik" -q -o full hour.mp2 >/dev/null 2>full.err || { fail "the full conversion failed"; cat full.err; }
full_bytes=$(stat -c %s full/hour.wav)
seconds=$(sox --i -D full/hour.wav)
[ "${seconds%%.*}" -ge 3599 ] || fail "the stream is $seconds s, not an hour"

"$sondrik" --report report.json hour.mp2 >out.txt 2>err.txt &
pid=$!
target=$((full_bytes * 3 / 10))
for _ in $(seq 1 3000); do
  [ "$(stat -c %s hour.wav.part 2>/dev/null || echo 0)" -ge $target ] && break
  sleep 0.005
done
kill -INT $pid
wait $pid
status=$?
[ $status -eq 130 ] || fail "exit $status, wanted 130"
line=$(cat err.txt)
frames=$(sed -nE 's/^ERR: interrupted after ([0-9]+) frames; hour\.partial\.wav holds the part before$/\1/p' err.txt)
[ -n "$frames" ] || { fail "the interrupted line: $line"; frames=0; }
grep -q '^sondrik finished: 0 converted, 1 failed, 0 skipped; ' out.txt || { fail "summary"; cat out.txt; }
percent=$((frames * 1152 * 2 * 100 / (full_bytes - 44)))
echo "interrupted at $percent% ($frames frames)"
[ $percent -ge 20 ] && [ $percent -le 60 ] || fail "stopped at $percent%, not near 30%"
[ -e hour.wav ] || [ -e hour.wav.part ] && fail "an unfinished hour.wav or hour.wav.part is left"
samples=$(sox --i -s hour.partial.wav 2>&1) || fail "sox can't read the interrupted file: $samples"
[ "$samples" = $((frames * 1152)) ] || fail "sox reads $samples samples, the line says $frames frames"
[ "$(stat -c %s hour.partial.wav)" -eq $((44 + frames * 2304)) ] || fail "the file holds more or less than its frames"
cmp -s -i 44 -n $((frames * 2304)) hour.partial.wav full/hour.wav || fail "the samples differ from the full conversion's start"
accounts=$(python3 -c 'import json, sys
b = json.load(open(sys.argv[1]))["bytes"]
print(b["read"], sum(v for k, v in b.items() if k != "read"), b["frames"])' report.json)
[ "$accounts" = "$((frames * 144)) $((frames * 144)) $((frames * 144))" ] ||
  fail "read, the accounts and the frames' bytes are $accounts, not those of $frames frames of 144 bytes"

"$sondrik" -q --skip-existing hour.mp2 >/dev/null 2>&1 || fail "the resumed run failed"
cmp -s hour.wav full/hour.wav || fail "the resumed file differs from a clean run's"
[ -e hour.partial.wav ] && fail "the resumed run left hour.partial.wav"

echo "$failures failures"
[ $failures -eq 0 ]
