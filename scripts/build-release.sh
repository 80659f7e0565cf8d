#!/usr/bin/env bash
# An optimised build of the editor and its tools in build-release/.
#   --bench   also builds the benchmarks (build-release/bench/, see bench/README.md)
set -euo pipefail
cd "$(dirname "$0")/.."
bench=OFF
for arg in "$@"; do
  case "$arg" in
    --bench) bench=ON ;;
    *) echo "usage: $0 [--bench]" >&2; exit 2 ;;
  esac
done
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARILUME_TESTS=OFF -DVARILUME_BENCH=$bench
cmake --build build-release --parallel "$(nproc)"
