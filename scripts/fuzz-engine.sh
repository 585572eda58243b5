#!/usr/bin/env bash
# Builds the engine's libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, then runs each for N seconds
# (default 10) from the committed seed corpus. Found crashes fail the run.
# Usage: scripts/fuzz-engine.sh [seconds]
set -euo pipefail
secs=${1:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SNAPMEND_FUZZ_BUILD_DIR:-$root/build-fuzz}

command -v clang++ >/dev/null || { echo "fuzz-engine: clang++ not found" >&2; exit 1; }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSNAPMEND_FUZZ=ON -DSNAPMEND_BUILD_GUI=OFF -DSNAPMEND_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j2 --target fuzz_parsers fuzz_command_line fuzz_exif_preview fuzz_fs fuzz_ntfs fuzz_bookkeeping

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for name in parsers command_line exif_preview fs ntfs bookkeeping; do
  mkdir -p "$work/$name"
  echo "== fuzz_$name: ${secs}s"
  # New inputs go to the scratch folder; the committed seeds are only read.
  len=65536
  [ "$name" = fs ] || [ "$name" = ntfs ] && len=262144  # disk images: boot sector, tables and folders
  (cd "$work" && "$build/carver/fuzz/fuzz_$name" -max_total_time="$secs" -timeout=10 \
     -rss_limit_mb=2048 -max_len="$len" -print_final_stats=1 \
     "$work/$name" "$root/carver/fuzz/corpus/$name" 2>&1 | grep -E '^(stat::|#[0-9]+ +DONE|==|SUMMARY|INFO: Running)' || true
   test "${PIPESTATUS[0]}" -eq 0)
done
