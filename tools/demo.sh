#!/usr/bin/env bash
# ./run demo: the gateway against the built-in exchange simulator.
# vantor-sim plays the exchange on a pseudo-terminal; the gateway runs in
# demo-home/ (its configuration points the serial port at the simulator's
# device): in its window when a display is there, headless with its traffic
# log on the terminal otherwise.  Closing the window or Ctrl-C stops both.
set -euo pipefail
BUILD=${1:?build directory}
shift || true
ROOT=$(cd "$(dirname "$0")/.." && pwd)
HOME_DIR=${VANTOR_DEMO_HOME:-$ROOT/demo-home}
mkdir -p "$HOME_DIR"
# The port settings text must stay under 40 characters, so the simulator's
# line is linked at a short path of its own.
LINK="/tmp/vantor-demo-$(id -u)"

SIM_OUT=$(mktemp)
"$BUILD/vantor-sim" --link "$LINK" --ports 8 --record-every 2000 --log "$HOME_DIR/sim.log" \
    <&- >"$SIM_OUT" 2>&1 &
SIM_PID=$!
cleanup() {
  [ -n "${GW_PID:-}" ] && kill -TERM "$GW_PID" 2>/dev/null && wait "$GW_PID" 2>/dev/null || true
  kill -TERM "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  rm -f "$SIM_OUT"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

for _ in $(seq 1 50); do
  grep -q '^READY' "$SIM_OUT" 2>/dev/null && break
  sleep 0.1
done
if ! grep -q '^READY' "$SIM_OUT"; then
  echo "demo: the simulator did not start:" >&2
  cat "$SIM_OUT" >&2
  exit 1
fi

# A configuration of its own for the demo (written once, then kept so that
# changes made while trying the gateway stay).
INI="$HOME_DIR/vantor.INI"
if [ ! -f "$INI" ] || ! grep -q "^Port=$LINK:" "$INI"; then
  printf '[Set]\r\nPort=%s:19200,N,8,1\r\nIPPort=%s\r\nSendUct=1\r\nUctFile=DATA.NEW\r\n[Log]\r\nCom_In=1\r\nTCP/IP_In=1\r\nTCP/IP_Out=1\r\n' \
    "$LINK" "${VANTOR_DEMO_PORT:-1234}" > "$INI"
fi

echo "demo: exchange simulator on $(sed -n 's/^READY //p' "$SIM_OUT") (linked at $LINK)"
echo "demo: gateway home $HOME_DIR, TCP port ${VANTOR_DEMO_PORT:-1234}; try:"
echo "      $BUILD/vantor-client 127.0.0.1:${VANTOR_DEMO_PORT:-1234} 00 16 00"
MODE=(--headless)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$BUILD/vantor" ] && [ -z "${VANTOR_DEMO_HEADLESS:-}" ]; then
  # The gateway checks the display itself and falls back to headless (and
  # says so) when it cannot be reached.
  MODE=()
  echo "demo: the gateway's window opens on ${WAYLAND_DISPLAY:-$DISPLAY}; closing it stops the demo"
fi
echo "demo: Ctrl-C stops both"
"$BUILD/vantor" --home "$HOME_DIR" "${MODE[@]}" "$@" &
GW_PID=$!
wait "$GW_PID"
