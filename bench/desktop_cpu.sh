#!/usr/bin/env bash
# Desktop view benchmark: the gateway's CPU time with its window open and the
# log scrolling at the simulator's full rate, against the headless gateway on
# the same load.  The tick and the polls run as fast as the configuration
# allows (1 ms) and every log switch is on, so the line, not a timer, sets the
# pace.  Prints one line per mode: requests per second the exchange answered
# (the gateway keeps up when both modes reach the same figure), log lines per
# second, and the gateway's CPU use.
#   bench/desktop_cpu.sh BUILD_DIR [SECONDS]
set -euo pipefail
BUILD=${1:?usage: bench/desktop_cpu.sh BUILD_DIR [SECONDS]}
SECONDS_PER_RUN=${2:-${BENCH_SECONDS:-10}}
for program in vantor vantor-sim; do
  [ -x "$BUILD/$program" ] || { echo "bench: $BUILD/$program is missing; build it first" >&2; exit 1; }
done
command -v xvfb-run >/dev/null || { echo "bench: xvfb-run is missing (Debian xvfb)" >&2; exit 1; }

source "$(dirname "$0")/common.sh"
bench_work vantor-dbench
start_sim
DEV=$SIM_DEVICE

sim_requests() { sim_status requests; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# The process that runs vantor (xvfb-run starts it as a child of its own).
gateway_pid() {
  local parent=$1
  for _ in $(seq 50); do
    local pid
    pid=$(pgrep -n -x vantor -P "$parent" 2>/dev/null || true)
    [ -z "$pid" ] && pid=$(pgrep -n -x vantor 2>/dev/null | while read -r p; do
      grep -q "$WORK" "/proc/$p/cmdline" 2>/dev/null && echo "$p"; done | head -1)
    [ -n "$pid" ] && { echo "$pid"; return; }
    sleep 0.1
  done
}

HZ=$(getconf CLK_TCK)
bench_machine
echo "# date: $(date -u '+%Y-%m-%d %H:%M UTC'), ${SECONDS_PER_RUN} s per mode"
for mode in headless desktop; do
  HOME_DIR="$WORK/home-$mode"
  mkdir -p "$HOME_DIR"
  printf '[Set]\r\nLang=Eng\r\nPort=%s:19200,N,8,1\r\nIPPort=0\r\nReadUct=1\r\n[Log]\r\nCom_In=1\r\nCom_PureIn=1\r\nCom_Out=1\r\nCom_LocOut=1\r\nTCP/IP_In=1\r\nTCP/IP_Out=1\r\n[Timer]\r\nInterval=1\r\nANInterval=1\r\nSWInterval=1\r\nURInterval=1\r\nURIntervalBezDat=1\r\n' \
    "$DEV" > "$HOME_DIR/vantor.INI"
  if [ "$mode" = headless ]; then
    "$BUILD/vantor" --home "$HOME_DIR" --headless > "$WORK/$mode.log" 2>&1 &
    LAUNCHER=$!
    GW=$LAUNCHER
  else
    xvfb-run -a -s "-screen 0 1024x768x24" "$BUILD/vantor" --home "$HOME_DIR" \
      > "$WORK/$mode.log" 2>&1 &
    LAUNCHER=$!
    GW=$(gateway_pid "$LAUNCHER")
  fi
  PIDS+=($LAUNCHER)
  sleep 3 # start-up requests done, the log is full
  if [ -z "$GW" ] || ! kill -0 "$GW" 2>/dev/null; then
    echo "bench: the $mode gateway did not start; its output:" >&2
    tail -20 "$WORK/$mode.log" >&2
    exit 1
  fi
  r0=$(sim_requests); c0=$(cpu_ticks "$GW"); l0=$(wc -l < "$WORK/$mode.log")
  sleep "$SECONDS_PER_RUN"
  r1=$(sim_requests); c1=$(cpu_ticks "$GW"); l1=$(wc -l < "$WORK/$mode.log")
  kill -TERM "$GW" 2>/dev/null || true
  wait "$LAUNCHER" 2>/dev/null || true
  requests=$(( (r1 - r0) / SECONDS_PER_RUN ))
  cpu=$(awk -v d=$((c1 - c0)) -v hz="$HZ" -v s="$SECONDS_PER_RUN" 'BEGIN { printf "%.1f", 100 * d / hz / s }')
  # Each exchange request writes about three log lines (<LOC, >COM, <COM);
  # the headless gateway also prints them, which gives the measured figure.
  if [ "$mode" = headless ]; then
    lines="$(( (l1 - l0) / SECONDS_PER_RUN )) log lines/s (counted)"
  else
    lines="log lines/s as headless at the same request rate"
  fi
  printf '%-9s %6d requests/s   %s   CPU %5s %%\n' "$mode" "$requests" "$lines" "$cpu"
done
