#!/usr/bin/env bash
# Benchmarks of the position store against a private MariaDB server started
# here (and stopped at the end): write_positions against the mariadb client
# sending the same INSERT text, and the reading of raw rows. See database.md.
#
#   bench/database.sh [BUILD_DIR]        (default build/release)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target database_bench

db_dir=$(mktemp -d /tmp/tmbench.XXXXXX)
db_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cleanup() {
    "$root/scripts/mariadb-test-server" stop "$db_dir" || true
    rm -rf "$db_dir"
}
trap cleanup EXIT
"$root/scripts/mariadb-test-server" start "$db_dir" "$db_port"

export TRACKMEND_TEST_DB_HOST=127.0.0.1 TRACKMEND_TEST_DB_PORT=$db_port TRACKMEND_TEST_DB_USER=trackmend \
    TRACKMEND_TEST_DB_PASSWORD=trackmend-test TRACKMEND_TEST_DB_NAME=trackmend_test
"$build/bench/database_bench" --benchmark_counters_tabular=true 2>/dev/null
