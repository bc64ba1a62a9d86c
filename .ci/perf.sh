#!/usr/bin/env bash
# Performance stage: the instruction counts must stay within the budget in
# bench/instruction_budget.txt, and the benchmarks must build and run (a
# short smoke run; their times are too noisy to judge here).
set -euo pipefail
cd "$(dirname "$0")/.."

source .ci/lib.sh
ensure_packages cmake g++ make valgrind libbenchmark-dev

bench/instructions.sh --check

build=build/instructions
cmake --build "$build" --target aes_bench -j2 >/dev/null
"$build/bench/aes_bench" --benchmark_min_time=0.001 >/dev/null
echo "benchmarks run"
