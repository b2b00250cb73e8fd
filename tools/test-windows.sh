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
# against simulators of its own on COM8, with the Linux vantor-client.  Its
# starts have no display (Wine then makes no window, and the gateway runs
# headless, its log on standard output) unless a test gives the one kept in
# VANTOR_TEST_DISPLAY.
echo "test-windows: vantor.exe under Wine" >&2
VANTOR_WINDOWS_BUILD="$WINDOWS_BUILD" VANTOR_TEST_DISPLAY="$DISPLAY" \
  timeout 600 env -u DISPLAY "$LINUX_BUILD/test_wine" || status=$?

# The installer, silent (/S) both ways, in the same prefix: the files land,
# a configuration already there is kept, and the uninstaller removes the
# service and the programs but leaves the site's data.
installer() {
  local setup program data fail=0
  setup=$(ls "$WINDOWS_BUILD"/TarvoVantor-Setup-*.exe)
  program="$WINEPREFIX/drive_c/Program Files/Tarvo Vantor"
  data="$WINEPREFIX/drive_c/ProgramData/TarvoVantor"
  check() { [ "$@" ] || { echo "installer: FAILED: [ $* ]" >&2; fail=1; }; }
  mkdir -p "$data"
  printf '[Set]\r\nLang=Cz\r\n' >"$data/vantor.INI"
  printf 'record\r\n' >"$data/DATA.NEW"
  wine "$setup" /S || { echo "installer: the setup failed" >&2; return 1; }
  for f in "$program/vantor.exe" "$program/vantor-client.exe" "$program/uninstall.exe" \
           "$data"/TVantor.{Cz,De,Eng,Spa} "$data"/VANTOR.{Cz,Eng}.html "$data/vantor.INI.sample" \
           "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarvo Vantor/Tarvo Vantor.lnk"; do
    check -f "$f"
  done
  check "$(cat "$data/vantor.INI")" = "$(printf '[Set]\r\nLang=Cz\r')"
  # A first installation gets the commented sample.
  mv "$data/vantor.INI" "$data/site.INI"
  wine "$setup" /S
  check "$(grep -c '^;' "$data/vantor.INI")" -gt 50
  mv "$data/site.INI" "$data/vantor.INI"

  wine sc create TarvoVantor binPath= "\"C:\\Program Files\\Tarvo Vantor\\vantor.exe\" /service" >/dev/null
  # The uninstaller runs on from a copy of itself: done when its files are gone.
  wine "$program/uninstall.exe" /S
  for _ in $(seq 120); do [ -e "$program/uninstall.exe" ] || break; sleep 0.5; done
  sleep 1
  check ! -e "$program"
  check ! -e "$data/TVantor.Cz"
  check -f "$data/DATA.NEW"
  check "$(cat "$data/vantor.INI")" = "$(printf '[Set]\r\nLang=Cz\r')"
  if wine sc query TarvoVantor >/dev/null 2>&1; then echo "installer: FAILED: the service is still there" >&2; fail=1; fi
  [ $fail = 0 ] && echo "test-windows: installer passed" >&2
  return $fail
}
echo "test-windows: the installer under Wine" >&2
installer || status=1
echo "test-windows: $(( $(date +%s) - started )) s in all" >&2
exit $status
