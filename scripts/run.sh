#!/usr/bin/env bash
# Starts the program from the build tree: installs what is needed, builds the
# program and its engine, checks that the engine is where the program looks
# for it, and starts it. Every step either happens or the script stops and
# says why. (To install the program instead: bash scripts/package.sh.)
# Usage (as root, on Debian 12): bash scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "run.sh: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "run as root: reading raw disks needs it (sudo bash scripts/run.sh)"
bash scripts/install-deps.sh || fail "could not install the Debian packages the build needs"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  || fail "cmake could not configure the build folder"
cmake --build build -j"$(nproc)" --target snapmend_program || fail "the build failed"

# The build-tree program looks beside itself: the engine in engine/kestrova/.
for piece in snapmend engine/kestrova/photo engine/kestrova/libcarver.so engine/kestrova/formats/types.tsv; do
  [ -e "build/$piece" ] || fail "build/$piece is missing after the build"
done
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ] \
  || fail "no display: start it from a desktop session (or under xvfb-run)"
exec ./build/snapmend
