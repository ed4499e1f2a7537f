#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them all.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DINTRO_TESTS=OFF -DINTRO_BENCH=ON
cmake --build "$root/build/bench" -j"$(nproc)"
for b in "$root"/build/bench/bench/*/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
