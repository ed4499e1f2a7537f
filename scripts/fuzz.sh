#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
bash "$root/scripts/setup.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DINTRO_FUZZ=ON -DINTRO_BENCH=OFF
cmake --build "$root/build/fuzz" -j"$(nproc)"
find "$root/build/fuzz" -type f -name 'fuzz_*' -perm -u+x | sort | while read -r f; do
  echo "== $(basename "$f") for ${seconds}s"
  "$f" -max_total_time="$seconds" -print_final_stats=1
done
