#!/usr/bin/env bash
# Checking without writing: CPU time of build/sondrik -t over the 40 files of
# bench/jobs.sh, against mpg123 -t on the same files and against converting
# them, medians of ROUNDS (default 5) alternating rounds, one thread each.
#   bench/check_only.sh [ROUNDS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${BENCH_DIR:-$root/build/bench}/jobs"
sondrik="${SONDRIK:-$root/build/sondrik}"
rounds=${1:-5}
for tool in sox twolame mpg123 python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
mkdir -p "$work/mp2"
cd "$work"
for i in $(seq -w 1 40); do
  [ -s "mp2/take$i.mp2" ] && continue
  sox -R -c 2 -r 48000 -n -b 16 src.wav synth 15 sine $((200 + 10#$i * 17)) pinknoise tremolo 3 40 gain -8
  twolame --quiet -b 192 src.wav "mp2/take$i.mp2"
done
rm -f src.wav
out=/dev/shm/sondrik-check
cpu() {  # user + system seconds of one run
  /usr/bin/time -f '%U %S' -o time.txt "$@" >/dev/null 2>&1 || true
  awk '{print $1 + $2}' time.txt
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
: >check.txt
: >mpg123.txt
: >convert.txt
for _ in $(seq 1 "$rounds"); do
  cpu "$sondrik" -q -t -j 1 mp2 >>check.txt
  cpu mpg123 -q -t mp2/*.mp2 >>mpg123.txt
  rm -rf "$out"
  cpu "$sondrik" -q -j 1 -o "$out" mp2 >>convert.txt
  rm -rf "$out"
done
check=$(median <check.txt)
mpg=$(median <mpg123.txt)
conv=$(median <convert.txt)
printf '| 40 files of 15 s | CPU s (median of %s) | / mpg123 -t |\n|---|---|---|\n' "$rounds"
printf '| sondrik -t | %s | %.2f |\n' "$check" "$(python3 -c "print($check / $mpg)")"
printf '| mpg123 -t | %s | 1.00 |\n' "$mpg"
printf '| sondrik converting | %s | %.2f |\n' "$conv" "$(python3 -c "print($conv / $mpg)")"
