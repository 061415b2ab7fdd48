#!/usr/bin/env bash
# The Debian package: built with cpack from the build folder, installed with
# dpkg, the program and its manual page run, removed again. Needs root and a
# system with no other sondrik package installed.
set -u
build=$(realpath "$1")
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: installing a package needs root"; exit 77; fi
if dpkg-query -W sondrik >/dev/null 2>&1; then echo "SKIP: a sondrik package is installed already"; exit 77; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >cpack.log 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/sondrik_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "no package built"; exit 1; }
# Another installer may hold the lock for a while.
dpkg_retry() {
  for _ in $(seq 1 60); do
    dpkg "$@" >"$work/dpkg.log" 2>&1 && return 0
    grep -q 'lock' "$work/dpkg.log" || break
    sleep 2
  done
  cat "$work/dpkg.log"
  return 1
}
dpkg_retry -i "$deb" || fail "dpkg -i"
version=$(/usr/bin/sondrik --version)
[ "$version" = "sondrik $(dpkg-deb -f "$deb" Version)" ] || fail "installed: --version says '$version'"
page=$(man -l /usr/share/man/man1/sondrik.1.gz 2>&1 | col -b)
grep -q -- '--output-dir' <<<"$page" && grep -q 'EXIT STATUS' <<<"$page" || { fail "man -l"; echo "$page" | head; }
for option in --output-dir --jobs --force --skip-existing --stdout --quiet --test --strict --report --track --files-from --null --shard --help --version; do
  grep -q -- "$option" <<<"$page" || fail "the manual page leaves out $option"
done
dpkg_retry -r sondrik || fail "dpkg -r"
[ ! -e /usr/bin/sondrik ] || fail "the program stayed after removal"
[ ! -e /usr/share/man/man1/sondrik.1.gz ] || fail "the manual page stayed after removal"
echo "$failures failures"
[ $failures -eq 0 ]
