#!/usr/bin/env bash
# Builds the Debian package into build/ and prints its path. Install it with
#   apt-get install ./build/snapmend_<version>_<arch>.deb
# (apt-get also installs what it depends on); remove it with dpkg -r snapmend.
# Usage (as root, on Debian 12): bash scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build -j"$(nproc)" --target snapmend_program
rm -f build/snapmend_*.deb
(cd build && cpack -G DEB >&2)
ls build/snapmend_*.deb
