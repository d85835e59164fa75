#!/usr/bin/env bash
# vantrel-slave over TCP while one client floods it, in both TCP modes: how long another
# client (vantrel-poll, a whole process, reading one register) waits during a 16 MB flood
# of requests on one connection, how long the flood takes to be taken in, the simulator's
# peak memory, what 16 MB of RTU garbage (function 07, whose end waits for a silence) do,
# and how soon SIGTERM ends it during a flood.
# Usage: bench/slave_flood.sh [BIN_DIR [SLAVE]]   SLAVE: another vantrel-slave binary to measure
set -uo pipefail
bin=${1:-build/bin}
slave=${2:-$bin/vantrel-slave}
size=$((${FLOOD_MB:-16} * 1024 * 1024))
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# FILE HEX: FILE holds the bytes written as HEX again and again, $size bytes at least.
repeated() {
  printf "$(sed 's/ /\\x/g; s/^/\\x/' <<<"$2")" >"$1"
  while [ "$(stat -c %s "$1")" -lt "$size" ]; do
    cat "$1" "$1" >"$1.2" && mv "$1.2" "$1"
  done
}

# OPTION: starts the simulator in that mode; sets pid and port.
start() {
  "$slave" -q -a 1 "$1" 0 >"$work/out" 2>"$work/log" &
  pid=$!
  disown "$pid"
  for _ in $(seq 200); do grep -q ' (at most' "$work/out" 2>/dev/null && break; sleep 0.02; done
  port=$(sed -n 's/.*:\([0-9]*\) (at most.*/\1/p' "$work/out")
}

# MODE: the other client's waits, in ms, one line each (10 polls, or as many as the flood
# lasts for); "no answer" when it got none in 5 s.
other_client() {
  for _ in $(seq 10); do
    local t0
    t0=$(now_ms)
    if "$bin/vantrel-poll" -m "$1" -a 1 -t 4 -r 1 -c 1 -o 5 "127.0.0.1:$port" >/dev/null 2>&1; then
      echo $(($(now_ms) - t0))
    else
      echo "no answer"
    fi
    kill -0 "$writer" 2>/dev/null || break
  done
}

peak_mb() { awk '/VmHWM/ {printf "%.1f", $2 / 1024}' "/proc/$pid/status" 2>/dev/null; }

# Sends SIGTERM and prints how soon the simulator has ended (it is killed after 10 s).
stop_ms() {
  local t0
  t0=$(now_ms)
  kill -TERM "$pid"
  for _ in $(seq 1000); do kill -0 "$pid" 2>/dev/null || break; sleep 0.01; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid"
    echo "none in 10 s (killed)"
  else
    echo "$(($(now_ms) - t0)) ms"
  fi
  pid=
}

# OPTION POLL_MODE FILE: one connection sends FILE as fast as it is taken, reading the replies.
flood() {
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  cat <&3 >/dev/null 2>&1 &
  local reader=$!
  local t0
  t0=$(now_ms)
  cat "$3" >&3 2>/dev/null &
  writer=$!
  sleep 0.2
  local waits
  waits=$(other_client "$2" | tr '\n' ' ')
  echo "  other client's waits (ms):  $waits"
  local still=no
  kill -0 "$writer" 2>/dev/null && still=yes
  echo "  flood still on after them:  $still"
  for _ in $(seq 1200); do kill -0 "$writer" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$writer" 2>/dev/null; then
    echo "  16 MB taken in:             more than 60 s"
  else
    echo "  16 MB taken in:             $(($(now_ms) - t0)) ms (or cut off)"
  fi
  echo "  peak memory:                $(peak_mb) MB"
  local cut=no
  grep -q 'bytes that hold no whole request: disconnected' "$work/log" && cut=yes
  echo "  flooder cut off:            $cut"
  # SIGTERM while a second flood is on
  cat "$3" >&3 2>/dev/null &
  writer=$!
  sleep 0.2
  echo "  SIGTERM during a flood:     $(stop_ms)"
  exec 3>&-
  kill "$writer" "$reader" 2>/dev/null
  wait "$writer" "$reader" 2>/dev/null
}

repeated "$work/tcp" "00 01 00 00 00 06 01 03 00 00 00 01"
repeated "$work/rtu" "01 03 00 00 00 01 84 0A"
repeated "$work/garbage" "01 07"

echo "$slave"
echo "Modbus TCP, 16 MB of requests on one connection:"
start --tcp && flood --tcp tcp "$work/tcp"
echo "RTU over TCP, 16 MB of requests on one connection:"
start --rtu-over-tcp && flood --rtu-over-tcp rtutcp "$work/rtu"
echo "RTU over TCP, 16 MB of function 07 garbage on one connection:"
start --rtu-over-tcp && flood --rtu-over-tcp rtutcp "$work/garbage"
