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

# COMMAND...: prints the median wall time of $polls runs, in ms; each run must succeed.
median_ms() {
  local times=()
  for _ in $(seq "$polls"); do
    local t0 t1 status=0
    t0=$(date +%s%N)
    "$@" > "$work/out" 2>&1 || status=$?
    t1=$(date +%s%N)
    if [ "$status" -ne 0 ]; then
      echo "failed ($status): $*" >&2
      cat "$work/out" >&2
      exit 1
    fi
    times+=($(( (t1 - t0) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.2f", m/1000}'
}

report() {  # title ours theirs
  echo "$1, median of $polls runs:"
  echo "  vantrel-poll  $2 ms"
  echo "  mbpoll        $3 ms"
  awk -v a="$2" -v b="$3" 'BEGIN {printf "  ratio vantrel-poll / mbpoll = %.2f\n", a / b}'
}

ours=$(median_ms "$bin/vantrel-poll" -m rtu -a 1 -b 115200 -t 4 -r 1 -c 10 -1 -o 1 "$work/COM3")
theirs=$(median_ms mbpoll -m rtu -a 1 -b 115200 -P none -t 4 -r 1 -c 10 -1 -o 1 "$work/COM3")
report "round trip, 10 holding registers at 115200 baud" "$ours" "$theirs"

ours=$(median_ms "$bin/vantrel-poll" -m rtu -a 1 -b 115200 -t 4 -r 1 -o 1 "$work/COM3" 1234)
theirs=$(median_ms mbpoll -m rtu -a 1 -b 115200 -P none -t 4 -r 1 -o 1 "$work/COM3" 1234)
report "round trip, write of 1 holding register at 115200 baud" "$ours" "$theirs"
