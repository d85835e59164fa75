#!/usr/bin/env bash
# The time a scan of slave ids 1 to 247 takes against its physical limit: every id gets its
# request's wire time and the time-out, and the devices present their replies' wire time:
#   247 x (8 bytes x 10 bits / baud + time-out) + 3 x (7 bytes x 10 bits / baud)
# vantrel-slave answers ids 3, 17 and 200 on a pseudo-terminal, paced at the baud rate.
# Usage: bench/scan.sh BIN_DIR
set -euo pipefail
bin=$(cd "${1:-build/bin}" && pwd)
work=$(mktemp -d)
trap 'kill "$slave" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

scan() {  # baud time-out-in-seconds
  "$bin/vantrel-slave" -a 3,17,200 -b "$1" -q ./COM3 >/dev/null 2>&1 &
  slave=$!
  for _ in $(seq 100); do [ -e COM3 ] && break; sleep 0.05; done
  local t0 t1
  t0=$(date +%s%N)
  "$bin/vantrel-poll" --scan 1-247 --no-identify -b "$1" -o "$2" COM3 > found.txt 2> summary.txt
  t1=$(date +%s%N)
  kill "$slave"
  wait "$slave" 2>/dev/null || true
  rm -f COM3
  local found
  found=$(wc -l < found.txt)
  awk -v baud="$1" -v timeout="$2" -v ns=$((t1 - t0)) -v found="$found" 'BEGIN {
    limit = 247 * (80 / baud + timeout) + 3 * 70 / baud
    took = ns / 1e9
    printf "  %d baud, %d ms time-out: %d devices found in %.3f s; physical limit %.3f s; %.1f %% over it (target 10 %%)\n",
           baud, timeout * 1000, found, took, limit, 100 * (took / limit - 1)
  }'
}

echo "Scan of slave ids 1 to 247, 3 devices present, whole process:"
scan 115200 0.02
scan 9600 0.1
