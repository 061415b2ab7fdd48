#!/usr/bin/env bash
# Figures for the Windows program under Wine: the conversion time it reports
# itself ("wav file written, S sec") for each 600 s stream of bench/run.sh, on
# every synthesis path, next to the Linux converter's own figure on the
# default path, and whether each WAV file has the Linux converter's bytes.
# Medians over ROUNDS; Wine's start-up is not in them. Last, one of them
# decoded in chunks on every processor against one pass.
#   bench/wine_figures.sh WIN32_BUILD_DIR [ROUNDS]
# Needs the streams bench/run.sh made (BENCH_DIR, default build/bench).
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
win_build=$(cd "$1" && pwd)
rounds=${2:-5}
bench="${BENCH_DIR:-$root/build/bench}"
linux="$root/build/sondrik"
work=$(mktemp -d /tmp/sondrik-wine-bench.XXXXXX)
source "$root/tests/wine/private_wine.sh"
start_private_wine || { echo "wine_figures: $(cat "$work/setup.log")" >&2; exit 1; }
wineserver -p

seconds() { sed -n 's/^wav file written, \([0-9.]*\) sec.*/\1/p' "$1" | tr -d '\r' | head -1; }
median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
# The program's own time converting the sources of args.txt, with the
# test switch NAME=VALUE set, median over the rounds.
program_median() {
  for _ in $(seq "$rounds"); do
    env "$1" timeout 600 wine "$win_build/ui_probe.exe" "$(winepath -w "$win_build/sondrik.exe")" \
      launch "@$(winepath -w "$work/args.txt")" wait-done save-log "$(winepath -w "$work/log.txt")" close exit 0 \
      >/dev/null 2>&1
    seconds "$work/log.txt"
  done | median
}
same_as_linux() {
  if [ "$(sha256sum <"$work/$name.wav" 2>/dev/null)" = "$linux_sum" ]; then echo "same as Linux |"; else echo "DIFFER |"; fi
}

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg), $rounds rounds"
echo
echo "| stream | program | path | reported s (median) | bytes |"
echo "|---|---|---|---:|---|"
paths=$(wine "$win_build/synthesis_path_report.exe" --available 2>/dev/null | tr -d '\r' | tac)
for name in s48_stereo_192k s44_jstereo_128k s48_mono_64k s32_stereo_64k; do
  [ -s "$bench/$name.mp2" ] || { echo "no $bench/$name.mp2: run bench/run.sh first" >&2; exit 1; }
  cp "$bench/$name.mp2" "$work/$name.mp2"
  for round in $(seq "$rounds"); do
    "$linux" -f -j 1 "$work/$name.mp2" >"$work/linux.txt"
    seconds "$work/linux.txt"
  done | median | xargs printf "| $name | sondrik (Linux) | $("$root/build/synthesis_path_report") | %s | |\n"
  linux_sum=$(sha256sum <"$work/$name.wav")
  printf '%s' "$(winepath -w "$work/$name.mp2")" >"$work/args.txt"
  for path in $paths; do
    rm -f "$work/$name.wav"
    program_median SONDRIK_SYNTHESIS_PATH="$path" | xargs printf "| $name | sondrik.exe (Wine) | $path | %s | "
    same_as_linux
  done
  rm -f "$work/$name".*
done

# A long file on every processor, against the one pass the test switch
# SONDRIK_CHUNK_MIN_BYTES gives when no file reaches it.
echo
echo "| stream | sondrik.exe (Wine), $(nproc) processors | reported s (median) | bytes |"
echo "|---|---|---:|---|"
name=s48_stereo_192k
cp "$bench/$name.mp2" "$work/$name.mp2"
"$linux" -q -f -j 1 "$work/$name.mp2" >/dev/null 2>&1
linux_sum=$(sha256sum <"$work/$name.wav")
printf '%s' "$(winepath -w "$work/$name.mp2")" >"$work/args.txt"
for way in "one pass:$((1 << 62))" "in chunks:$((4 << 20))"; do
  rm -f "$work/$name.wav"
  program_median SONDRIK_CHUNK_MIN_BYTES="${way#*:}" | xargs printf "| $name | ${way%%:*} | %s | "
  same_as_linux
done
rm -f "$work/$name".*
