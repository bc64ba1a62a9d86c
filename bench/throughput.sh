#!/usr/bin/env bash
# Throughput of CBC against message size, from the benchmarks' JSON output:
# prints a Markdown table (median, lowest and highest of the repetitions, in
# MB/s = 10^6 bytes per second) and draws the SVG plot with gnuplot.
#
#   build/bench/bench/aes_bench --benchmark_repetitions=5 \
#       --benchmark_out=results.json --benchmark_out_format=json
#   bench/throughput.sh results.json [docs/throughput.svg]
#
# Needs jq and gnuplot (Debian: jq, gnuplot-nox).
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
  echo "usage: $0 RESULTS.json [OUTPUT.svg]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
results=$1
svg=${2:-$root/docs/throughput.svg}

# One line per CBC benchmark: implementation, direction, size, median,
# lowest, highest, runs.
rows=$(jq -r '
  def median: sort | if length % 2 == 1 then .[length / 2 | floor]
                     else (.[length / 2 - 1] + .[length / 2]) / 2 end;
  [.benchmarks[]
   | select(.run_type == "iteration" and (.run_name | test("^aes_128_cbc_(en|de)crypt/")))]
  | group_by(.run_name)[]
  | (map(.bytes_per_second / 1e6)) as $rates
  | (.[0].run_name | capture("aes_128_cbc_(?<dir>[a-z]+)/(?<impl>[a-z0-9-]+)/(?<size>[0-9]+)"))
    as $name
  | [$name.impl, $name.dir, ($name.size | tonumber), ($rates | median), ($rates | min),
     ($rates | max), ($rates | length)]
  | @tsv' "$results" | sort -k1,1 -k2,2r -k3,3n)
if [[ -z $rows ]]; then
  echo "no aes_128_cbc_* results in $results" >&2
  exit 1
fi

echo "| implementation | direction | message | median MB/s | lowest | highest | runs |"
echo "|---|---|---:|---:|---:|---:|---:|"
awk -F'\t' '{
  size = $3 >= 1048576 ? $3 / 1048576 " MiB" : $3 >= 1024 ? $3 / 1024 " KiB" : $3 " B"
  printf "| %s | %s | %s | %.0f | %.0f | %.0f | %d |\n", $1, $2, size, $4, $5, $6, $7
}' <<<"$rows"

# One gnuplot data block per implementation and direction.
data=$(mktemp)
trap 'rm -f "$data"' EXIT
series=()
while IFS= read -r key; do
  awk -F'\t' -v key="$key" '$1 "/" $2 == key' <<<"$rows" >>"$data"
  printf '\n\n' >>"$data"
  series+=("$key")
done < <(cut -f1,2 <<<"$rows" | tr '\t' / | uniq)

plot=""
for i in "${!series[@]}"; do
  plot+="${plot:+, }\"$data\" index $i using 3:4:5:6 with yerrorlines lw 2 title \"${series[$i]}\""
done

gnuplot <<GNUPLOT
set terminal svg size 720,440 dynamic font "sans,12" background "white"
set output "$svg"
set title "AES-128-CBC throughput (key set-up included in every call)"
set xlabel "message size (bytes)"
set ylabel "MB/s (median; bars: lowest to highest run)"
set logscale x 2
set logscale y 10
set xrange [8:2097152]
set xtics ("16 B" 16, "256 B" 256, "1 KiB" 1024, "16 KiB" 16384, "64 KiB" 65536, "1 MiB" 1048576)
set grid
set key top left
plot $plot
GNUPLOT
echo "plot written to $svg" >&2
