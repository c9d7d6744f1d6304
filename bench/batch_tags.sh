#!/usr/bin/env bash
# Batch mode by number of tags and piece size, next to the floor of reading,
# parsing and writing the same file with batch mode's own reader, parser and
# writer (bench/batch_floor.cpp), measured in the same run.
#   bench/batch_tags.sh [TRACKMEND_BINARY]
#   LINES=2000000 PIECES="100000 1000" TAGS="10:5 1000:5 5000:4 10000:4" bench/batch_tags.sh
# TAGS lists tags:rate pairs. Output goes to disk under $TMPDIR (default /tmp);
# the inputs are generated once and kept there.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
trackmend=${1:-$build/src/trackmend}
work=${TMPDIR:-/tmp}/trackmend-bench-tags
mkdir -p "$work"
lines=${LINES:-2000000}
read -r -a pieces <<<"${PIECES:-100000 1000}"
read -r -a tag_rates <<<"${TAGS:-10:5 1000:5 5000:4 10000:4}"

cmake --build "$build" --target trackmend generate_positions batch_floor >/dev/null

measure() {  # label command...
  # The previous run's output goes, and is written back, before the next
  # run starts: otherwise freeing and writing back its 200 MB of dirty pages
  # lands in the next run's system time (up to 0.5 s at 2 M lines).
  rm -f "$work/out.csv"
  sync
  /usr/bin/time -v -o "$work/time.txt" "${@:2}" 2>/dev/null
  local wall cpu rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$work/time.txt")
  cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$work/time.txt")
  rss=$(awk -F': ' '/Maximum resident set size/ {printf "%.0f", $2 / 1024}' "$work/time.txt")
  printf '| %s | %.2f | %.2f | %.2f | %s |\n' "$1" "$(echo "$lines / $wall / 1000000" | bc -l)" \
    "$(echo "$lines / $cpu / 1000000" | bc -l)" "$cpu" "$rss"
}

printf '| tags (rate), run | M lines/s (wall) | M lines/CPU s | CPU s | peak RSS (MiB) |\n'
printf '|---|---:|---:|---:|---:|\n'
for tag_rate in "${tag_rates[@]}"; do
  tags=${tag_rate%%:*}
  rate=${tag_rate##*:}
  input=$work/in-$tags-$lines.csv
  [ -s "$input" ] || "$build/tools/generate_positions" --tags "$tags" --rate "$rate" --seed 1 --lines "$lines" --out "$input"
  measure "$tags ($rate Hz), floor" "$build/bench/batch_floor" "$input" "$work/out.csv"
  for piece in "${pieces[@]}"; do
    measure "$tags ($rate Hz), -p $piece" "$trackmend" -i "$input" -o "$work/out.csv" -s -p "$piece"
  done
  rm -f "$work/out.csv"
done
