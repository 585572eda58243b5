#!/usr/bin/env bash
# Installs what is needed, builds, installs the recovery engine where the
# program looks for it, and starts the program.
# Usage (as root, on Debian 12): bash scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
if cmake --build build --target help | grep -q install-engine; then
  cmake --build build --target install-engine
fi
exec ./build/snapmend
