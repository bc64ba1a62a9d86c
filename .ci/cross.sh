#!/usr/bin/env bash
# CI stage: the other platforms. 32-bit Windows on msvcrt.dll (the program's
# home) under 32-bit Wine in a QEMU virtual machine, 64-bit Windows under
# wine64, big-endian s390x, 32-bit i686, 64-bit and 32-bit Arm Linux under
# user-mode QEMU (i686's terminal tests in the virtual machine).
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

for preset in windows-i686 windows-x86_64 linux-s390x linux-i686 linux-aarch64 linux-armhf; do
  echo "=== cross: $preset"
  cmake --workflow --preset "$preset"
done
