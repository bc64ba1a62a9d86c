#!/usr/bin/env bash
# Instruction counts of the library's performance goals, from callgrind:
# unlike times they repeat exactly, so CI can hold them to a budget.
#
#   bench/instructions.sh                  print one "<figure> <value>" line per goal
#   bench/instructions.sh --check [FILE]   also compare with the budget
#                                          (default bench/instruction_budget.txt);
#                                          fails when a figure exceeds its budget
#                                          by more than 2%
#
# Builds the counting driver in Release (-O2) in its own directory,
# build/instructions or $AES_INSTRUCTIONS_BUILD_DIR; extra configure options
# (other flags, to compare) may come in $AES_INSTRUCTIONS_CMAKE_ARGS. Needs
# cmake, g++, valgrind and libbenchmark-dev.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${AES_INSTRUCTIONS_BUILD_DIR:-$root/build/instructions}
mode=print
budget=$root/bench/instruction_budget.txt
if [[ ${1:-} == --check ]]; then
  mode=check
  budget=${2:-$budget}
elif [[ $# -gt 0 ]]; then
  echo "usage: $0 [--check [budget-file]]" >&2
  exit 2
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DAES_BUILD_BENCHMARKS=ON \
  -DAES_BUILD_TESTS=OFF -DAES_WARNINGS_AS_ERRORS=ON ${AES_INSTRUCTIONS_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target aes_instruction_count -j2 >/dev/null

dumps=$(mktemp -d)
trap 'rm -rf "$dumps"' EXIT
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$dumps/out" \
  "$build/bench/aes_instruction_count" >/dev/null 2>"$dumps/valgrind.log" ||
  { cat "$dumps/valgrind.log" >&2; exit 1; }

# One dump per measurement, named by its client request. The "empty"
# measurement is the cost of the counting itself and is taken off the others;
# the 64 KiB figures are given per byte.
figures=$(awk '
  /^desc: Trigger: Client Request: / { name = $5; order[++n] = name }
  /^summary: / { count[name] = $2 }
  END {
    if (!("empty" in count) || n < 2) { print "no counts" > "/dev/stderr"; exit 1 }
    for (i = 1; i <= n; ++i) {
      name = order[i]
      if (name == "empty") continue
      net = count[name] - count["empty"]
      if (name ~ /64KiB$/) printf "%s_instructions_per_byte %.2f\n", name, net / 65536
      else printf "%s_instructions %d\n", name, net
    }
  }' "$dumps"/out.* | sort)
echo "$figures"

[[ $mode == check ]] || exit 0
echo "--- against $budget (2% tolerance)"
awk '
  NR == FNR { figure[$1] = $2; next }
  /^[[:space:]]*(#|$)/ { next }
  {
    if (!($1 in figure)) {
      # A hardware implementation that this CPU lacks cannot be counted here.
      if ($1 ~ /^table\./ || $1 ~ /^public-table\./) { printf "MISSING %s\n", $1; failed = 1 }
      else printf "SKIP %s: not supported by this CPU\n", $1
      next
    }
    limit = $2 * 1.02
    verdict = figure[$1] > limit ? "OVER" : "ok"
    if (verdict == "OVER") failed = 1
    printf "%-4s %s %s (budget %s)\n", verdict, $1, figure[$1], $2
  }
  END { exit failed }' <(echo "$figures") "$budget"
