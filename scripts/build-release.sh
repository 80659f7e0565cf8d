#!/usr/bin/env bash
# An optimised build of the editor, its tools and the benchmarks in build-release/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARILUME_TESTS=OFF
cmake --build build-release --parallel "$(nproc)"
