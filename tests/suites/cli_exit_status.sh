#!/usr/bin/env bash
# The command line: usage, exit status, and a failing file in the middle of a list.
set -u
sondrik=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
expect() {  # description, wanted status, command...
  local what=$1 wanted=$2; shift 2
  "$@" >out.txt 2>err.txt
  local status=$?
  [ $status -eq "$wanted" ] || { fail "$what: exit $status, wanted $wanted"; cat out.txt err.txt; }
}
expect "--help" 0 "$sondrik" --help
grep -q '^usage: sondrik' out.txt || fail "--help text"
expect "--version" 0 "$sondrik" --version
expect "no files" 2 "$sondrik"
expect "unknown option" 2 "$sondrik" --frobnicate

# A silent 48 kHz mono frame of 192 bytes, then a list with a missing file in the middle.
{ printf '\xff\xfd\x44\xc0'; head -c 188 /dev/zero; } >one.mp2
cp one.mp2 two.mp2
expect "a failing file in a list" 1 "$sondrik" one.mp2 missing.mp2 two.mp2
expected='Converting one.mp2
48000 64k mono
Converting missing.mp2
ERR 2 opening missing.mp2
Converting two.mp2
48000 64k mono
sondrik finished'
got=$(grep -v -e '^wav file written' -e 'frames est' out.txt)
[ "$got" = "$expected" ] || { fail "list output:"; cat out.txt; }
[ -s two.wav ] || fail "the file after the failure was not converted"
[ ! -e missing.wav ] || fail "a destination was created for a missing source"
grep -q $'\r' out.txt && fail "carriage returns on standard output"
# After "--" every word is a file, even one that looks like an option.
cp one.mp2 ./-x.mp2
expect "files after --" 0 "$sondrik" -- -x.mp2 two.mp2

echo "$failures failures"
[ $failures -eq 0 ]
