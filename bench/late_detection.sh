#!/usr/bin/env bash
# What looking for late rows costs a live site: a feed of 10,000 raw rows/s
# (2,000 tags at 5 Hz, one INSERT of 1,000 rows every 100 ms, times from the
# server's clock) runs into a private MariaDB server while the daemon
# follows it with timer_period_sec 1; after a warm-up, the statements the
# daemon sends per tick and the CPU of the server and the daemon are
# measured over a minute. Given two builds, both run in turn on the same
# server (the second after the first), so that a build without the read
# ledger shows what it adds.
#
#   bench/late_detection.sh BUILD_DIR [OTHER_BUILD_DIR] [SECONDS]
#
# Prints one line per build: statements per tick by kind, server CPU s and
# daemon CPU s per minute of feed. Not part of scripts/test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
builds=("$(cd "$1" && pwd)")
[ -n "${2:-}" ] && builds+=("$(cd "$2" && pwd)")
seconds=${3:-60}
warmup=20

work=$(mktemp -d /tmp/tmlate.XXXXXX)
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
daemon_pid=
feed_pid=
cleanup() {
  [ -n "$feed_pid" ] && kill "$feed_pid" 2>/dev/null || true
  [ -n "$daemon_pid" ] && kill -KILL "$daemon_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  "$root/scripts/mariadb-test-server" stop "$work/db" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
"$root/scripts/mariadb-test-server" start "$work/db" "$port" >/dev/null
export MYSQL_PWD=trackmend-test
sql() { mariadb --protocol=TCP -h 127.0.0.1 -P "$port" -u trackmend -B -N trackmend_test "$@"; }
server_pid=$(cat "$work/db/mysqld.pid")
cpu_s() { awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$1/stat"; }
status() { sql -e "SHOW GLOBAL STATUS WHERE Variable_name IN ('Questions', 'Com_select', 'Com_insert', 'Com_update', 'Com_delete', 'Com_begin', 'Com_commit')" | awk '{ printf "%s=%s ", $1, $2 }'; }

# feed SECONDS: the feed for that long; it ends by itself.
feed() {
  /usr/bin/python3 -u - "$1" <<'PY' | mariadb --protocol=TCP -h 127.0.0.1 -P "$port" -u trackmend trackmend_test >/dev/null 2>&1
import random, sys, time
end = time.monotonic() + float(sys.argv[1])
head = ("INSERT INTO positions_raw (trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, "
        "project_uid, inactive, type) VALUES ")
next_at = time.monotonic()
k = 0
while time.monotonic() < end:
    base = (k % 2) * 1000
    rows = ",".join(f"({t}, 'T{t}', NULL, UTC_TIMESTAMP(3), {random.randrange(10000)}, {random.randrange(10000)}, 0, 'a', 'p', 0, 'UWB')"
                    for t in range(base, base + 1000))
    sys.stdout.write(head + rows + ";\n")
    k += 1
    next_at += 0.1
    time.sleep(max(0.0, next_at - time.monotonic()))
PY
}

for build in "${builds[@]}"; do
  sql -e "TRUNCATE TABLE positions_raw; TRUNCATE TABLE positions; DELETE FROM trackmend_writer_lease"
  sql -e "TRUNCATE TABLE trackmend_read_ledger; TRUNCATE TABLE trackmend_late_check" 2>/dev/null || true
  rm -rf "$work/state"; mkdir -p "$work/state"
  cat >"$work/config.json" <<EOC
{"dw": {"host": "127.0.0.1", "user": "trackmend", "password": "trackmend-test", "database": "trackmend_test", "port": $port},
 "system": {"persistent_data_dir": "$work/state", "pidfile": "$work/trackmend.pid", "debug": false,
            "timer_period_sec": 1, "select_duration_sec": 60, "insert_piece_size": 1000}}
EOC
  feed $((warmup + seconds + 4)) & feed_pid=$!
  sleep 2
  ZAV_LAUNCHED_BY_SYSTEMD=1 "$build/src/trackmend" -c "$work/config.json" >"$work/daemon.log" 2>&1 &
  daemon_pid=$!
  sleep "$warmup"
  before=$(status); server_before=$(cpu_s "$server_pid"); daemon_before=$(cpu_s "$daemon_pid")
  sleep "$seconds"
  after=$(status); server_after=$(cpu_s "$server_pid"); daemon_after=$(cpu_s "$daemon_pid")
  rows=$(sql -e "SELECT count(*) FROM positions_raw")
  kill -TERM "$daemon_pid"; wait "$daemon_pid" || true; daemon_pid=
  wait "$feed_pid" 2>/dev/null || true; feed_pid=
  /usr/bin/python3 - "$build" "$seconds" "$before" "$after" "$server_before" "$server_after" "$daemon_before" "$daemon_after" "$rows" <<'PY'
import sys
build, seconds = sys.argv[1], float(sys.argv[2])
parse = lambda s: {k: int(v) for k, v in (x.split("=") for x in s.split())}
b, a = parse(sys.argv[3]), parse(sys.argv[4])
# The feed sends 10 INSERTs a second and this script 2 status queries.
own = {"Questions": 10 * seconds + 2, "Com_insert": 10 * seconds, "Com_select": 0}
per_tick = {k: (a[k] - b[k] - own.get(k, 0)) / seconds for k in a}
scale = 60.0 / seconds
print(f"{build}: per tick (1 s) statements {per_tick['Questions']:.1f} (select {per_tick['Com_select']:.1f}, "
      f"insert {per_tick['Com_insert']:.1f}, update {per_tick['Com_update']:.1f}, delete {per_tick['Com_delete']:.1f}, "
      f"begin {per_tick['Com_begin']:.1f}, commit {per_tick['Com_commit']:.1f}); per minute: server CPU "
      f"{(float(sys.argv[6]) - float(sys.argv[5])) * scale:.2f} s, daemon CPU {(float(sys.argv[8]) - float(sys.argv[7])) * scale:.2f} s; "
      f"raw rows {sys.argv[9]}")
PY
done
