#!/usr/bin/env bash
# Runs the aarch64 build under qemu-aarch64-static: on every synthesis path it
# has (NEON and scalar), forced with the test switch, the golden streams must
# give their recorded hashes and the reference corpus the x86-64 build's bytes.
#   run_aarch64_suite.sh AARCH64_BUILD_DIR LINUX_BUILD_DIR
# The corpus is the one the Linux build's tests made. Prints one line per
# test and, last, "N passed, N failed".
set -uo pipefail

arm_build=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
golden_dir="$here/../data/golden"
corpus_dir="$linux_build/tests/reference_corpus"
qemu=qemu-aarch64-static

passed=0
failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); }

work=$(mktemp -d /tmp/sondrik-aarch64.XXXXXX)
trap 'rm -rf "$work"' EXIT

# glibc's own sin and cos, linked in statically, use fused multiply-adds; the
# decoder's code may not.
if fma_report=$(bash "$here/../suites/no_fused_multiply_add.sh" aarch64-linux-gnu-objdump \
    "$arm_build/decoder/libsondrik_decoder.a"); then
  pass "decoder-no-fused-multiply-add (${fma_report#*: })"
else
  fail decoder-no-fused-multiply-add "$fma_report"
fi

corpus=()
for case_dir in "$corpus_dir"/*/; do
  name=$(basename "$case_dir")
  [ -e "$case_dir/$name.mp2" ] && corpus+=("$case_dir$name.mp2")
done
if [ ${#corpus[@]} -eq 0 ]; then
  fail corpus "no reference corpus in $corpus_dir: run the Linux build's tests first"
  corpus=()
fi

paths=$("$qemu" "$arm_build/synthesis_path_report" --available)
[ -n "$paths" ] || fail paths "the report of synthesis paths failed under qemu"
for path in $paths; do
  reported=$(SONDRIK_SYNTHESIS_PATH=$path "$qemu" "$arm_build/synthesis_path_report")
  if [ "$reported" != "$path" ]; then
    fail "golden-$path" "the test switch started the $reported path"
    continue
  fi
  dir="$work/$path"
  mkdir -p "$dir/golden" "$dir/corpus"
  cp "$golden_dir"/*.mp2 "$dir/golden/"
  SONDRIK_SYNTHESIS_PATH=$path "$qemu" "$arm_build/sondrik" "$dir/golden/"*.mp2 >"$dir/golden.log" 2>&1
  differ=0
  count=0
  while read -r name sha256 _; do
    case "$name" in ''|'#'*) continue ;; esac
    count=$((count + 1))
    got=$(sha256sum "$dir/golden/$name.wav" 2>/dev/null | cut -d' ' -f1)
    [ "$got" = "$sha256" ] || { differ=$((differ + 1)); echo "  differs on $path: $name"; }
  done <"$golden_dir/expected.txt"
  if [ "$count" -eq 12 ] && [ "$differ" -eq 0 ]; then
    pass "golden-$path (12 recorded hashes)"
  else
    fail "golden-$path" "$differ of $count files differ"
  fi

  [ ${#corpus[@]} -gt 0 ] || continue
  cp "${corpus[@]}" "$dir/corpus/"
  SONDRIK_SYNTHESIS_PATH=$path "$qemu" "$arm_build/sondrik" "$dir/corpus/"*.mp2 >"$dir/corpus.log" 2>&1
  differ=0
  for source in "${corpus[@]}"; do
    name=$(basename "${source%.mp2}")
    cmp -s "$dir/corpus/$name.wav" "${source%.mp2}.wav" || { differ=$((differ + 1)); echo "  differs on $path: $name"; }
  done
  if [ "$differ" -eq 0 ]; then
    pass "corpus-$path (${#corpus[@]} files, the same bytes as on x86-64)"
  else
    fail "corpus-$path" "$differ of ${#corpus[@]} files differ from x86-64's"
  fi

  # Streams that switch between one and two channels and back: each body
  # resumes its own history, byte for byte as on x86-64 (whose paths the
  # unit tests hold to the plain sums).
  mkdir -p "$dir/switch"
  mono="$here/../data/switch/mono_48k_96k.mp2"
  stereo="$here/../data/switch/stereo_48k_192k.mp2"
  cat "$stereo" "$mono" "$stereo" >"$dir/switch/back.mp2"
  cat "$mono" "$stereo" "$mono" "$stereo" >"$dir/switch/twice.mp2"
  head -c 1536 "$mono" | cat "$stereo" - "$stereo" >"$dir/switch/short_mono.mp2"
  SONDRIK_SYNTHESIS_PATH=$path "$qemu" "$arm_build/sondrik" -f "$dir/switch/"*.mp2 >"$dir/switch.log" 2>&1
  mkdir -p "$dir/switch/x86"
  "$linux_build/sondrik" -f -o "$dir/switch/x86" "$dir/switch/"*.mp2 >/dev/null 2>&1
  differ=0
  for name in back twice short_mono; do
    cmp -s "$dir/switch/$name.wav" "$dir/switch/x86/$name.wav" || { differ=$((differ + 1)); echo "  differs on $path: $name"; }
  done
  if [ "$differ" -eq 0 ]; then
    pass "switches-$path (3 streams that switch bodies and back, the same bytes as on x86-64)"
  else
    fail "switches-$path" "$differ of 3 files differ from x86-64's"
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
