# Shared by the benchmark scripts (sourced, not run): a work folder removed at
# exit together with every process recorded in PIDS, the machine header, and
# the simulator with its stdin held open.

# bench_work PREFIX: sets WORK and PIDS and cleans both up at exit.
bench_work() {
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  PIDS=()
  trap bench_cleanup EXIT
}
bench_cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}

bench_machine() {
  echo "# machine: $(uname -srm), $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
}

# start_sim [SIM OPTIONS...]: starts a simulator with its stdin held open
# (SIM_IN, a descriptor) and sets SIM_DEVICE, SIM_OUT and SIM_PID.  (Not run
# in a command substitution: the subshell would keep the process ids.)
SIM_COUNT=0
start_sim() {
  SIM_COUNT=$((SIM_COUNT + 1))
  local name=sim$SIM_COUNT
  mkfifo "$WORK/$name.in"
  "$BUILD/vantor-sim" --message-every 0 "$@" < "$WORK/$name.in" > "$WORK/$name.out" 2>"$WORK/$name.err" &
  SIM_PID=$!
  PIDS+=("$SIM_PID")
  exec {SIM_IN}> "$WORK/$name.in"   # keeps the simulator's stdin open
  SIM_OUT="$WORK/$name.out"
  for _ in $(seq 100); do
    if grep -q '^READY ' "$SIM_OUT" 2>/dev/null; then
      SIM_DEVICE=$(sed -n 's/^READY //p' "$SIM_OUT" | head -1)
      return 0
    fi
    sleep 0.1
  done
  echo "bench: vantor-sim did not get ready" >&2
  exit 1
}
stop_sim() {
  echo quit >&"$SIM_IN" 2>/dev/null || true
  exec {SIM_IN}>&-
  wait "$SIM_PID" 2>/dev/null || true
}
# sim_status FIELD: asks the simulator for its status and prints one field
# of the answer ("kinds" gives "A:3,C:1,...", "requests" a count).
sim_status() {
  local before
  before=$(grep -c '^STATUS' "$SIM_OUT" || true)
  echo status >&"$SIM_IN"
  for _ in $(seq 50); do
    [ "$(grep -c '^STATUS' "$SIM_OUT" || true)" -gt "$before" ] && break
    sleep 0.05
  done
  grep '^STATUS' "$SIM_OUT" | tail -1 | sed -n "s/.* $1=\([^ ]*\).*/\1/p"
}
