# Whole-process timings for the round-trip benchmarks; sourced with $polls and $work set.

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
