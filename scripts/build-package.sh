#!/usr/bin/env bash
# Builds the Debian package of the editor, varilume-cli and varilume-simbox in
# build-package/ and prints its path. Install it with: sudo apt-get install ./varilume_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=${VARILUME_PACKAGE_BUILD_DIR:-build-package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVARILUME_TESTS=OFF -DVARILUME_BENCH=OFF
cmake --build "$build" --parallel "$(nproc)"
rm -f "$build"/varilume_*.deb
(cd "$build" && cpack -G DEB)
package=$(ls "$PWD/$build"/varilume_*.deb)
echo "build-package.sh: $package"
