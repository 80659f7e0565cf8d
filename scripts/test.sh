#!/usr/bin/env bash
# Installs what the project needs, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=${VARILUME_TEST_BUILD_DIR:-build-asan}
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-O1 -g" \
  -DVARILUME_SANITIZE=ON \
  -DVARILUME_WERROR=ON
cmake --build "$build" --parallel "$(nproc)"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" "$@"
