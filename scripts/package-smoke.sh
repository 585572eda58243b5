#!/usr/bin/env bash
# Installed-package smoke test: builds the .deb, installs it, starts the
# installed program offscreen, checks that the installed program's layout
# holds a working engine, removes the package and checks that nothing it
# installed is left. Skips (exit 0, with the reason) where the machine cannot
# install packages. Expects a build folder made by scripts/test.sh.
# Usage (as root, on Debian 12): bash scripts/package-smoke.sh
set -euo pipefail
cd "$(dirname "$0")/.."

skip() { echo "package-smoke: SKIPPED: $*"; exit 0; }
fail() { echo "package-smoke: FAILED: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
command -v dpkg >/dev/null && command -v apt-get >/dev/null || skip "no dpkg/apt-get on this machine"
if dpkg-query -W -f='${Status}' snapmend 2>/dev/null | grep -q "install ok installed"; then
  skip "a snapmend package is already installed here; not replacing it"
fi
[ -x build/tests/install/install_layout_test ] || fail "build/ has no tests; run scripts/test.sh first"

rm -f build/snapmend_*.deb
(cd build && cpack -G DEB) || fail "cpack could not build the package"
deb=$(ls build/snapmend_*.deb)
echo "package-smoke: $deb, $(stat -c %s "$deb") bytes"
dpkg-deb --info "$deb" | grep -E '^ (Depends|Installed-Size):'

apt-get install -y -qq -o DPkg::Lock::Timeout=300 "./$deb" || fail "apt-get could not install $deb"
files=$(mktemp)
trap 'rm -f "$files"' EXIT
dpkg -L snapmend >"$files"
removed=0
remove() { [ "$removed" -eq 1 ] || { dpkg -r snapmend >/dev/null; removed=1; }; }
trap 'remove; rm -f "$files"' EXIT

program=/usr/bin/snapmend
[ -x "$program" ] || fail "$program is not installed"
grep -q "^/usr/share/applications/.*\.desktop$" "$files" || fail "no menu entry installed"
grep -q "^/usr/share/icons/hicolor/.*/apps/.*\.png$" "$files" || fail "no icon installed"

# The engine as the installed program finds it: the same layout code, asked
# about the installed program's folder.
SNAPMEND_INSTALLED_BIN=/usr/bin build/tests/install/install_layout_test --gtest_filter='InstalledPackage.*' \
  || fail "the installed program's engine folder is not complete"

# The installed program starts and stays up (offscreen, no display needed).
QT_QPA_PLATFORM=offscreen "$program" >/dev/null 2>&1 &
pid=$!
sleep 3
kill -0 "$pid" 2>/dev/null || fail "the installed program ended at once"
kill "$pid"; wait "$pid" 2>/dev/null || true

remove
if dpkg-query -W -f='${Status}' snapmend 2>/dev/null | grep -q " installed$"; then
  fail "dpkg still lists snapmend as installed"
fi
left=0
while read -r path; do
  # Folders shared with other packages (/usr, /usr/share/...) stay; our own must go.
  if [ -f "$path" ] || [ -L "$path" ]; then echo "left behind: $path" >&2; left=1; fi
  case "$path" in */snapmend|*/snapmend/*) [ -e "$path" ] && { echo "left behind: $path" >&2; left=1; } ;; esac
done <"$files"
[ "$left" -eq 0 ] || fail "dpkg -r left files behind"
echo "package-smoke: installed, started, engine found, removed cleanly"
