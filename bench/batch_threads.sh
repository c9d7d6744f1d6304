#!/usr/bin/env bash
# User CPU of batch mode's two threads (smoothing and writing; reading and
# parsing), from perf's cpu-clock samples by thread, for binaries run in turn
# on one input, several rounds: the least of each column over the rounds is
# the figure least disturbed by other work on the machine.
#   bench/batch_threads.sh INPUT ROUNDS BINARY...
#   PIECE=1000 bench/batch_threads.sh /tmp/trackmend-bench-tags/in-10000-2000000.csv 6 old/trackmend new/trackmend
# The inputs are those of bench/batch_tags.sh. Output goes to $TMPDIR.
set -euo pipefail

input=$1
rounds=$2
shift 2
piece=${PIECE:-100000}
work=${TMPDIR:-/tmp}/trackmend-bench-threads
mkdir -p "$work"

declare -A least_smoothing least_reading
for round in $(seq "$rounds"); do
  for binary in "$@"; do
    rm -f "$work/out.csv"
    sync
    perf record -q -e cpu-clock:u -F 1000 -o "$work/perf.data" -- \
      "$binary" -i "$input" -o "$work/out.csv" -s -p "$piece" >/dev/null 2>&1
    # Samples per thread, the main (smoothing) thread first: it has the lower id.
    read -r smoothing reading < <(perf report -i "$work/perf.data" -n --sort pid --stdio 2>/dev/null |
      awk '$1 ~ /%$/ {split($3, id, ":"); print id[1], $2}' | sort -n | awk '{printf "%s ", $2} END {print ""}')
    echo "$binary round $round: smoothing ${smoothing} ms, reading ${reading} ms"
    if [ -z "${least_smoothing[$binary]:-}" ] || [ "$smoothing" -lt "${least_smoothing[$binary]}" ]; then
      least_smoothing[$binary]=$smoothing
    fi
    if [ -z "${least_reading[$binary]:-}" ] || [ "$reading" -lt "${least_reading[$binary]}" ]; then
      least_reading[$binary]=$reading
    fi
  done
done
for binary in "$@"; do
  echo "least over $rounds rounds, $binary: smoothing ${least_smoothing[$binary]} ms, reading ${least_reading[$binary]} ms"
done
rm -f "$work/out.csv" "$work/perf.data"
