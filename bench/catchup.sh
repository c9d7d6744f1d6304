#!/usr/bin/env bash
# Catch-up throughput of the daemon: raw rows moved from positions_raw into
# positions per second, next to two ceilings of the server for the same rows,
# measured in the same run on a private MariaDB server: multi-row text
# INSERTs and bulk executions of a prepared INSERT (array binding).
#
#   bench/catchup.sh [BUILD_DIR] [ROWS]
#
# BUILD_DIR holds a Release build with the targets trackmend and
# generate_positions (default build/release); ROWS raw rows are generated
# (default 2000000: 100 tags at 5 Hz, heartbeats and faults included). The
# daemon runs with select_duration_sec 60 and insert_piece_size 1000. The
# bulk ceiling's program comes from BUILD_DIR, else from build/release of
# this tree (so that an older build can be measured against it).
#
# With CATCHUP_STRACE=FILE the daemon runs under `strace -c -w -f` (wall time
# per system call: waiting for the server, fsync, ...) and the summary goes
# to FILE; with CATCHUP_PERF=FILE it runs under `perf record -g` (the
# daemon's CPU by function, for `perf report -i FILE`); with
# CATCHUP_PERF_STAT=FILE `perf stat` counts its page faults and context
# switches into FILE. The times of such a run are a profile, not a
# measurement.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
rows=${2:-2000000}
trackmend=$build/src/trackmend
generator=$build/tools/generate_positions
[ -x "$trackmend" ] && [ -x "$generator" ] || { echo "catchup: build trackmend and generate_positions in $build" >&2; exit 1; }
bulk_ceiling=$build/bench/bulk_ceiling
[ -x "$bulk_ceiling" ] || bulk_ceiling=$root/build/release/bench/bulk_ceiling
[ -x "$bulk_ceiling" ] || { echo "catchup: build bulk_ceiling in $build or $root/build/release" >&2; exit 1; }

work=$(mktemp -d /tmp/tmbench.XXXXXX)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
daemon_pid=
cleanup() {
  [ -n "$daemon_pid" ] && kill -TERM "$daemon_pid" 2>/dev/null && wait "$daemon_pid" 2>/dev/null || true
  "$root/scripts/mariadb-test-server" stop "$work/db" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"$root/scripts/mariadb-test-server" start "$work/db" "$port" >/dev/null
export MYSQL_PWD=trackmend-test
sql() { mariadb --protocol=TCP -h 127.0.0.1 -P "$port" -u trackmend --local-infile=1 -B -N trackmend_test "$@"; }
now() { date +%s.%N; }

echo "generating $rows raw rows" >&2
"$generator" --tags 100 --rate 5 --seconds 100000 --lines "$rows" --seed 1 --format raw-tsv --out "$work/raw.tsv"
sql -e "LOAD DATA LOCAL INFILE '$work/raw.tsv' INTO TABLE positions_raw FIELDS TERMINATED BY '\t'
        (trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, project_uid, inactive, type)"
moved=$(sql -e "SELECT count(*) FROM positions_raw WHERE type != 'HB'")
newest_raw=$(sql -e "SELECT unix_timestamp(max(ts)) FROM positions_raw WHERE type != 'HB'")

mkdir -p "$work/state"
cat >"$work/config.json" <<EOF
{"dw": {"host": "127.0.0.1", "user": "trackmend", "password": "trackmend-test", "database": "trackmend_test", "port": $port},
 "system": {"persistent_data_dir": "$work/state", "pidfile": "$work/trackmend.pid", "debug": false,
            "timer_period_sec": 60, "select_duration_sec": 60, "insert_piece_size": 1000}}
EOF

echo "catching up" >&2
start=$(now)
"$trackmend" -c "$work/config.json" 2>"$work/daemon.log" &
daemon_pid=$!
tracer_pid=
if [ -n "${CATCHUP_STRACE:-}" ]; then
  strace -c -w -f -o "$CATCHUP_STRACE" -p "$daemon_pid" 2>/dev/null &
  tracer_pid=$!
elif [ -n "${CATCHUP_PERF:-}" ]; then
  perf record -q ${CATCHUP_PERF_OPTIONS:--g} -o "$CATCHUP_PERF" -p "$daemon_pid" 2>/dev/null &
  tracer_pid=$!
elif [ -n "${CATCHUP_PERF_STAT:-}" ]; then
  perf stat -e task-clock,page-faults,context-switches -o "$CATCHUP_PERF_STAT" -p "$daemon_pid" 2>/dev/null &
  tracer_pid=$!
fi
# Caught up once the newest written time is within the hold-back (10 s), the
# trimmed trailing second and a margin of the newest raw position, and no
# write is pending.
while :; do
  newest=$(sql -e "SELECT coalesce(unix_timestamp(max(ts)), 0) FROM positions")
  if awk -v n="$newest" -v r="$newest_raw" 'BEGIN { exit !(n >= r - 15) }' && [ ! -e "$work/state/database.bin" ]; then
    break
  fi
  kill -0 "$daemon_pid" 2>/dev/null || { cat "$work/daemon.log" >&2; echo "catchup: the daemon ended" >&2; exit 1; }
  sleep 0.2
done
end=$(now)
# The daemon's own CPU time (user + system), from its clock ticks.
cpu=$(awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$daemon_pid/stat")
# perf writes its file when told to stop, before its target ends.
[ -z "${CATCHUP_PERF:-}${CATCHUP_PERF_STAT:-}" ] || kill -INT "$tracer_pid" 2>/dev/null || true
kill -TERM "$daemon_pid"
wait "$daemon_pid" || true
daemon_pid=
[ -z "$tracer_pid" ] || wait "$tracer_pid" || true
written=$(sql -e "SELECT count(*) FROM positions")

# The ceiling: the same processed rows sent back by one connection as
# multi-row INSERT statements of about 1000 rows each.
mariadb-dump --protocol=TCP -h 127.0.0.1 -P "$port" -u trackmend --no-create-info --skip-add-locks \
  --skip-disable-keys --extended-insert --net-buffer-length=90000 trackmend_test positions >"$work/ceiling.sql"
statements=$(grep -c '^INSERT' "$work/ceiling.sql")
sql -e "TRUNCATE TABLE positions"
ceiling_start=$(now)
sql <"$work/ceiling.sql"
ceiling_end=$(now)
# The bulk ceiling: the same rows as bulk executions of 1000 rows.
read -r bulk_rows bulk_seconds < <("$bulk_ceiling" 127.0.0.1 "$port" trackmend trackmend_test 1000) || true
[ -n "${bulk_seconds:-}" ] || { echo "catchup: the bulk ceiling failed" >&2; exit 1; }

awk -v m="$moved" -v w="$written" -v s="$start" -v e="$end" -v cs="$ceiling_start" -v ce="$ceiling_end" \
    -v st="$statements" -v cpu="$cpu" -v br="$bulk_rows" -v bs="$bulk_seconds" 'BEGIN {
  t = e - s; c = ce - cs; r = m / t
  printf "raw rows moved       %d (heartbeats excluded)\n", m
  printf "rows written         %d\n", w
  printf "catch-up time        %.1f s\n", t
  printf "catch-up throughput  %.0f raw rows/s\n", r
  printf "text INSERT ceiling  %.0f rows/s (%d rows in %d statements, %.1f s)\n", w / c, w, st, c
  printf "bulk INSERT ceiling  %.0f rows/s (%d rows in executes of 1000, %.1f s)\n", br / bs, br, bs
  printf "ratio to text        %.2f\n", r / (w / c)
  printf "share of bulk        %.0f %%\n", 100 * r / (br / bs)
  printf "daemon CPU           %.1f s, %.1f s per 1 M raw rows\n", cpu, cpu * 1000000 / m
}'
