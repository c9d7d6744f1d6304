#!/usr/bin/env bash
# End-to-end batch mode: lines/s and peak memory of trackmend -i/-o on
# synthetic input of 1,000 tags at 5 Hz with the default piece size.
#   bench/batch.sh [LINES...]      (default: 1000000 10000000)
#   PIECES="100000 10000" bench/batch.sh   piece sizes to run (-p), default both
# Builds trackmend and the generator in Release under build/bench-batch and
# puts the generated files under /tmp.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench-batch
work=${TMPDIR:-/tmp}/trackmend-bench-batch
mkdir -p "$work"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DTRACKMEND_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target trackmend generate_positions >/dev/null

sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000000 10000000)

read -r -a pieces <<<"${PIECES:-100000 10000}"

printf '| input lines | -p | output lines | wall time (s) | lines/s (wall) | CPU time (s) | lines/s (CPU) | peak RSS (MiB) |\n'
printf '|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for lines in "${sizes[@]}"; do
 for piece in "${pieces[@]}"; do
  input=$work/in-$lines.csv
  output=$work/out-$lines.csv
  if [ ! -s "$input" ]; then
    "$build/tools/generate_positions" --tags 1000 --rate 5 --seed 1 --lines "$lines" --out "$input"
  fi
  # -s keeps the generated input for the next run; without it the output is
  # also fsync'ed before the input is deleted.
  /usr/bin/time -v -o "$work/time-$lines.txt" "$build/src/trackmend" -i "$input" -o "$output" -s -p "$piece"
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$work/time-$lines.txt")
  rss=$(awk -F': ' '/Maximum resident set size/ {printf "%.0f", $2 / 1024}' "$work/time-$lines.txt")
  cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$work/time-$lines.txt")
  out_lines=$(wc -l <"$output")
  printf '| %d | %d | %d | %.2f | %.0f | %.2f | %.0f | %s |\n' "$lines" "$piece" "$out_lines" "$wall" \
    "$(echo "$lines / $wall" | bc -l)" "$cpu" "$(echo "$lines / $cpu" | bc -l)" "$rss"
  rm -f "$output"
 done
done
