#!/usr/bin/env bash
# Makes the Debian package: a Release build in build-release/ of what the
# package holds (the two programs, their manual pages, the icons, the sample
# collection), then CPack writes klvcoin_VERSION_ARCH.deb into OUTDIR.
# Install it with: sudo apt install ./OUTDIR/klvcoin_*.deb
set -euo pipefail

if (($# != 1)); then
  echo "usage: scripts/package.sh OUTDIR" >&2
  exit 2
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"

bash "$root/scripts/deps.sh"

build="$root/build-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only what is installed; the tests and benchmarks are not part of a package.
cmake --build "$build" -j "$(nproc)" --target klvcoin klvdbf klv_sample klv_icons \
  klv_man_klvcoin klv_man_klvdbf

staging="$build/cpack"
rm -rf "$staging"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$staging" >/dev/null
shopt -s nullglob
debs=("$staging"/*.deb)
if ((${#debs[@]} != 1)); then
  echo "package: CPack wrote ${#debs[@]} packages into $staging, expected one" >&2
  exit 1
fi
cp -f "${debs[0]}" "$out/"
echo "$out/$(basename "${debs[0]}")"
