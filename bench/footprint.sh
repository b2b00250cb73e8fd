#!/usr/bin/env bash
# Footprint benchmark (./run bench footprint): the gateway against vantor-sim
# headless, as the service and in its window (Qt's offscreen platform), each
# measured after its start-up: shared objects mapped, Qt libraries among
# them, resident memory.  Then how often a SIGTERM sent within the first
# milliseconds after the start ends the process by the signal instead of as
# an orderly close.
#   bench/footprint.sh BUILD_DIR [RUNS_PER_DELAY]
set -euo pipefail
BUILD=${1:?usage: bench/footprint.sh BUILD_DIR [RUNS_PER_DELAY]}
RUNS=${2:-200}
for program in vantor vantor-sim vantor-footprint; do
  [ -x "$BUILD/$program" ] || { echo "bench: $BUILD/$program is missing; build it first" >&2; exit 1; }
done
source "$(dirname "$0")/common.sh"
bench_work vantor-footprint
start_sim
printf '[Set]\r\nLang=Eng\r\nPort=%s:19200,N,8,1\r\nIPPort=0\r\n' "$SIM_DEVICE" > "$WORK/vantor.INI"
bench_machine
echo "# date: $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$BUILD/vantor-footprint" --gateway "$BUILD/vantor" --home "$WORK" headless service desktop
# Early stops on a port that opens nothing, so runs do not share the line.
printf '[Set]\r\nLang=Eng\r\nPort=/nonexistent/line:19200,N,8,1\r\nIPPort=0\r\n' > "$WORK/vantor.INI"
"$BUILD/vantor-footprint" --gateway "$BUILD/vantor" --home "$WORK" --early-stop "$RUNS"
