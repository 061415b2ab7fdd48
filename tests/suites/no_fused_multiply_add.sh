#!/usr/bin/env bash
# A fused multiply-add rounds once where the decoder's sums round twice: no
# such instruction may appear in a program, whatever the compiler chose.
#   no_fused_multiply_add.sh OBJDUMP PROGRAM...
# Prints the count of multiplies seen, so that an empty disassembly can't pass.
set -uo pipefail
objdump=$1; shift
status=0
for program in "$@"; do
  listing=$("$objdump" -d --no-show-raw-insn "$program") || { echo "FAIL: $objdump can't read $program"; exit 1; }
  # A statically linked C library brings its own fused variants of sin and
  # cos (__cos_fma and the like), which it picks at run time on processors
  # that have the instruction, as the shared library does; the decoder rounds
  # those cosines to nine decimals. Only those functions may hold one.
  listing=$(awk '/^[0-9a-f]+ <.*>:$/ { library_fused = $2 ~ /^<__[a-z0-9_]+_fma4?>:$/ } !library_fused' <<<"$listing")
  fused=$(grep -E -c $'\t(v?fn?m(add|sub)[0-9a-z]*|fml[as])\\b' <<<"$listing")
  multiplies=$(grep -E -c $'\t(v?mul[sp]d|fmul)\\b' <<<"$listing")
  if [ "$multiplies" -eq 0 ]; then
    echo "FAIL: no multiply in $program: is this the disassembly of the decoder?"
    status=1
  elif [ "$fused" -ne 0 ]; then
    echo "FAIL: $fused fused multiply-adds in $program:"
    grep -E $'\t(v?fn?m(add|sub)[0-9a-z]*|fml[as])\\b' <<<"$listing" | head -5
    status=1
  else
    echo "$program: $multiplies multiplies, no fused multiply-add"
  fi
done
exit $status
