#!/usr/bin/env bash
# Median round trips of vantrel-poll and of mbpoll over Modbus TCP against the same
# libmodbus TCP server on 127.0.0.1, 50 runs each, each run a whole process of the tool
# (connect, read 10 holding registers, close).
set -euo pipefail
bin=${1:-build/bin}
polls=${POLLS:-50}
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/vantrel-libmodbus-server" > "$work/ready" 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.05; done
port=$(sed -n 's/^Listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/ready")
[ -n "$port" ] || { cat "$work/ready" >&2; exit 1; }

source "$(dirname "$0")/timing.sh"

ours=$(median_ms "$bin/vantrel-poll" -m tcp -a 1 -t 4 -r 1 -c 10 -1 -o 1 "127.0.0.1:$port")
theirs=$(median_ms mbpoll -m tcp -a 1 -p "$port" -t 4 -r 1 -c 10 -1 -o 1 127.0.0.1)
report "Modbus TCP round trip, 10 holding registers from libmodbus's server" "$ours" "$theirs"
