#!/bin/sh
# Bounded libFuzzer run of the FEX reader and the package splitter.
#
#   scripts/fuzz.sh [seconds per target]      (default 60)
#
# Builds with clang in its own directory (build-fuzz, or $FUZZ_BUILD_DIR),
# runs each target for the given time from the seeds in tests/fuzz/corpus,
# and copies every crashing input into tests/fuzz/regressions/<target>/,
# where the normal test suite replays it. Exits non-zero when a target
# crashed.
set -eu

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVERUVAV_FUZZ=ON -DVERUVAV_TESTS=OFF -DVERUVAV_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" >/dev/null
cmake --build "$build" -j2 --target fuzz_fex_read fuzz_package_split

failed=0
for target in fex_read package_split; do
  work="$build/fuzz-$target"
  mkdir -p "$work/corpus" "$work/crashes" "$work/tmp"
  echo "== $target: $seconds s"
  # A FEX header alone is 4,410 bytes; allocations beyond 64 MB mean a
  # count in the input was believed.
  # The targets' scratch files stay inside the build directory.
  if ! TMPDIR="$work/tmp" "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=16384 \
      -malloc_limit_mb=64 -rss_limit_mb=1024 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$work/crashes/" "$work/corpus" "$root/tests/fuzz/corpus/$target"; then
    failed=1
  fi
  rm -rf "$work/tmp"
  for f in "$work"/crashes/*; do
    [ -f "$f" ] || continue
    cp "$f" "$root/tests/fuzz/regressions/$target/"
    echo "kept $(basename "$f") in tests/fuzz/regressions/$target/"
  done
done
exit $failed
