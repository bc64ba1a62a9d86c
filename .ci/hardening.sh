#!/usr/bin/env bash
# Hardening stage: formatting, the suite under AddressSanitizer and
# UndefinedBehaviorSanitizer and under ThreadSanitizer, example4 and the test
# programs under valgrind, a bounded fuzzing run, clang-tidy and cppcheck (and the
# check that the S-box gates are what tools/sbox_circuits.py writes), and
# the installed packages (static and shared) used from outside the tree. Any
# finding fails the stage.
#
#   bash .ci/hardening.sh [check...]    (no check named: all of them)
set -euo pipefail
cd "$(dirname "$0")/.."

source .ci/lib.sh
ensure_packages cmake g++ make libgtest-dev googletest clang-14 clang-tidy-14 clang-format-14 \
  libclang-rt-14-dev cppcheck valgrind pkg-config python3

readonly root=$PWD
# Each input now goes through every implementation's one-shot, kept-key,
# many-block and messages calls, about 600 inputs a second here: 200,000
# take some six minutes, where a million would take half of CI's time.
readonly fuzz_runs=${AES_FUZZ_RUNS:-200000}
work=$(mktemp -d)
readonly work
trap 'rm -rf "$work"' EXIT

mapfile -t cxx_files < <(git ls-files '*.cpp' '*.hpp')

# Runs one named check and says how long it took.
check() {
  local name=$1
  shift
  local start=$SECONDS
  echo "=== hardening: $name"
  "$@"
  echo "--- hardening: $name passed in $((SECONDS - start)) s"
}

# The build of a preset (default: the one the README's test command makes);
# .ci/run has made it already, this makes it when the stage runs on its own.
preset_build() {
  cmake --preset "${1:-default}" >/dev/null
  cmake --build --preset "${1:-default}"
}

# Clang with libFuzzer, sanitizers and the reference model of the tests.
configure_fuzz_build() {
  cmake -S . -B build/hardening-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DAES_WARNINGS_AS_ERRORS=ON -DAES_BUILD_TESTS=ON -DAES_BUILD_FUZZERS=ON >/dev/null
}

formatting() {
  clang-format-14 --dry-run -Werror "${cxx_files[@]}"
}

sanitizers() {
  cmake --workflow --preset asan
}

# The suite under ThreadSanitizer, with first_call_tests: several threads
# make their first CBC calls, which choose the implementation, at once.
thread_sanitizer() {
  cmake --workflow --preset tsan
}

# valgrind reports its own findings with this status, so they cannot be
# mistaken for the program's.
readonly valgrind_error_status=125
readonly valgrind=(valgrind --quiet --error-exitcode=$valgrind_error_status --leak-check=full
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect)

under_valgrind() {
  preset_build
  local example4=build/default/selftest/example4
  local native=0 checked=0
  "$example4" </dev/null >/dev/null || native=$?
  "${valgrind[@]}" "$example4" </dev/null >/dev/null || checked=$?
  if ((checked != native)); then
    echo "example4 with standard input at end of file: status $native natively," \
      "$checked under valgrind" >&2
    return 1
  fi
  echo "example4 </dev/null: no valgrind finding (status $native as natively)"
  cmake -DBUILD_DIR="$root/build/default" -P .ci/valgrind_tests.cmake -- "${valgrind[@]}"
}

fuzzing() {
  configure_fuzz_build
  cmake --build build/hardening-fuzz -j2 --target cbc_fuzzer
  # New inputs go to a scratch copy; the seeds in the repository stay as they are.
  # Inputs up to 1 KiB (64 blocks) take every path of the eight- and
  # sixteen-block loops many times over; longer ones would only slow the run
  # down.
  mkdir -p "$work/corpus" "$work/findings"
  cp fuzz/corpus/* "$work/corpus/"
  local status=0
  (cd "$work" && "$root/build/hardening-fuzz/fuzz/cbc_fuzzer" -runs="$fuzz_runs" -max_len=1024 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$work/findings/" "$work/corpus") \
    >"$work/fuzz.log" 2>&1 || status=$?
  grep -E '^#[0-9]+ +(INITED|DONE)|^stat::' "$work/fuzz.log" || true
  if ((status != 0)) || compgen -G "$work/findings/*" >/dev/null; then
    echo "The fuzzer found a fault; its log ends:" >&2
    tail -n 40 "$work/fuzz.log" >&2
    return 1
  fi
}

static_analysis() {
  # The committed S-box gates are what the script derives.
  python3 tools/sbox_circuits.py --check
  # Every path that a comment, a script or a document names exists.
  python3 tools/check_paths.py
  # build/default covers the library, example4 and the tests; the fuzzer
  # build adds the fuzzer. Third-party code is outside the file filter.
  preset_build
  configure_fuzz_build
  run-clang-tidy-14 -clang-tidy-binary clang-tidy-14 -quiet -j 2 -p build/default \
    "^$root/(include|src|selftest|tests)/"
  run-clang-tidy-14 -clang-tidy-binary clang-tidy-14 -quiet -j 2 -p build/hardening-fuzz \
    "^$root/fuzz/"
  clang-tidy-14 --quiet tests/consumer/consumer.cpp -- -std=c++20 -Iinclude
  cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
    --suppress=missingIncludeSystem --library=googletest --library=posix --std=c++20 \
    --language=c++ -j 2 -q -I include -I src -I tests \
    include src selftest tests fuzz bench
}

# Installs the build of a preset into one prefix and uses the package from
# another, $work/<preset>/prefix, so the consumers also prove the installed
# files are relocatable.
install_and_consume() {
  local preset=$1
  local scratch=$work/$preset
  preset_build "$preset"
  cmake --install "build/$preset" --prefix "$scratch/stage"
  mv "$scratch/stage" "$scratch/prefix"

  echo "$preset: consumer with find_package:"
  cmake -S tests/consumer -B "$scratch/consumer-cmake" -DCMAKE_PREFIX_PATH="$scratch/prefix" \
    -DCMAKE_CXX_FLAGS="${consumer_warnings[*]}" >/dev/null
  cmake --build "$scratch/consumer-cmake" -j2
  "$scratch/consumer-cmake/aes128_consumer"

  echo "$preset: consumer with pkg-config:"
  local pc_dir
  pc_dir=$(dirname "$(find "$scratch/prefix" -name aes128.pc)")
  local flags
  flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs aes128)
  echo "pkg-config --cflags --libs aes128: $flags"
  # shellcheck disable=SC2086 # pkg-config's output is a list of flags.
  c++ -std=c++20 "${consumer_warnings[@]}" tests/consumer/consumer.cpp $flags \
    -o "$scratch/consumer-pc"
  # As for any library outside the loader's directories: the program carries
  # no path to it (CMake gives its own builds one, pkg-config does not).
  LD_LIBRARY_PATH=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir aes128) \
    "$scratch/consumer-pc"
}

# Fails unless both consumers of a preset's prefix load libaes128.so.1
# (expected: yes) or have the library linked in (expected: no).
loads_shared_library() {
  local preset=$1 expected=$2 program loads
  for program in consumer-cmake/aes128_consumer consumer-pc; do
    loads=no
    if readelf -d "$work/$preset/$program" | grep -q 'NEEDED.*\[libaes128\.so\.1\]'; then
      loads=yes
    fi
    echo "$preset/$program loads libaes128.so.1: $loads"
    [[ $loads == "$expected" ]] || return 1
  done
}

# Fails unless the CMake package and the .pc file of a preset's prefix both
# pass AES128_STATIC on (expected: yes, the static library: no DLL import on
# Windows) or neither does (no, the shared one).
declares_static() {
  local prefix=$work/$1/prefix expected=$2 file found=()
  for file in "$(find "$prefix" -name aes128Targets.cmake)" "$(find "$prefix" -name aes128.pc)"; do
    grep -q AES128_STATIC "$file" && found+=("$(basename "$file")")
  done
  echo "$1: AES128_STATIC in: ${found[*]:-neither}"
  case $expected in
    yes) ((${#found[@]} == 2)) ;;
    no) ((${#found[@]} == 0)) ;;
  esac
}

packaging() {
  install_and_consume default
  loads_shared_library default no
  declares_static default yes

  install_and_consume shared
  loads_shared_library shared yes
  declares_static shared no
  cmake -DLIBRARY="$(find "$work/shared/prefix" -name libaes128.so.1)" -DSONAME=libaes128.so.1 \
    -P cmake/check_shared_library.cmake

  echo "consumer with FetchContent from this tree:"
  cmake -S tests/consumer -B "$work/consumer-fetch" -DAES128_SOURCE_DIR="$root" \
    -DCMAKE_CXX_FLAGS="${consumer_warnings[*]}" >/dev/null
  cmake --build "$work/consumer-fetch" -j2 --target aes128_consumer
  "$work/consumer-fetch/aes128_consumer"
  echo "an internal header from that consumer must not be found:"
  if cmake --build "$work/consumer-fetch" --target aes128_internal_header >"$work/internal.log" 2>&1 ||
    ! grep -q 'modes/implementation.hpp: No such file' "$work/internal.log"; then
    cat "$work/internal.log"
    return 1
  fi
}

# All checks, or only those named on the command line (e.g. `fuzzing packaging`).
checks=("$@")
((${#checks[@]} > 0)) || checks=(formatting sanitizers thread_sanitizer under_valgrind fuzzing static_analysis packaging)
stage_start=$SECONDS
for name in "${checks[@]}"; do
  check "$name" "$name"
done
echo "=== hardening: ${checks[*]} passed in $((SECONDS - stage_start)) s"
