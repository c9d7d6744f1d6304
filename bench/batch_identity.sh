#!/usr/bin/env bash
# Byte-identity of batch output between two trackmend binaries, over the real
# traces and generated inputs of 10, 1,000 and 10,000 tags at several piece
# sizes. Used to check that a change to the pipeline or the batch tool leaves
# the output as it was.
#   bench/batch_identity.sh OLD_BINARY NEW_BINARY [GENERATOR]
#   LINES=2000000 SMALL_LINES=100000 bench/batch_identity.sh ...
# -p 1000 and -p 100000 run on LINES-line inputs, -p 1 and -p 7 on
# SMALL_LINES-line ones (an old binary may take minutes per run there). The
# old binary's outputs are kept under $TMPDIR/trackmend-batch-identity for
# the next run; delete them when the old binary changes.
set -euo pipefail

old=$1
new=$2
root=$(cd "$(dirname "$0")/.." && pwd)
generator=${3:-$root/build/release/tools/generate_positions}
data=${TRACKMEND_SHARED_DATA_DIR:-$root/../shared/data}
work=${TMPDIR:-/tmp}/trackmend-batch-identity
mkdir -p "$work"
lines=${LINES:-2000000}
small=${SMALL_LINES:-100000}

compare() {  # input piece-size label
  # The old binary's outputs are kept: it is the slow one, and it does not change.
  local expected
  expected=$work/old-$(basename "$1" .csv)-p$2.csv
  [ -s "$expected" ] || "$old" -i "$1" -o "$expected" -s -p "$2" 2>/dev/null
  "$new" -i "$1" -o "$work/new.csv" -s -p "$2" 2>/dev/null
  if cmp -s "$expected" "$work/new.csv"; then
    printf '%-28s -p %-7s identical (%d lines)\n' "$3" "$2" "$(wc -l <"$work/new.csv")"
  else
    printf '%-28s -p %-7s DIFFERENT\n' "$3" "$2"
    status=1
  fi
}

status=0
for trace in "$data"/*.csv; do
  for p in 1 7 1000 100000; do compare "$trace" "$p" "$(basename "$trace")"; done
done
for group in "10 5" "1000 5" "10000 4"; do
  read -r tags rate <<<"$group"
  for n in "$small" "$lines"; do
    input=$work/in-$tags-$n.csv
    [ -s "$input" ] || "$generator" --tags "$tags" --rate "$rate" --seed 1 --lines "$n" --out "$input"
  done
  for p in 1 7; do compare "$work/in-$tags-$small.csv" "$p" "$tags tags, $small lines"; done
  for p in 1000 100000; do compare "$work/in-$tags-$lines.csv" "$p" "$tags tags, $lines lines"; done
done
exit $status
