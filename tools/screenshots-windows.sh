#!/usr/bin/env bash
# ./run screenshots-windows: the gateway in its native Windows view under
# Wine on a virtual X server, against the Linux build's vantor-sim on a COM
# port of a fresh Wine prefix, walked through docs/screenshots/tour.txt in
# Czech and in English; the pictures land in docs/screenshots/ as
# win-cz-*.png and win-eng-*.png.
#
#   tools/screenshots-windows.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
if [ -z "${VANTOR_ON_XVFB:-}" ]; then
  exec env VANTOR_ON_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
LINUX_BUILD=$(cd "${1:?Linux build directory}" && pwd)
WINDOWS_BUILD=$(cd "${2:?Windows build directory}" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${VANTOR_SCREENSHOT_DIR:-$ROOT/docs/screenshots}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantor-winshots.XXXXXX")
SIM_PID=
. "$ROOT/tools/wine-prefix.sh"
cleanup() {
  [ -n "$SIM_PID" ] && kill -TERM "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

make_wine_prefix
COM=com5
"$LINUX_BUILD/vantor-sim" --link "$WINEPREFIX/dosdevices/$COM" --ports 8 --record-every 300 <&- \
  >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 1 50); do grep -q '^READY' "$WORK/sim.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^READY' "$WORK/sim.out" || { echo "screenshots: the simulator did not start" >&2; exit 1; }

# The program, its language files and help pages side by side, as installed.
PROGRAM="$WORK/program"
mkdir -p "$PROGRAM"
cp "$WINDOWS_BUILD/vantor-screenshots.exe" "$WINDOWS_BUILD"/TVantor.* "$WINDOWS_BUILD"/VANTOR.*.html \
  "$PROGRAM/"
mkdir -p "$OUT"
status=0
for lang in ${VANTOR_SCREENSHOT_LANGUAGES:-Cz Eng}; do
  HOME_DIR="$WORK/home-$lang"
  # The mail settings name folders with Czech letters, so the directory
  # chooser shows how such names come through.
  MAIL_DIR="$HOME_DIR/Mail602"
  mkdir -p "$MAIL_DIR/pošta/Příchozí" "$MAIL_DIR/pošta/Odeslané" "$MAIL_DIR/archiv" "$MAIL_DIR/spool"
  WIN_MAIL=$(winepath -w "$MAIL_DIR")
  # Every log switch on and quick polls: a busy log, as on a loaded exchange;
  # the mail and trap settings filled in.  The file is Windows-1250.
  printf '[Set]\r\nLang=%s\r\nPort=%s:19200,N,8,1\r\nIPPort=0\r\n[Log]\r\nCom_In=1\r\nCom_PureIn=1\r\nCom_Out=1\r\nCom_LocOut=1\r\nTCP/IP_In=1\r\nTCP/IP_Out=1\r\n[Timer]\r\nANInterval=300\r\nSWInterval=400\r\nURInterval=300\r\n[M602]\r\nCestaKeKonfiguraciMail602=%s\\m602.ini\r\nCestaKPracovnimuAdresari=%s\\pošta\r\nUzivatel=ústředna\r\nHeslo=x7Kp2mQ9\r\n[Trapy]\r\nAdresaPrijemce=dispecink@example.cz\r\nTypAdresyPrijemce=I\r\nSubject=Tarvo Vantor: stav spojení s ústřednou\r\n' \
    "$lang" "${COM^^}" "$WIN_MAIL" "$WIN_MAIL" | iconv -f UTF-8 -t CP1250 > "$HOME_DIR/vantor.INI"
  prefix=win-$(echo "$lang" | tr 'A-Z' 'a-z')-
  echo "screenshots-windows: $lang"
  wine "$PROGRAM/vantor-screenshots.exe" --home "$(winepath -w "$HOME_DIR")" \
    --tour "$(winepath -w "$ROOT/docs/screenshots/tour.txt")" --out "$(winepath -w "$OUT")" \
    --prefix "$prefix" || status=1
done
ls -1 "$OUT"/win-*.png
exit $status
