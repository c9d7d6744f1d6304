#!/usr/bin/env bash
# Keeps the layers of src/ apart and the includes free of cycles:
#   pipeline  src/pipeline/, position.hpp, positions_post_processor.*: core only,
#             no database, no files;
#   batch     src/batch/, csv_application.*: no store, no daemon;
#   store     src/store/, database*.*: no batch, no daemon.
# Exit status 1 with one line per offence.
set -uo pipefail
src=${1:-$(cd "$(dirname "$0")/../src" && pwd)}
cd "$src"
status=0

offend() { echo "check_layers: $1" >&2; status=1; }

check() {  # layer, forbidden include pattern (extended regex), files...
    local layer=$1 pattern=$2; shift 2
    for f in "$@"; do
        [ -f "$f" ] || continue
        grep -nE "^#include [\"<]($pattern)" "$f" | while IFS= read -r hit; do
            echo "check_layers: $layer file $f:${hit%%:*} includes ${hit#*#include }" >&2
        done
        grep -qE "^#include [\"<]($pattern)" "$f" && status=1
    done
}

check pipeline 'store/|batch/|daemon/|database|csv_|config|post_processor_runner|application|mariadb|fstream|filesystem|boost/filesystem|core/atomic_file|core/output_file|core/logger' \
    pipeline/* position.hpp positions_post_processor.*
check batch 'store/|daemon/|database|mariadb|config|post_processor_runner|application' batch/* csv_application.*
check store 'batch/|daemon/|csv_|config|post_processor_runner|application' store/* database.hpp database_impl*

# Include cycles among the program's own files: tsort reports any loop.
edges=$(for f in $(find . -name '*.hpp' -o -name '*.cpp' | sed 's|^\./||'); do
    grep -oE '^#include "[^"]+"' "$f" | sed -E 's/#include "(.*)"/\1/' | while read -r inc; do
        [ -f "$inc" ] && echo "${f%.*} ${inc%.*}"
    done
done | awk '$1 != $2')
if ! echo "$edges" | tsort >/dev/null 2>/tmp/check_layers.$$; then
    offend "include cycle: $(tr '\n' ' ' </tmp/check_layers.$$)"
fi
rm -f /tmp/check_layers.$$
exit $status
