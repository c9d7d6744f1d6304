#!/usr/bin/env bash
# Catch-up throughput of the daemon: raw rows moved from positions_raw into
# positions per second, next to two ceilings of the server for the same rows,
# measured in the same run on a private MariaDB server: multi-row text
# INSERTs and bulk executions of a prepared INSERT (array binding).
#
#   bench/catchup.sh [BUILD_DIR] [ROWS] [ROUNDS]
#
# BUILD_DIR holds a Release build with the targets trackmend and
# generate_positions (default build/release); ROWS raw rows are generated
# (default 2000000: 100 tags at 5 Hz, heartbeats and faults included). The
# daemon runs with select_duration_sec 60 and insert_piece_size 1000. The
# bulk ceiling's program comes from BUILD_DIR, else from build/release of
# this tree (so that an older build can be measured against it).
#
# Each of ROUNDS rounds (default 3) empties positions and the daemon's state,
# catches up and then measures both ceilings, so that every ratio compares
# measurements taken within half a minute of each other: the machine's speed
# drifts by a third from minute to minute. Each round is printed, then the
# medians.
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
rounds=${3:-3}
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

cat >"$work/config.json" <<EOF
{"dw": {"host": "127.0.0.1", "user": "trackmend", "password": "trackmend-test", "database": "trackmend_test", "port": $port},
 "system": {"persistent_data_dir": "$work/state", "pidfile": "$work/trackmend.pid", "debug": false,
            "timer_period_sec": 60, "select_duration_sec": 60, "insert_piece_size": 1000}}
EOF

# CPU seconds (user + system) a process has used, from its clock ticks.
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"; }
server_pid=$(cat "$work/db/mysqld.pid")

# One round: a catch-up into an empty positions from no state, then both
# ceilings with the rows it wrote. Appends a line to $work/rounds: rows moved,
# rows written, catch-up seconds, daemon and server CPU seconds, text ceiling
# seconds and statements, bulk ceiling rows and seconds.
catch_up_round() {
  local server_cpu_start start end cpu server_cpu written statements ceiling_start ceiling_end
  local bulk_rows bulk_seconds caught_up
  sql -e "TRUNCATE TABLE positions"
  rm -rf "$work/state"
  mkdir -p "$work/state"
  server_cpu_start=$(cpu_seconds "$server_pid")
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
  # Caught up once the newest written time is within the hold-back (10 s),
  # the trimmed trailing second and a margin of the newest raw position, and
  # no write is pending. One client asks every 20 ms over one session: a
  # client started per question would take a good part of a core from the
  # daemon and the server.
  coproc poller { mariadb --protocol=TCP -h 127.0.0.1 -P "$port" -u trackmend -B -N -n trackmend_test; }
  while :; do
    echo "SELECT coalesce(max(ts) >= from_unixtime($newest_raw - 15), 0) FROM positions;" >&"${poller[1]}"
    read -r caught_up <&"${poller[0]}"
    [ "$caught_up" = 1 ] && [ ! -e "$work/state/database.bin" ] && break
    kill -0 "$daemon_pid" 2>/dev/null || { cat "$work/daemon.log" >&2; echo "catchup: the daemon ended" >&2; exit 1; }
    sleep 0.02
  done
  end=$(now)
  exec {poller[1]}>&-
  wait "$poller_PID" 2>/dev/null || true
  cpu=$(cpu_seconds "$daemon_pid")
  server_cpu=$(awk -v a="$server_cpu_start" -v b="$(cpu_seconds "$server_pid")" 'BEGIN { print b - a }')
  # perf writes its file when told to stop, before its target ends.
  [ -z "${CATCHUP_PERF:-}${CATCHUP_PERF_STAT:-}" ] || kill -INT "$tracer_pid" 2>/dev/null || true
  kill -TERM "$daemon_pid"
  wait "$daemon_pid" || true
  daemon_pid=
  [ -z "$tracer_pid" ] || wait "$tracer_pid" || true
  written=$(sql -e "SELECT count(*) FROM positions")

  # The text ceiling: the same processed rows sent back by one connection as
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
  echo "$moved $written $(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }') $cpu $server_cpu" \
    "$(awk -v s="$ceiling_start" -v e="$ceiling_end" 'BEGIN { print e - s }') $statements $bulk_rows $bulk_seconds" \
    >>"$work/rounds"
}

for round in $(seq 1 "$rounds"); do
  echo "catching up, round $round of $rounds" >&2
  catch_up_round
done

awk '
function median(values, n,    i, j, t, sorted) {
  for (i = 1; i <= n; ++i) sorted[i] = values[i]
  for (i = 2; i <= n; ++i)
    for (j = i; j > 1 && sorted[j - 1] > sorted[j]; --j) { t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t }
  return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
}
{
  n = NR; m = $1
  if (n > 1 && $2 != w) different = 1
  w = $2
  throughput[n] = $1 / $3; text[n] = $2 / $6; bulk[n] = $8 / $9
  ratio[n] = throughput[n] / text[n]; share[n] = 100 * throughput[n] / bulk[n]
  dcpu[n] = $4 * 1000000 / $1; scpu[n] = $5 * 1000000 / $1
  printf "round %d: %.0f raw rows/s (%.1f s), text ceiling %.0f rows/s (%d statements), bulk ceiling %.0f rows/s, ratio %.2f, share %.0f %%, CPU per 1 M raw rows: daemon %.1f s, server %.1f s\n",
    n, throughput[n], $3, text[n], $7, bulk[n], ratio[n], share[n], dcpu[n], scpu[n]
}
END {
  if (different) print "catchup: the rounds wrote different numbers of rows" > "/dev/stderr"
  printf "raw rows moved       %d (heartbeats excluded)\n", m
  printf "rows written         %d\n", w
  printf "medians of %d rounds:\n", n
  printf "catch-up throughput  %.0f raw rows/s\n", median(throughput, n)
  printf "text INSERT ceiling  %.0f rows/s\n", median(text, n)
  printf "bulk INSERT ceiling  %.0f rows/s (executes of 1000 rows)\n", median(bulk, n)
  printf "ratio to text        %.2f\n", median(ratio, n)
  printf "share of bulk        %.0f %%\n", median(share, n)
  printf "daemon CPU           %.1f s per 1 M raw rows\n", median(dcpu, n)
  printf "server CPU           %.1f s per 1 M raw rows (while catching up)\n", median(scpu, n)
}' "$work/rounds"
