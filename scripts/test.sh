#!/usr/bin/env bash
# Installs what is needed, builds everything from scratch and runs every test.
# Usage (as root, on Debian 12): bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
rm -rf build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j1 "$@"
