#!/usr/bin/env bash
# CI stage: the configurations users build the library in, each in its own
# build tree with warnings as errors: GCC Debug with libstdc++'s assertions,
# GCC MinSizeRel, Clang 14 Debug and Release, and the shared library. Each
# builds the library, example4 and the unit suite and runs the suite (Clang
# Debug's includes secret_independence under valgrind; the shared one checks
# what libaes128.so exports).
set -euo pipefail
cd "$(dirname "$0")/.."

source .ci/lib.sh
ensure_packages cmake g++ make libgtest-dev googletest valgrind clang-14 binutils

stage_start=$SECONDS
for preset in gcc-debug gcc-minsizerel clang-debug clang-release shared; do
  start=$SECONDS
  echo "=== matrix: $preset"
  cmake --workflow --preset "$preset"
  echo "--- matrix: $preset passed in $((SECONDS - start)) s"
done
echo "=== matrix: passed in $((SECONDS - stage_start)) s"
