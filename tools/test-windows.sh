#!/usr/bin/env bash
# ./run test-windows: the Windows build's tests under Wine.
#
#   tools/test-windows.sh LINUX_BUILD WINDOWS_BUILD [ctest arguments]
#
# Each run has a Wine prefix of its own, made fresh (wine wineboot -i) and
# ended with wineserver -k.  The Linux build's vantor-sim plays the exchange
# on a pseudo-terminal that the prefix knows as COM7 (a link in dosdevices/);
# it reads its commands from a pipe the Win32 tests write to, and a simulator
# that quits (a test's lost device) is started again on the same link.  Then
# the Linux build's test_wine runs vantor.exe itself in the same prefix.
# Everything runs on a virtual X server of its own (xvfb-run), where the
# desktop view's tests open their windows.
set -euo pipefail
if [ -z "${VANTOR_ON_XVFB:-}" ]; then
  exec env VANTOR_ON_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
LINUX_BUILD=$(cd "${1:?Linux build directory}" && pwd)
WINDOWS_BUILD=$(cd "${2:?Windows build directory}" && pwd)
shift 2
ROOT=$(cd "$(dirname "$0")/.." && pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantor-wine.XXXXXX")
. "$ROOT/tools/wine-prefix.sh"
SUPERVISOR_PID=""

finish() {
  set +e
  touch "$WORK/stop"
  [ -n "$SUPERVISOR_PID" ] && { echo quit >&3; wait "$SUPERVISOR_PID"; } 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$WORK"
}
trap finish EXIT

started=$(date +%s)
make_wine_prefix || exit 1
echo "test-windows: Wine prefix ready in $(( $(date +%s) - started )) s" >&2

COM=com7
CONTROL="$WORK/sim-control"
mkfifo "$CONTROL"
exec 3<>"$CONTROL"
(
  while [ ! -e "$WORK/stop" ]; do
    "$LINUX_BUILD/vantor-sim" --link "$WINEPREFIX/dosdevices/$COM" <&3 >>"$WORK/sim.log" 2>&1 || true
  done
) &
SUPERVISOR_PID=$!
for _ in $(seq 100); do [ -L "$WINEPREFIX/dosdevices/$COM" ] && break; sleep 0.05; done
[ -L "$WINEPREFIX/dosdevices/$COM" ] || { echo "test-windows: the simulator did not start" >&2; cat "$WORK/sim.log" >&2; exit 1; }

export VANTOR_TEST_COM_PORT=${COM^^}
VANTOR_TEST_SIM_CONTROL=$(winepath -w "$CONTROL")
export VANTOR_TEST_SIM_CONTROL

cd "$WINDOWS_BUILD"
status=0
ctest --output-on-failure --timeout 600 "$@" || status=$?
# vantor.exe end to end: a Linux test program that starts it under Wine
# against simulators of its own on COM8, with the Linux vantor-client.
echo "test-windows: vantor.exe under Wine" >&2
VANTOR_WINDOWS_BUILD="$WINDOWS_BUILD" timeout 600 "$LINUX_BUILD/test_wine" || status=$?
echo "test-windows: $(( $(date +%s) - started )) s in all" >&2
exit $status
