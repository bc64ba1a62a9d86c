#!/usr/bin/env bash
# CI stage: the other platforms. 32-bit Windows on msvcrt.dll (the program's
# home) under 32-bit Wine in a QEMU virtual machine, 64-bit Windows under
# wine64, both again with the library as a DLL, big-endian s390x, 32-bit
# i686, 64-bit and 32-bit Arm Linux under user-mode QEMU (i686's terminal
# tests in the virtual machine).
set -euo pipefail
cd "$(dirname "$0")/.."

source .ci/lib.sh
# binutils: objdump reads the Windows programs' headers; googletest: its source
# is built for each target; qemu-system-x86, mmdebstrap, busybox-static and
# e2fsprogs make and boot the virtual machine; python3 drives the console
# tests.
ensure_packages binutils googletest qemu-system-x86 mmdebstrap busybox-static e2fsprogs python3 \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 \
  qemu-user-static g++-s390x-linux-gnu g++-i686-linux-gnu g++-aarch64-linux-gnu \
  g++-arm-linux-gnueabihf

work=$(mktemp -d)
readonly work
trap 'rm -rf "$work"' EXIT

# The 64-bit DLL's installed package used from outside the tree: a consumer
# linked to the import library through find_package, run under wine64 with
# the DLL beside it and nothing else. The cross toolchain confines
# find_package to the MinGW tree, so the package's directory is named. It
# runs in the build tree's Wine prefix with a server of its own, started and
# ended around it as the tests' is, and ended even when the consumer fails.
windows_dll_consumer() {
  local build=build/windows-x86_64-dll
  local wine_run=(cmake/wine64-run.sh "$PWD/$build/wineprefix")
  cmake --install "$build" --prefix "$work/prefix" >/dev/null
  cmake -S tests/consumer -B "$work/consumer" --toolchain "$PWD/cmake/toolchains/windows-x86_64.cmake" \
    -Daes128_DIR="$work/prefix/lib/cmake/aes128" -DCMAKE_CXX_FLAGS="${consumer_warnings[*]}" >/dev/null
  cmake --build "$work/consumer" -j2
  "${wine_run[@]}" --start-server
  local status=0
  "${wine_run[@]}" "$work/consumer/aes128_consumer.exe" || status=$?
  "${wine_run[@]}" --stop-server
  return "$status"
}

# windows-i686-dll builds everything and checks the files; its programs run
# in the slow virtual machine only in the static windows-i686.
for preset in windows-i686 windows-i686-dll windows-x86_64 windows-x86_64-dll \
  linux-s390x linux-i686 linux-aarch64 linux-armhf; do
  echo "=== cross: $preset"
  start=$SECONDS
  cmake --workflow --preset "$preset"
  if [[ $preset == windows-x86_64-dll ]]; then
    windows_dll_consumer
  fi
  echo "--- cross: $preset passed in $((SECONDS - start)) s"
done
