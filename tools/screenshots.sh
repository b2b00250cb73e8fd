#!/usr/bin/env bash
# ./run screenshots: the gateway in its window against vantor-sim under a
# virtual X server, walked through docs/screenshots/tour.txt in Czech and in
# English; the pictures land in docs/screenshots/.
set -euo pipefail
BUILD=${1:?build directory}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${VANTOR_SCREENSHOT_DIR:-$ROOT/docs/screenshots}
TOUR=$ROOT/docs/screenshots/tour.txt
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantor-shots.XXXXXX")
# The port settings text must stay under 40 characters: a short link.
LINK="/tmp/vshot-$$"
SIM_PID=
cleanup() {
  [ -n "$SIM_PID" ] && kill -TERM "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  rm -rf "$WORK" "$LINK"
}
trap cleanup EXIT

"$BUILD/vantor-sim" --link "$LINK" --ports 8 --record-every 300 <&- >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 1 50); do grep -q '^READY' "$WORK/sim.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^READY' "$WORK/sim.out" || { echo "screenshots: the simulator did not start" >&2; exit 1; }

status=0
for lang in Cz Eng; do
  HOME_DIR="$WORK/home-$lang"
  # The mail settings name folders with Czech letters, so the directory
  # chooser shows how such names come through.
  MAIL_DIR="$HOME_DIR/Mail602"
  mkdir -p "$MAIL_DIR/pošta/Příchozí" "$MAIL_DIR/pošta/Odeslané" "$MAIL_DIR/archiv" "$MAIL_DIR/spool"
  # Every log switch on and quick polls: a busy log, as on a loaded exchange;
  # the mail and trap settings filled in.  The file is Windows-1250.
  printf '[Set]\r\nLang=%s\r\nPort=%s:19200,N,8,1\r\nIPPort=0\r\n[Log]\r\nCom_In=1\r\nCom_PureIn=1\r\nCom_Out=1\r\nCom_LocOut=1\r\nTCP/IP_In=1\r\nTCP/IP_Out=1\r\n[Timer]\r\nANInterval=300\r\nSWInterval=400\r\nURInterval=300\r\n[M602]\r\nCestaKeKonfiguraciMail602=%s/m602.ini\r\nCestaKPracovnimuAdresari=%s/pošta\r\nUzivatel=ústředna\r\nHeslo=x7Kp2mQ9\r\n[Trapy]\r\nAdresaPrijemce=dispecink@example.cz\r\nTypAdresyPrijemce=I\r\nSubject=Tarvo Vantor: stav spojení s ústřednou\r\n' \
    "$lang" "$LINK" "$MAIL_DIR" "$MAIL_DIR" | iconv -f UTF-8 -t CP1250 > "$HOME_DIR/vantor.INI"
  prefix=$(echo "$lang" | tr 'A-Z' 'a-z')-
  echo "screenshots: $lang"
  # A window manager draws the title bars, so the captions are in the pictures.
  xvfb-run -a -s "-screen 0 1024x768x24" sh -c 'openbox >/dev/null 2>&1 & sleep 1; exec "$@"' sh \
    "$BUILD/vantor-screenshots" --home "$HOME_DIR" --tour "$TOUR" --out "$OUT" --prefix "$prefix" \
    || status=1
done
ls -1 "$OUT"/*.png
exit $status
