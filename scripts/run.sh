#!/usr/bin/env bash
# Builds the program and starts it on its default database. Arguments are
# passed to the program (e.g. /BROWSE).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash "$root/scripts/deps.sh"

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Build only what is started, not the tests.
targets=()
for t in klvcoin klvdbf; do
  if ninja -C "$build" -t query "$t" >/dev/null 2>&1; then targets+=("$t"); fi
done
if ((${#targets[@]} == 0)); then
  echo "run: neither the program (klvcoin) nor the table tool (klvdbf) is part of this build" >&2
  exit 1
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

app="$build/src/app/klvcoin"
if [[ -x "$app" ]]; then
  if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]]; then
    echo "run: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset); try xvfb-run $0" >&2
  fi
  exec "$app" "$@"
fi

# The main window is not built yet: show the default database through the
# table tool instead.
home="${KLVCOIN_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/klvcoin}"
db="$home/MASTER.DBF"
tool="$build/tools/klvdbf/klvdbf"
mkdir -p "$home"
echo "run: the program window is not built yet; showing $db with klvdbf"
if [[ ! -e "$db" ]]; then
  "$tool" create "$db" --coin
fi
exec "$tool" info "$db"
