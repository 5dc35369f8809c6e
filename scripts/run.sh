#!/usr/bin/env bash
# Builds the program and starts it on its default database. Arguments are
# passed to the program (e.g. /BROWSE).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash "$root/scripts/deps.sh"

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target klvcoin klvdbf

if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]]; then
  echo "run: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset); try xvfb-run $0" >&2
fi
exec "$build/src/program/klvcoin" "$@"
