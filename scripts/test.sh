#!/usr/bin/env bash
# Builds and runs every test: the normal build, the sanitizer build
# (AddressSanitizer + UndefinedBehaviorSanitizer) and a short run of each
# libFuzzer target. Stops at the first failure with a non-zero exit.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash "$root/scripts/deps.sh"

jobs="$(nproc)"
fuzz_seconds="${KLV_FUZZ_SECONDS:-20}"
# Form tests run without a display.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

step() { printf '\n==== %s\n' "$*"; }

# configure_build_test DIR e2e|no-e2e [CMAKE ARGS...]
configure_build_test() {
  local dir="$1" e2e="$2"
  shift 2
  step "configure $dir"
  cmake -S "$root" -B "$root/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  step "build $dir"
  cmake --build "$root/$dir" -j "$jobs"
  step "test $dir"
  ctest --test-dir "$root/$dir" --output-on-failure --no-tests=error -LE e2e
  if [[ "$e2e" == e2e ]]; then
    # The end-to-end scenarios each bring their own X server and buses, so
    # they run side by side; they wait for what they expect, never for a
    # fixed time, and so stay reliable on a loaded machine.
    step "end-to-end scenarios $dir"
    ctest --test-dir "$root/$dir" --output-on-failure --no-tests=error -L e2e -j "$jobs"
  fi
}

configure_build_test build e2e
# The scenarios run in the normal build only: they test what a collector
# meets, and a second run under the sanitizers would double their time.
configure_build_test build-asan no-e2e -DKLV_SANITIZE=ON

step "configure build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLV_FUZZ=ON
step "build build-fuzz"
cmake --build "$root/build-fuzz" -j "$jobs" --target fuzz

# The targets are the fuzz sources, not whatever lies in the build tree: an
# executable left from a removed source must not run.
mapfile -t targets < <(find "$root/tests/fuzz" -maxdepth 1 -type f -name '*_fuzz.cpp' \
  -printf '%f\n' 2>/dev/null | sed 's/\.cpp$//' | sort)
if ((${#targets[@]} == 0)); then
  step "fuzz: no targets"
fi
for name in "${targets[@]}"; do
  exe="$root/build-fuzz/tests/fuzz/$name"
  if [[ ! -x "$exe" ]]; then
    echo "fuzz: $name was not built ($exe missing)" >&2
    exit 1
  fi
  # dbf_fuzz is seeded with the *.dbf test files, lst_fuzz with the shipped
  # *.LST lists, hlp_fuzz with the shipped help file, and so on.
  kind="${name%_fuzz}"
  corpus="$root/build-fuzz/corpus/$name"
  artifacts="$root/build-fuzz/artifacts"
  log="$root/build-fuzz/logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  for dir in "$root/tests/data" "$root/data"; do
    if [[ -d "$dir" ]]; then
      find "$dir" -type f -iname "*.$kind" -exec cp -n -t "$corpus" {} + 2>/dev/null || true
    fi
  done
  if [[ -d "$root/tests/data/fuzz/$name" ]]; then
    cp -n -r -t "$corpus" "$root/tests/data/fuzz/$name/." 2>/dev/null || true
  fi
  # tests/fuzz/NAME.options, when present, holds more libFuzzer flags for
  # that target on one line (hlp_fuzz: shorter inputs, as long help files
  # take long to read and render).
  options=()
  if [[ -f "$root/tests/fuzz/$name.options" ]]; then
    read -r -a options <"$root/tests/fuzz/$name.options"
  fi
  step "fuzz $name for ${fuzz_seconds} s"
  if ! "$exe" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 "${options[@]}" \
    -artifact_prefix="$artifacts/$name-" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz $name FAILED; input kept in $artifacts, full log $log" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^Done ' "$log" | tail -n 2 || true
done
step "all tests passed"
