#!/usr/bin/env bash
# Builds everything with a sanitizer and runs the whole test suite under it.
# Usage: bash scripts/sanitize.sh thread|address [ctest args...]
# JOBS=n limits the build's parallel jobs (default: every core); ccache is
# used when installed.
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
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSNAPMEND_SANITIZE="$flags" "${launcher[@]}"
cmake --build "$dir" -j"${JOBS:-$(nproc)}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp"
export ASAN_OPTIONS="detect_leaks=0"
export UBSAN_OPTIONS="print_stacktrace=1"
ctest --test-dir "$dir" --output-on-failure "$@"
