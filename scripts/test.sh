#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a release build with warnings
# as errors, and a build under AddressSanitizer and UndefinedBehaviorSanitizer. Display tests start
# their own virtual X server (xvfb-run); sound-less tests use SDL's dummy drivers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "$@"
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

echo "== release build, warnings as errors"
run_suite "$root/build/ci-release" -DCMAKE_BUILD_TYPE=Release -DINTRO_WERROR=ON -DINTRO_BENCH=ON
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
(
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions="$root/tests/lsan.supp":print_suppressions=0
  run_suite "$root/build/ci-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DINTRO_WERROR=ON \
    -DINTRO_SANITIZE=ON -DINTRO_BENCH=OFF
)
echo "== all tests passed"
