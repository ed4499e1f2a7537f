#!/usr/bin/env bash
# Installs what is missing, builds the intro in release mode and runs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DINTRO_TESTS=OFF -DINTRO_BENCH=OFF
cmake --build "$root/build/release" --target intro -j"$(nproc)"
exec "$root/build/release/shell/intro"
