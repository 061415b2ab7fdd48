#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those missing.
#   install-deps.sh build   compiler, CMake, the JSON header, and what makes the sample stream
#   install-deps.sh test    everything the test suites drive
set -euo pipefail

build_packages=(cmake g++ make twolame sox nlohmann-json3-dev)
test_packages=("${build_packages[@]}" libgtest-dev ffmpeg mpg123 libsox-fmt-all clang libclang-rt-14-dev
               g++-mingw-w64-i686 mingw-w64-tools wine wine32:i386 xvfb imagemagick binutils-mingw-w64-i686
               g++-aarch64-linux-gnu qemu-user-static dpkg-dev man-db util-linux jq parallel)

case "${1:-build}" in
  build) wanted=("${build_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 build|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
for package in "${missing[@]}"; do
  case "$package" in *:i386) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;; esac
done
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync serves an index that no longer matches its
# Release file, and apt drops it. Without the i386 index wine32 cannot be
# resolved at all, so after a few tries take such an index as served: every
# package it lists is still in the pool, and apt checks each .deb it fetches
# against the hash this index gives.
take_indexes_as_served() {
  local url list
  sed -n 's/^E: Failed to fetch \(http[^ ]*Packages\.xz\)  File has unexpected size.*/\1/p' "$1" |
  while read -r url; do
    list="/var/lib/apt/lists/$(echo "${url#http://}" | tr / _)"
    /usr/lib/apt/apt-helper download-file "$url" "$list.partial" >/dev/null 2>&1 &&
      mv "$list.partial" "$list" && echo "taking the index as the mirror serves it: $url" >&2
  done
}
update_log=$(mktemp)
for attempt in 1 2 3; do
  apt-get update -qq 2>"$update_log" && break
  cat "$update_log" >&2
  echo "apt-get update failed (attempt $attempt of 3)" >&2
  if [ "$attempt" -lt 3 ]; then sleep 30; else take_indexes_as_served "$update_log"; fi
done
rm -f "$update_log"
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
