#!/usr/bin/env bash
# Several definitions sharing one line against one polled back to back: vantrel-slave at
# 115200 baud on a pseudo-terminal, 10 holding registers a poll. Prints the polls a second
# of one definition with `vantrel-poll -l 1`, then of a workspace of ten such definitions
# with `vantrel-poll --workspace -l MS`, each due every MS: their total against what the
# line carries (the back-to-back rate, or the rate asked when that is less), and how far
# apart their counts are. Each run takes $RUN_SECONDS (default 5); the rates come from the
# reply times that the timed CSV carries, so start-up is not counted.
set -euo pipefail
bin=${1:-build/bin}
seconds=${RUN_SECONDS:-5}
work=$(mktemp -d)
trap 'kill "$slave" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/vantrel-slave" -q -a 1 -b 115200 "$work/COM3" > "$work/ready" 2>/dev/null &
slave=$!
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.05; done

# Runs the poller for $seconds with a timed CSV; Ctrl+C ends it, as a user would.
run() {
  timeout -s INT "$seconds" "$bin/vantrel-poll" "$@" --csv > "$work/out" 2>"$work/err" || true
  if ! grep -q ',' "$work/out"; then
    echo "vantrel-poll $* printed nothing:" >&2
    cat "$work/err" >&2
    exit 1
  fi
}

# The rows of the timed CSV in $work/out: "polls a second" over the span from the first
# reply to the last, and per definition (the column before the time, "-" for none) its
# count. The time is the column that looks like 2026-12-08T14:03:07.250.
rates() {
  awk -F, '
    function seconds(t,  hms) { split(substr(t, 12), hms, ":"); return hms[1] * 3600 + hms[2] * 60 + hms[3] }
    /^(poll,)?time,/ { next }
    {
      col = ($1 ~ /^[0-9][0-9][0-9][0-9]-/) ? 1 : 2
      t = seconds($col)
      if (n == 0 || t < first) first = t
      if (n == 0 || t > last) last = t
      n++
      name = (col == 1) ? "-" : $1
      count[name]++
    }
    END {
      span = last - first
      if (span < 0) span += 86400
      lo = -1; hi = 0
      for (name in count) {
        if (lo < 0 || count[name] < lo) lo = count[name]
        if (count[name] > hi) hi = count[name]
      }
      printf "%.1f %d %d %d\n", (n - 1) / span, length(count), lo, hi
    }' "$work/out"
}

# The back-to-back rate before and after the workspace runs: the mean of the two, so that
# a machine that gets busier or quieter meanwhile weighs on both sides alike.
back_to_back() {
  run -a 1 -b 115200 -t 4 -r 1 -c 10 -l 1 "$work/COM3"
  rates | cut -d' ' -f1
}

{
  printf '{"format": "vantrel-workspace", "version": 1,\n'
  printf ' "connection": {"device": "%s", "baud": 115200, "timeout_ms": 1000},\n' "$work/COM3"
  printf ' "polls": ['
  for i in $(seq 10); do
    [ "$i" -gt 1 ] && printf ','
    printf '\n  {"name": "Block %d", "slave_id": 1, "function": 3, "offset": 1, "length": 10, "period_ms": 0}' "$i"
  done
  printf ']}\n'
} > "$work/ten.vantrel.json"

before=$(back_to_back)
results=()
for period in 50 20; do
  run --workspace "$work/ten.vantrel.json" -l "$period"
  results+=("$period $(rates)")
done
after=$(back_to_back)
single=$(awk -v a="$before" -v b="$after" 'BEGIN {printf "%.1f", (a + b) / 2}')
echo "one definition polled back to back (vantrel-poll -l 1): $single polls/s ($before before, $after after)"
for result in "${results[@]}"; do
  read -r period total definitions lo hi <<<"$result"
  awk -v total="$total" -v single="$single" -v period="$period" -v n="$definitions" -v lo="$lo" -v hi="$hi" 'BEGIN {
    asked = n * 1000 / period
    carried = asked < single ? asked : single
    spread = 100 * (hi - lo) / hi
    printf "ten definitions due every %d ms (%d polls/s asked, the line carries %s): %.1f polls/s\n", period, asked,
           asked < single ? "all of it" : "less", total
    printf "  %.2f of what the line carries (target at least 0.90), %.2f of back to back\n", total / carried,
           total / single
    printf "  counts per definition %d to %d: %.1f %% apart (target at most 10 %%)\n", lo, hi, spread
  }'
done
