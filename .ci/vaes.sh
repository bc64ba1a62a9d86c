#!/usr/bin/env bash
# CI stage: the vaes-avx2 implementation on an emulated CPU that has VAES and
# AVX2 (QEMU's user-mode "max" CPU), so that it is tested whatever CPU the
# machine running CI has. The unit-test programs of the default build run
# there, and the public functions must choose vaes-avx2.
#
# Debian 12's qemu-user-static (7.2) computes the upper 128-bit lane of
# VAESENC and VAESDEC wrongly. The qemu-user package of bookworm-backports
# (10.0, whose qemu-x86_64 is a static program) computes both lanes right.
# Its qemu-x86_64 is unpacked into the build tree, not installed: the
# system's QEMU stays as it is. apt never installs from backports unless
# asked to by name, so adding the suite to its sources changes nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."

source .ci/lib.sh
ensure_packages cmake g++ make libgtest-dev googletest

readonly qemu_dir=build/qemu-user-backports
readonly qemu=$qemu_dir/qemu-x86_64
readonly backports_sources=/etc/apt/sources.list.d/debian-bookworm-backports.sources

# Puts qemu-x86_64 of bookworm-backports' qemu-user at $qemu, unless it is
# there already.
fetch_qemu() {
  if [[ -x $qemu ]]; then
    return 0
  fi
  if ! grep -rqsE '^[^#]*bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "Adding bookworm-backports to apt's sources: $backports_sources"
    printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
      >"$backports_sources"
  fi
  apt-get update -q -o Acquire::Retries=3
  local download
  download=$(mktemp -d)
  # apt downloads as its own unprivileged user.
  chmod 0777 "$download"
  (cd "$download" && apt-get download -q -o Acquire::Retries=3 qemu-user/bookworm-backports)
  # The package holds an emulator for every architecture; only the x86-64
  # one is kept.
  dpkg -x "$download"/qemu-user_*.deb "$download/unpacked"
  mkdir -p "$qemu_dir"
  mv "$download/unpacked/usr/bin/qemu-x86_64" "$qemu"
  rm -rf "$download"
}

fetch_qemu
"$qemu" --version | head -n 1

# The build the README's test command makes; .ci/run has made it already,
# this makes it when the stage runs on its own.
cmake --preset default >/dev/null
cmake --build --preset default

start=$SECONDS
for program in known_answer_tests property_tests monte_carlo_tests; do
  echo "--- $program under qemu-x86_64 -cpu max"
  AES_EXPECTED_IMPLEMENTATION=vaes-avx2 "$qemu" -cpu max "build/default/tests/$program" \
    --gtest_brief=1
done
echo "=== vaes: the unit-test programs passed on QEMU's max CPU in $((SECONDS - start)) s"
