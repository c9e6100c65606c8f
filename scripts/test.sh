#!/usr/bin/env bash
# Builds VerUvav and runs its tests on Debian 12.
#   scripts/test.sh              Release build with warnings on, then ctest
#   scripts/test.sh --sanitize   the same with address/undefined sanitizers,
#                                in a build directory of its own
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SANITIZE=OFF
BUILD_DIR="$ROOT/build"
for arg in "$@"; do
  case "$arg" in
    --sanitize) SANITIZE=ON; BUILD_DIR="$ROOT/build-sanitize" ;;
    *) echo "usage: $0 [--sanitize]" >&2; exit 2 ;;
  esac
done

"$ROOT/scripts/install-deps.sh"

cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
  -DVERUVAV_SANITIZE="$SANITIZE" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build "$BUILD_DIR" -j2

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$BUILD_DIR"
ctest --output-on-failure -j2
