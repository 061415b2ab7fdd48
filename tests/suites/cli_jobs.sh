#!/usr/bin/env bash
# Several files at once: with -j 2 each file's lines stay together and in list
# order, and every WAV file is byte for byte the one -j 1 writes.
set -u
sondrik=$(realpath "$1")
data=$(realpath "$2")
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"

# 20 files: a long one first, so the short ones behind it finish before it.
mkdir -p set
sox -q -n -r 48000 -c 2 -b 16 long.wav synth 25 sine 300-3000 sine 450 gain -8
twolame --quiet -b 192 long.wav set/00-long.mp2
i=1
for f in "$data"/golden/*.mp2 "$data"/switch/*.mp2; do
  cp "$f" "set/$(printf %02d $i)-$(basename "$f")"
  i=$((i + 1))
done
while [ $i -lt 20 ]; do
  sox -q -n -r 32000 -c 1 -b 16 short.wav synth 0.$i pinknoise gain -12
  twolame --quiet -b 64 short.wav "set/$(printf %02d $i)-noise.mp2"
  i=$((i + 1))
done
[ "$(ls set | wc -l)" -eq 20 ] || fail "wanted 20 files, made $(ls set | wc -l)"

# Timings differ from run to run; nothing else may.
normalized() { sed -e 's/^wav file written, .*/wav file written/' -e 's/ in [0-9.]* s$//' "$1"; }
"$sondrik" -j 1 -o one set >one.txt 2>one.err
s1=$?
"$sondrik" -j 2 -o two set >two.txt 2>two.err
s2=$?
[ $s1 -eq 0 ] && [ $s2 -eq 0 ] || { fail "exit $s1 and $s2"; cat one.err two.err; }
[ "$(normalized one.txt)" = "$(normalized two.txt)" ] || { fail "-j 2 lines differ from -j 1"; diff <(normalized one.txt) <(normalized two.txt); }

# Each file: its Converting line, the stream line, the two closing lines.
expected=$(for f in $(ls set); do
  printf 'Converting set/%s\nSTREAM\nwav file written\nSTATS\n' "$f"
done; echo "sondrik finished: 20 converted, 0 failed, 0 skipped;")
got=$(normalized two.txt | sed -E -e 's/^[0-9]+ [0-9]+k (stereo|jstereo|dualch|mono)$/STREAM/' \
  -e 's/^[0-9]+ frames est .*/STATS/' -e 's/ of audio$//' -e 's/ [0-9]+:[0-9]{2}:[0-9]{2}$//')
[ "$got" = "$expected" ] || { fail "-j 2 lines not grouped in list order:"; diff <(echo "$expected") <(echo "$got"); }

for f in $(ls set); do
  wav=${f%.mp2}.wav
  cmp -s "one/$wav" "two/$wav" || fail "$wav differs between -j 1 and -j 2"
done
# A batch of files each decoded in chunks from its input held whole: what one
# file held is given back before the later ones, so 40 files of 4.3 MB peak
# no higher than two do (a sanitizer's own memory included).
mkdir -p held two_held
sox -q -n -r 48000 -c 2 -b 16 three.wav synth 180 sine 300-3000 gain -8
twolame --quiet -b 192 three.wav held/00.mp2
for i in $(seq 1 39); do ln held/00.mp2 "held/$i.mp2"; done
ln held/00.mp2 two_held/1.mp2 && ln held/00.mp2 two_held/2.mp2
peak_of() {
  python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024)' "$sondrik" -q -t -j 2 "$1"
}
two=$(peak_of two_held) && forty=$(peak_of held) || fail "-t -j 2 over the held files failed"
[ "${forty:-999}" -le $((${two:-0} + 16)) ] || fail "40 files of 4.3 MB at -j 2 peaked at $forty MiB, 2 at $two MiB"
echo "$failures failures"
[ $failures -eq 0 ]
