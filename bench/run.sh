#!/usr/bin/env bash
# Benchmarks (./run bench): configuration reading, then the real gateway
# (headless) against vantor-sim on a pseudo-terminal, loaded by relay-bench.
#   bench/run.sh BUILD_DIR [--send-on-reply] [CLIENT_COUNTS...]
# Prints one line per run; see bench/README.md for how to read them.
#
#   --send-on-reply      write SendOnReply=1 into [Timer] of the gateway's
#                        configuration in every run (the reply-driven send);
#                        without it the line-speed runs try both settings
#   CLIENT_COUNTS        clients of the local-answer runs (default 1 10 100 1000)
# Environment:
#   BENCH_PARTS          which parts run (default "config local lone syscalls line idle")
#   BENCH_SECONDS        measurement of a local-answer run (default 5)
#   BENCH_LONE_ROUNDS    rounds of the lone client against the exchange alone (default 10)
#   BENCH_LONE_SECONDS   the lone client's relayed measurement in each round (default 2)
#   BENCH_SYSCALL_SECONDS  the lone client's run under strace (default 3)
#   BENCH_LINE_CLIENTS   clients of the line-speed runs (default "1 4 16 100")
#   BENCH_LINE_SECONDS   measurement of a line-speed run (default 10)
#   BENCH_BAUDS          line speeds (default "19200 115200")
#   BENCH_THINK_MS       the simulated exchange's time per request (default 2)
#   BENCH_LINE_KEYS      SendOnReply values of the line-speed runs (default "0 1")
#   BENCH_OWN_POLLS      line-speed runs without and with the gateway's own
#                        accounting poll sharing the line (default "off on")
#   BENCH_IDLE_SECONDS   the idle measurement (default 60)
set -euo pipefail
BUILD=${1:?usage: bench/run.sh BUILD_DIR [--send-on-reply] [CLIENT_COUNTS...]}
shift || true
SEND_ON_REPLY=0
COUNTS=()
for arg in "$@"; do
  case "$arg" in
    --send-on-reply) SEND_ON_REPLY=1 ;;
    *) COUNTS+=("$arg") ;;
  esac
done
[ ${#COUNTS[@]} -eq 0 ] && COUNTS=(1 10 100 1000)
PARTS=${BENCH_PARTS:-config local lone syscalls line idle}
SECONDS_PER_RUN=${BENCH_SECONDS:-5}
LINE_CLIENTS=${BENCH_LINE_CLIENTS:-1 4 16 100}
LINE_SECONDS=${BENCH_LINE_SECONDS:-10}
BAUDS=${BENCH_BAUDS:-19200 115200}
THINK_MS=${BENCH_THINK_MS:-2}
IDLE_SECONDS=${BENCH_IDLE_SECONDS:-60}
LONE_ROUNDS=${BENCH_LONE_ROUNDS:-10}
LONE_SECONDS=${BENCH_LONE_SECONDS:-2}
SYSCALL_SECONDS=${BENCH_SYSCALL_SECONDS:-3}
LINE_KEYS=${BENCH_LINE_KEYS:-0 1}
[ "$SEND_ON_REPLY" = 1 ] && LINE_KEYS=1
OWN_POLLS=${BENCH_OWN_POLLS:-off on}
part() { [[ " $PARTS " == *" $1 "* ]]; }

for program in vantor vantor-sim relay-bench; do
  if [ ! -x "$BUILD/$program" ]; then
    echo "bench: $BUILD/$program is missing; build it first (./run build)" >&2
    exit 1
  fi
done

source "$(dirname "$0")/common.sh"
bench_work vantor-bench

ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

bench_machine
echo "# date: $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# SendOnReply=$SEND_ON_REPLY (the line-speed runs: ${LINE_KEYS// /, then })"

if part config; then
  if [ -x "$BUILD/config-bench" ]; then
    "$BUILD/config-bench" --benchmark_format=console 2>/dev/null | sed -n '/^Benchmark/,$p'
  else
    echo "# config-bench was not built (Google Benchmark missing)"
  fi
fi

# The simulator's count of requests by kind ("A:3,C:1,...").
sim_kinds() { sim_status kinds; }
# The requests of each kind between two sim_kinds answers, the relayed kind first.
kinds_between() {
  awk -v a="$1" -v b="$2" 'BEGIN {
    n = split(a, pa, ","); for (i = 1; i <= n; i++) { split(pa[i], kv, ":"); before[kv[1]] = kv[2] }
    n = split(b, pb, ","); out = ""
    for (i = 1; i <= n; i++) {
      split(pb[i], kv, ":"); d = kv[2] - before[kv[1]]
      if (d != 0) out = out (out == "" ? "" : ",") kv[1] ":" d
    }
    print (out == "" ? "none" : out)
  }'
}

HOME_DIR="$WORK/home"
mkdir -p "$HOME_DIR"
cp "$BUILD"/TVantor.* "$HOME_DIR"/ 2>/dev/null || true

# A fresh gateway for every run, so that requests still queued from a
# heavier run do not slow the next one down, and the peak memory is the run's.
#   start_gateway DEVICE EXTRA_SET_LINES
GATEWAY=
KEY=$SEND_ON_REPLY
start_gateway() {
  local attempt
  for attempt in 1 2 3 4 5; do
    # Below the ephemeral range (32768 and up), where a thousand client
    # connections of the run before may still hold the port.
    PORT=$(( 20000 + RANDOM % 12000 ))
    {
      printf '[Set]\r\nLang=Eng\r\nPort=%s:19200,N,8,1\r\nIPPort=%s\r\n%b' "$1" "$PORT" "${2:-}"
      [ "$KEY" = 1 ] && printf '[Timer]\r\nSendOnReply=1\r\n'
      true
    } > "$HOME_DIR/vantor.INI"
    "$BUILD/vantor" --home "$HOME_DIR" --headless > "$WORK/gateway.log" 2>&1 &
    GATEWAY=$!
    PIDS+=($GATEWAY)
    # Ready when the listener accepts and the exchange link has started.
    for _ in $(seq 50); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then
        sleep 2
        if ! kill -0 "$GATEWAY" 2>/dev/null; then
          echo "bench: the gateway stopped; its log:" >&2
          tail -20 "$WORK/gateway.log" >&2
          exit 1
        fi
        return 0
      fi
      sleep 0.1
    done
    # Not listening (the port was taken): another port.
    stop_gateway
  done
  echo "bench: the gateway did not listen; its log:" >&2
  tail -20 "$WORK/gateway.log" >&2
  exit 1
}
stop_gateway() {
  kill "$GATEWAY" 2>/dev/null || true
  wait "$GATEWAY" 2>/dev/null || true
}

if part local; then
  # Baseline: the simulator's own round trip over the pseudo-terminal.
  start_sim
  echo "# exchange without the gateway: $("$BUILD/relay-bench" --direct "$SIM_DEVICE" --count 300)"
  stop_sim
  start_sim
  for mode in cache snapshot relay; do
    for n in "${COUNTS[@]}"; do
      start_gateway "$SIM_DEVICE" 'ReadUct=0\r\n'
      "$BUILD/relay-bench" --port "$PORT" --clients "$n" --mode "$mode" \
        --seconds "$SECONDS_PER_RUN" --gateway-pid "$GATEWAY"
      stop_gateway
    done
  done
  stop_sim
fi

# A field "name=value" of a relay-bench line, without its unit.
field() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p" <<<"$2"; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

if part lone; then
  # One client relaying through an idle gateway against the exchange's own
  # round trip, in turns: every round measures both, each on a simulator of
  # its own, so that both see the same moment of a shared machine.  The
  # medians of the rounds are the figures.
  start_sim
  DIRECT_DEVICE=$SIM_DEVICE DIRECT_IN=$SIM_IN DIRECT_PID=$SIM_PID
  start_sim
  start_gateway "$SIM_DEVICE" 'ReadUct=0\r\n'
  : > "$WORK/lone"
  for round in $(seq "$LONE_ROUNDS"); do
    direct=$("$BUILD/relay-bench" --direct "$DIRECT_DEVICE" --count 1000)
    relayed=$("$BUILD/relay-bench" --port "$PORT" --clients 1 --mode relay \
      --seconds "$LONE_SECONDS" --warmup 0.2 --gateway-pid "$GATEWAY")
    d=$(field p50 "$direct") r=$(field p50 "$relayed")
    echo "$d $r" >> "$WORK/lone"
    printf 'lone round=%d direct_p50=%sms relayed_p50=%sms added=%.3fms relayed_p99=%sms rate=%s/s gateway_cpu_per_request=%.0fus\n' \
      "$round" "$d" "$r" "$(awk -v a="$r" -v b="$d" 'BEGIN { print a - b }')" \
      "$(field p99 "$relayed")" "$(field rate "$relayed")" \
      "$(awk -v c="$(field gateway_cpu "$relayed")" -v n="$(field replies "$relayed")" 'BEGIN { print n ? c / n * 1e6 : 0 }')"
  done
  printf 'lone rounds=%d median direct_p50=%sms relayed_p50=%sms added=%sms\n' "$LONE_ROUNDS" \
    "$(cut -d' ' -f1 "$WORK/lone" | median)" "$(cut -d' ' -f2 "$WORK/lone" | median)" \
    "$(awk '{ printf "%.3f\n", $2 - $1 }' "$WORK/lone" | median)"
  # A slow wake-up of the virtual machine only ever adds, to either figure:
  # the best round of each is the one it did not slow.
  awk -v n="$LONE_ROUNDS" 'NR == 1 || $1 < d { d = $1 } NR == 1 || $2 < r { r = $2 }
    END { printf "lone rounds=%d best direct_p50=%.3fms relayed_p50=%.3fms added=%.3fms\n", n, d, r, r - d }' \
    "$WORK/lone"
  stop_gateway
  stop_sim
  SIM_IN=$DIRECT_IN SIM_PID=$DIRECT_PID stop_sim
fi

if part syscalls; then
  # The system calls of the gateway (loop and serial event thread together)
  # per relayed request of a lone client: strace -f -c attached for one run,
  # divided by the replies of that run; then one shorter run traced in full
  # for the split by thread.  Tracing slows every call down, not their number.
  if ! command -v strace >/dev/null; then
    echo "# syscalls: strace is missing"
  else
    start_sim
    start_gateway "$SIM_DEVICE" 'ReadUct=0\r\n'
    per_request() {
      "$BUILD/relay-bench" --port "$PORT" --clients 1 --mode relay --seconds "$1" --warmup 0 \
        --gateway-pid "$GATEWAY" > "$WORK/traced"
      kill -INT "$TRACER" 2>/dev/null || true
      wait "$TRACER" 2>/dev/null || true
      field replies "$(cat "$WORK/traced")"
    }
    strace -f -c -o "$WORK/summary" -p "$GATEWAY" 2>/dev/null &
    TRACER=$!
    sleep 1
    replies=$(per_request "$SYSCALL_SECONDS")
    if [ -s "$WORK/summary" ] && [ "${replies:-0}" -gt 0 ]; then
      # "kind per-request" pairs, most frequent first, those under 0.005 left out.
      kinds() { sort -k2 -g -r | awk '$2 >= 0.005 { printf " %s=%.2f", $1, $2 }'; }
      total=$(awk -v n="$replies" '$NF == "total" { printf "%.2f", $(NF - 2) / n }' "$WORK/summary")
      failing=$(awk -v n="$replies" '$NF == "total" { printf "%.2f", (NF == 6 ? $5 : 0) / n }' "$WORK/summary")
      echo "syscalls per relayed request (strace -f -c, $replies requests): $total, failing $failing;$(
        awk -v n="$replies" '$1 ~ /^[0-9.]+$/ && $NF != "total" { print $NF, $4 / n }' "$WORK/summary" | kinds)"
      strace -f -qq -o "$WORK/trace" -p "$GATEWAY" 2>/dev/null &
      TRACER=$!
      sleep 1
      replies=$(per_request 1)
      # The main thread runs the loop; the other one is the serial event thread.
      for who in loop serial; do
        awk -v n="$replies" -v pid="$GATEWAY" -v who="$who" '
          / resumed>/ || / \+\+\+ / || / --- / { next }
          (who == "loop") == ($1 == pid) { name = $2; sub(/\(.*/, "", name); count[name]++ }
          END { for (name in count) print name, count[name] / n }' "$WORK/trace" > "$WORK/kinds"
        echo "  $who thread ($replies requests traced in full): $(awk '{ t += $2 } END { printf "%.2f", t }' "$WORK/kinds");$(kinds < "$WORK/kinds")"
      done
    else
      echo "# syscalls: strace could not attach to the gateway (ptrace not permitted?)"
    fi
    stop_gateway
    stop_sim
  fi
fi

if part line; then
  # Relayed requests on a line with the speed of a real one: the waiting-queue
  # request 21, which the gateway forwards every time.
  # With own polls on, the accounting poll runs as in service (the simulator
  # always has a record waiting, so it asks every URInterval) beside the
  # trap poll; without them only the relayed requests use the line.
  for baud in $BAUDS; do
    start_sim --baud "$baud" --think "$THINK_MS"
    for KEY in $LINE_KEYS; do
      for own in $OWN_POLLS; do
        echo "# line: $baud baud, 8N1, the exchange thinks ${THINK_MS} ms per request; SendOnReply=$KEY; own accounting poll $own"
        for n in $LINE_CLIENTS; do
          if [ "$own" = on ]; then
            rm -f "$HOME_DIR"/DATA.*
            start_gateway "$SIM_DEVICE" 'ReadUct=1\r\n'
          else
            start_gateway "$SIM_DEVICE" 'ReadUct=0\r\n'
          fi
          before=$(sim_kinds)
          "$BUILD/relay-bench" --port "$PORT" --clients "$n" --mode relay \
            --seconds "$LINE_SECONDS" --timeout-ms 30000 --gateway-pid "$GATEWAY" \
            --line-baud "$baud" --think-ms "$THINK_MS"
          echo "#   exchange requests during that run (F relayed, the rest the gateway's own): $(kinds_between "$before" "$(sim_kinds)")"
          stop_gateway
        done
      done
    done
    KEY=$SEND_ON_REPLY
    stop_sim
  done
fi

if part idle; then
  # No client, the default timers (the accounting poll included, with no
  # record waiting), on a 19200 baud line.
  start_sim --baud 19200 --think "$THINK_MS" --records 0
  start_gateway "$SIM_DEVICE"
  "$BUILD/relay-bench" --idle "$IDLE_SECONDS" --gateway-pid "$GATEWAY"
  stop_gateway
  stop_sim
fi
