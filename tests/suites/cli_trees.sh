#!/usr/bin/env bash
# Archive work on the command line: folder trees mirrored under -o, sources
# that the user may only read, existing destinations, two sources for one
# destination.
set -u
sondrik=$(realpath "$1")
data=$(realpath "$2")
work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/ro" 2>/dev/null && umount "$work/ro"
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
chmod 755 "$work"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
stream=$data/golden/tl_48k_jstereo_64k_music.mp2
other=$data/golden/tl_32k_mono_48k_speech.mp2

# Three levels below the top, MP2 names in every case, things that are not MP2
# files, and links that must not be followed.
mkdir -p tree/a/b/c tree/elsewhere
cp "$stream" tree/top.mp2
cp "$other" tree/a/Second.MP2
cp "$stream" tree/a/b/third.mpeg
cp "$other" tree/a/b/c/fourth.m2a
cp "$stream" tree/a/b/c/fifth.MPA
cp "$stream" tree/a/notes.txt
cp "$stream" tree/elsewhere/linked.mp2
ln -s ../elsewhere tree/a/b/folder-link
ln -s ../top.mp2 tree/a/file-link.mp2
"$sondrik" -o out -j 2 tree >out.txt 2>err.txt
status=$?
[ $status -eq 0 ] || { fail "tree: exit $status"; cat out.txt err.txt; }
expected='tree/a/Second.MP2
tree/a/b/c/fifth.MPA
tree/a/b/c/fourth.m2a
tree/a/b/third.mpeg
tree/elsewhere/linked.mp2
tree/top.mp2'
[ "$(sed -n 's/^Converting //p' out.txt)" = "$expected" ] || { fail "tree: files or order:"; cat out.txt; }
wanted_files='out/a/Second.wav
out/a/b/c/fifth.wav
out/a/b/c/fourth.wav
out/a/b/third.wav
out/elsewhere/linked.wav
out/top.wav'
[ "$(find out -type f | LC_ALL=C sort)" = "$wanted_files" ] || { fail "tree: files written:"; find out; }
"$sondrik" -q "$stream" -o reference >/dev/null
for wav in out/a/b/third.wav out/top.wav; do
  cmp -s reference/tl_48k_jstereo_64k_music.wav "$wav" || fail "tree: $wav differs from a single conversion"
done
[ -z "$(find tree -name '*.wav')" ] || fail "tree: a WAV file was written among the sources"

# An ordinary user converts sources of a folder it can't write into its own folder.
mkdir -p shelf/2019 mine
cp "$stream" shelf/2019/show.mp2
chmod -R a+rX,a-w shelf
chmod 777 mine
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
"${as_user[@]}" "$sondrik" shelf -o mine/wav >out.txt 2>err.txt
status=$?
[ $status -eq 0 ] || { fail "unwritable sources: exit $status"; cat out.txt err.txt; }
[ -s mine/wav/2019/show.wav ] || fail "unwritable sources: nothing converted"
"${as_user[@]}" "$sondrik" shelf >out.txt 2>err.txt
[ $? -eq 1 ] && grep -qx "ERR 13 opening shelf/2019/show.wav" err.txt || { fail "unwritable sources without -o"; cat err.txt; }
# A read-only mount, where the system allows one here.
mkdir ro
if mount --bind shelf ro 2>/dev/null && mount -o remount,ro,bind ro 2>/dev/null; then
  "$sondrik" -q ro -o mounted >out.txt 2>err.txt || { fail "read-only mount: exit $?"; cat err.txt; }
  cmp -s mounted/2019/show.wav mine/wav/2019/show.wav || fail "read-only mount: WAV differs"
  "$sondrik" -q ro/2019/show.mp2 >out.txt 2>err.txt
  grep -qx "ERR 30 opening ro/2019/show.wav" err.txt || { fail "read-only mount without -o"; cat err.txt; }
  umount ro
else
  echo "note: no bind mount here; the unwritable folder stands for it"
fi

# Existing destinations: refused, replaced with -f, left with --skip-existing.
mkdir again
cp "$stream" again/take.mp2
cp "$other" again/keep.mp2
echo "not a conversion" >again/take.wav
"$sondrik" again/take.mp2 again/keep.mp2 >out.txt 2>err.txt
[ $? -eq 1 ] || fail "existing: not a failure"
[ "$(cat err.txt)" = "ERR: again/take.wav exists; --force replaces it" ] || { fail "existing: line"; cat err.txt; }
[ "$(cat again/take.wav)" = "not a conversion" ] || fail "existing: the file was touched"
[ -s again/keep.wav ] || fail "existing: the next file was not converted"
grep -q '^sondrik finished: 1 converted, 1 failed, 0 skipped;' out.txt || { fail "existing: summary"; cat out.txt; }
cp again/keep.wav kept.wav
echo "not a conversion" >again/take.wav
"$sondrik" --skip-existing again >out.txt 2>err.txt
[ $? -eq 0 ] || { fail "--skip-existing: exit status"; cat out.txt err.txt; }
[ "$(cat again/take.wav)" = "not a conversion" ] || fail "--skip-existing: the file was touched"
grep -q '^sondrik finished: 0 converted, 0 failed, 2 skipped;' out.txt || { fail "--skip-existing: summary"; cat out.txt; }
"$sondrik" again --force >out.txt 2>err.txt
[ $? -eq 0 ] || { fail "--force: exit status"; cat out.txt err.txt; }
cmp -s again/take.wav reference/tl_48k_jstereo_64k_music.wav || fail "--force: not replaced"
cmp -s again/keep.wav kept.wav || fail "--force: a replaced file differs"

# Two sources that map to one destination: the second names the first.
mkdir clash
cp "$stream" clash/clash.mp2
cp "$other" clash/clash.mpeg
"$sondrik" clash >out.txt 2>err.txt
[ $? -eq 1 ] || fail "clash: not a failure"
[ "$(cat err.txt)" = "ERR: clash/clash.wav is already the destination of clash/clash.mp2" ] ||
  { fail "clash: line"; cat err.txt; }
cmp -s clash/clash.wav reference/tl_48k_jstereo_64k_music.wav || fail "clash: the first source's WAV was replaced"
# The same for files of two folders named, under one output folder.
mkdir -p second
cp "$other" second/top.mp2
"$sondrik" -o merged tree/top.mp2 second/top.mp2 >out.txt 2>err.txt
[ $? -eq 1 ] || fail "clash under -o: not a failure"
[ "$(cat err.txt)" = "ERR: merged/top.wav is already the destination of tree/top.mp2" ] ||
  { fail "clash under -o: line"; cat err.txt; }

echo "$failures failures"
[ $failures -eq 0 ]
