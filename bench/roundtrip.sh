#!/usr/bin/env bash
# Median round trips of vantrel-poll and of mbpoll against vantrel-slave at 115200 baud,
# 50 runs each, each run a whole process of the tool: a read of 10 holding registers, and
# a write of one holding register (function 06).
set -euo pipefail
bin=${1:-build/bin}
polls=${POLLS:-50}
work=$(mktemp -d)
trap 'kill "$slave" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/vantrel-slave" -q -a 1 -b 115200 "$work/COM3" > "$work/ready" 2>/dev/null &
slave=$!
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.05; done

source "$(dirname "$0")/timing.sh"

ours=$(median_ms "$bin/vantrel-poll" -m rtu -a 1 -b 115200 -t 4 -r 1 -c 10 -1 -o 1 "$work/COM3")
theirs=$(median_ms mbpoll -m rtu -a 1 -b 115200 -P none -t 4 -r 1 -c 10 -1 -o 1 "$work/COM3")
report "round trip, 10 holding registers at 115200 baud" "$ours" "$theirs"

ours=$(median_ms "$bin/vantrel-poll" -m rtu -a 1 -b 115200 -t 4 -r 1 -o 1 "$work/COM3" 1234)
theirs=$(median_ms mbpoll -m rtu -a 1 -b 115200 -P none -t 4 -r 1 -o 1 "$work/COM3" 1234)
report "round trip, write of 1 holding register at 115200 baud" "$ours" "$theirs"
