#!/usr/bin/env bash
# Median round trip of vantrel-poll and of mbpoll against vantrel-slave: 10 holding
# registers at 115200 baud, 50 polls each, each poll a whole run of the tool.
set -euo pipefail
bin=${1:-build/bin}
polls=${POLLS:-50}
work=$(mktemp -d)
trap 'kill "$slave" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/vantrel-slave" -q -a 1 -b 115200 "$work/COM3" > "$work/ready" 2>/dev/null &
slave=$!
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.05; done

median_ms() {  # command...: prints the median wall time of $polls runs, in ms
  local times=()
  for _ in $(seq "$polls"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.2f", m/1000}'
}

ours=$(median_ms "$bin/vantrel-poll" -m rtu -a 1 -b 115200 -t 4 -r 1 -c 10 -1 -o 1 "$work/COM3")
theirs=$(median_ms mbpoll -m rtu -a 1 -b 115200 -P none -t 4 -r 1 -c 10 -1 -o 1 "$work/COM3")
echo "round trip, 10 holding registers at 115200 baud, median of $polls runs:"
echo "  vantrel-poll  ${ours} ms"
echo "  mbpoll        ${theirs} ms"
awk -v a="$ours" -v b="$theirs" 'BEGIN {printf "  ratio vantrel-poll / mbpoll = %.2f\n", a / b}'
