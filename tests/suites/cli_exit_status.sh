#!/usr/bin/env bash
# The command line: options anywhere, usage, where each line goes, and every
# exit status (0, 1, 2, and 130/143 for an interrupt or a termination).
set -u
sondrik=$(realpath "$1")
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"
expect() {  # description, wanted status, command...
  local what=$1 wanted=$2; shift 2
  "$@" >out.txt 2>err.txt
  local status=$?
  [ $status -eq "$wanted" ] || { fail "$what: exit $status, wanted $wanted"; cat out.txt err.txt; }
}
expect "--help" 0 "$sondrik" --help
grep -q '^usage: sondrik' out.txt || fail "--help text"
expect "-h after a file" 0 "$sondrik" a.mp2 -h
grep -q '^usage: sondrik' out.txt || fail "-h after a file"
[ ! -e a.wav ] || fail "-h converted something"
expect "--version" 0 "$sondrik" --version
grep -qx 'sondrik [0-9.]*' out.txt || fail "--version text"
expect "no files" 2 "$sondrik"
expect "unknown option" 2 "$sondrik" --frobnicate
grep -q 'unknown option --frobnicate' err.txt || fail "unknown option named"
[ -s out.txt ] && fail "a usage error printed on standard output"
expect "-j without a number" 2 "$sondrik" -j x a.mp2
expect "-j 0" 2 "$sondrik" -j 0 a.mp2
expect "-o without a folder" 2 "$sondrik" a.mp2 -o
expect "--force with --skip-existing" 2 "$sondrik" -f --skip-existing a.mp2
expect "-c with two sources" 2 "$sondrik" -c a.mp2 b.mp2
# Standard input on a terminal: refused at once, not a worker stopped by the terminal.
if script -qec true /dev/null >/dev/null 2>&1; then
  script -qec "'$sondrik' -" /dev/null </dev/null >tty.txt 2>&1
  status=$?
  [ $status -eq 2 ] && grep -q 'standard input is a terminal' tty.txt || { fail "stdin on a terminal: exit $status"; cat tty.txt; }
fi

# A silent 48 kHz mono frame of 192 bytes, then a list with a missing file in the middle.
{ printf '\xff\xfd\x44\xc0'; head -c 188 /dev/zero; } >one.mp2
cp one.mp2 two.mp2
expect "a failing file in a list" 1 "$sondrik" one.mp2 missing.mp2 two.mp2 -j 1
expected='Converting one.mp2
48000 64k mono
Converting missing.mp2
Converting two.mp2
48000 64k mono'
got=$(grep -v -e '^wav file written' -e 'frames est' -e '^sondrik finished' out.txt)
[ "$got" = "$expected" ] || { fail "standard output:"; cat out.txt; }
[ "$(cat err.txt)" = "ERR 2 opening missing.mp2" ] || { fail "standard error:"; cat err.txt; }
grep -qx 'sondrik finished: 2 converted, 1 failed, 0 skipped; 0:00:00 of audio in [0-9]*\.[0-9] s' out.txt ||
  { fail "summary line"; cat out.txt; }
[ "$(tail -1 out.txt | cut -c1-16)" = "sondrik finished" ] || fail "the summary is not the last line"
[ -s two.wav ] || fail "the file after the failure was not converted"
[ ! -e missing.wav ] || fail "a destination was created for a missing source"
grep -q $'\r' out.txt err.txt && fail "carriage returns in the output"

# Quiet: errors and the summary only.
expect "quiet" 1 "$sondrik" -q -f one.mp2 missing.mp2
[ "$(wc -l <out.txt)" -eq 1 ] && grep -q '^sondrik finished: 1 converted, 1 failed' out.txt ||
  { fail "quiet standard output:"; cat out.txt; }
[ "$(cat err.txt)" = "ERR 2 opening missing.mp2" ] || { fail "quiet standard error:"; cat err.txt; }
expect "all converted" 0 "$sondrik" -f one.mp2 two.mp2
[ -s err.txt ] && { fail "errors when all converted:"; cat err.txt; }

# After "--" every word is a file, even one that looks like an option.
cp one.mp2 ./-x.mp2
expect "files after --" 0 "$sondrik" -f -- -x.mp2 two.mp2
[ -s ./-x.wav ] || fail "-x.mp2 after -- not converted"

# Interrupt and termination: a long stream (silent frames doubled up to
# 262144, over an hour), the signal once the WAV file has grown.
cp one.mp2 long.mp2  # one whole frame of 192 bytes at 64 kbit/s
for _ in $(seq 1 18); do cat long.mp2 long.mp2 >twice.mp2; mv twice.mp2 long.mp2; done
for signal in INT TERM; do
  rm -f long.wav long.partial.wav
  "$sondrik" long.mp2 >out.txt 2>err.txt &
  pid=$!
  for _ in $(seq 1 200); do [ "$(stat -c %s long.wav.part 2>/dev/null || echo 0)" -gt 1000000 ] && break; sleep 0.01; done
  kill -$signal $pid
  wait $pid
  status=$?
  wanted=$([ $signal = INT ] && echo 130 || echo 143)
  [ $status -eq "$wanted" ] || { fail "SIG$signal: exit $status, wanted $wanted"; cat out.txt err.txt; }
  grep -q '^ERR: interrupted after [0-9]* frames; long.partial.wav holds the part before$' err.txt ||
    { fail "SIG$signal: the interrupted line"; cat err.txt; }
done

# A second Ctrl-C ends at once, even while the worker waits for input that
# doesn't come: the first only asks to stop after the current frame.
mkfifo stalled
sleep 30 >stalled &
writer=$!
"$sondrik" -q -c - <stalled >/dev/null 2>err.txt &
pid=$!
sleep 0.3
kill -INT $pid
sleep 0.3
kill -0 $pid 2>/dev/null || fail "one Ctrl-C ended a worker that is still reading"
kill -INT $pid
for _ in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.02; done
kill -0 $pid 2>/dev/null && { fail "a second Ctrl-C did not end the program"; kill -KILL $pid; }
wait $pid
status=$?
[ $status -eq 130 ] || fail "second Ctrl-C: exit $status, wanted 130"
kill $writer 2>/dev/null
wait $writer 2>/dev/null

echo "$failures failures"
[ $failures -eq 0 ]
