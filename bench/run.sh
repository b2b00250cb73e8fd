#!/usr/bin/env bash
# Relay benchmark: the real gateway (headless) against vantor-sim on a
# pseudo-terminal, loaded by relay-bench with 1, 10, 100 and 1000 clients.
#   bench/run.sh BUILD_DIR [CLIENT_COUNTS...]
# Prints one line per run; see bench/README.md for how to read them.
set -euo pipefail
BUILD=${1:?usage: bench/run.sh BUILD_DIR [CLIENT_COUNTS...]}
shift || true
COUNTS=("$@")
[ ${#COUNTS[@]} -eq 0 ] && COUNTS=(1 10 100 1000)
SECONDS_PER_RUN=${BENCH_SECONDS:-5}

for program in vantor vantor-sim relay-bench; do
  if [ ! -x "$BUILD/$program" ]; then
    echo "bench: $BUILD/$program is missing; build it first (./run build)" >&2
    exit 1
  fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantor-bench.XXXXXX")
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

# Starts a simulator with its stdin held open and sets SIM_DEVICE.  (Not run
# in a command substitution: the subshell would keep the process ids.)
start_sim() {
  local name=$1 fd
  mkfifo "$WORK/$name.in"
  "$BUILD/vantor-sim" --message-every 0 < "$WORK/$name.in" > "$WORK/$name.out" 2>"$WORK/$name.err" &
  PIDS+=($!)
  exec {fd}> "$WORK/$name.in"   # keeps the simulator's stdin open
  for _ in $(seq 100); do
    if grep -q '^READY ' "$WORK/$name.out" 2>/dev/null; then
      SIM_DEVICE=$(sed -n 's/^READY //p' "$WORK/$name.out" | head -1)
      return 0
    fi
    sleep 0.1
  done
  echo "bench: vantor-sim did not get ready" >&2
  exit 1
}

echo "# machine: $(uname -srm), $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "# date: $(date -u '+%Y-%m-%d %H:%M UTC')"

# Baseline: the simulator's own round trip over the pseudo-terminal.
start_sim direct
DIRECT_DEV=$SIM_DEVICE
echo "# exchange without the gateway: $("$BUILD/relay-bench" --direct "$DIRECT_DEV" --count 300)"

start_sim exchange
DEV=$SIM_DEVICE
HOME_DIR="$WORK/home"
mkdir -p "$HOME_DIR"
cp "$BUILD"/TVantor.* "$HOME_DIR"/ 2>/dev/null || true

# A fresh gateway for every run, so that requests still queued from a
# heavier run do not slow the next one down, and the peak memory is the run's.
GATEWAY=
start_gateway() {
  PORT=$(( 20000 + RANDOM % 20000 ))
  printf '[Set]\r\nLang=Eng\r\nPort=%s:19200,N,8,1\r\nIPPort=%s\r\nReadUct=0\r\n' "$DEV" "$PORT" \
    > "$HOME_DIR/vantor.INI"
  "$BUILD/vantor" --home "$HOME_DIR" --headless > "$WORK/gateway.log" 2>&1 &
  GATEWAY=$!
  PIDS+=($GATEWAY)
  # Ready when the listener accepts and the exchange link has started.
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then break; fi
    sleep 0.1
  done
  sleep 2
  if ! kill -0 "$GATEWAY" 2>/dev/null; then
    echo "bench: the gateway stopped; its log:" >&2
    tail -20 "$WORK/gateway.log" >&2
    exit 1
  fi
}
stop_gateway() {
  kill "$GATEWAY" 2>/dev/null || true
  wait "$GATEWAY" 2>/dev/null || true
}

for mode in cache snapshot relay; do
  for n in "${COUNTS[@]}"; do
    start_gateway
    "$BUILD/relay-bench" --port "$PORT" --clients "$n" --mode "$mode" \
      --seconds "$SECONDS_PER_RUN" --gateway-pid "$GATEWAY"
    stop_gateway
  done
done
