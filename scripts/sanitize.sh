#!/usr/bin/env bash
# Builds everything with a sanitizer and runs the whole test suite under it.
# Usage: bash scripts/sanitize.sh thread|address [ctest args...]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:?usage: sanitize.sh thread|address}
shift
case "$kind" in
  thread) flags=thread ;;
  address) flags=address,undefined ;;
  *) echo "sanitize.sh: unknown sanitizer '$kind'" >&2; exit 2 ;;
esac
dir=build-$kind
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSNAPMEND_SANITIZE="$flags"
cmake --build "$dir" -j"$(nproc)"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp"
export ASAN_OPTIONS="detect_leaks=0"
export UBSAN_OPTIONS="print_stacktrace=1"
ctest --test-dir "$dir" --output-on-failure "$@"
