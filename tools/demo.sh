#!/usr/bin/env bash
# ./run demo: the gateway against the built-in exchange simulator.
# vantor-sim plays the exchange on a pseudo-terminal; the gateway runs in
# demo-home/ (its configuration points the serial port at the simulator's
# device): in its window when a display is there, headless with its traffic
# log on the terminal otherwise.  The mail bridge (libvantorq9.so) mails to a
# local SMTP sink and counts the messages in a Maildir per extension under
# demo-home/mail/; a short scripted story delivers messages and silences the
# exchange for a while.  Closing the window or Ctrl-C stops everything.
set -euo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
shift || true
ROOT=$(cd "$(dirname "$0")/.." && pwd)
HOME_DIR=${VANTOR_DEMO_HOME:-$ROOT/demo-home}
mkdir -p "$HOME_DIR"
# The port settings text must stay under 40 characters, so the simulator's
# line is linked at a short path of its own.
LINK="/tmp/vantor-demo-$(id -u)"

SIM_OUT=$(mktemp)
# The simulator reads its commands from a pipe the demo keeps open, so the
# story below (and anyone: echo "silent on" > demo-home/sim-commands) can
# talk to it.
SIM_IN="$HOME_DIR/sim-commands"
[ -p "$SIM_IN" ] || { rm -f "$SIM_IN"; mkfifo "$SIM_IN"; }
exec 3<>"$SIM_IN"
"$BUILD/vantor-sim" --link "$LINK" --ports 8 --record-every 2000 --log "$HOME_DIR/sim.log" \
    <&3 >"$SIM_OUT" 2>&1 &
SIM_PID=$!
# The mail server: a local SMTP sink that prints one line per message and
# keeps a copy in demo-home/mail-out/.
SMTP_PORT=${VANTOR_DEMO_SMTP_PORT:-2525}
/usr/bin/python3 -u "$ROOT/tools/smtp-sink.py" --port "$SMTP_PORT" --show \
    --out "$HOME_DIR/mail-out" <&- &
SINK_PID=$!
cleanup() {
  [ -n "${STORY_PID:-}" ] && kill -TERM "$STORY_PID" 2>/dev/null || true
  [ -n "${GW_PID:-}" ] && kill -TERM "$GW_PID" 2>/dev/null && wait "$GW_PID" 2>/dev/null || true
  kill -TERM "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  kill -TERM "$SINK_PID" 2>/dev/null && wait "$SINK_PID" 2>/dev/null || true
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
# changes made while trying the gateway stay).  The serial line and, when
# VANTOR_DEMO_PORT is given, the TCP port are set on every run.
INI="$HOME_DIR/vantor.INI"
if [ ! -f "$INI" ]; then
  printf '[Set]\r\nPort=%s:19200,N,8,1\r\nIPPort=%s\r\nSendUct=1\r\nUctFile=DATA.NEW\r\n[Log]\r\nCom_In=1\r\nTCP/IP_In=1\r\nTCP/IP_Out=1\r\nExtent=1\r\n' \
    "$LINK" "${VANTOR_DEMO_PORT:-1234}" > "$INI"
fi
# Sets key $1 of section [Set] to $2, keeping the rest of the file.
set_key() {
  awk -v key="$1" -v value="$2" '
    BEGIN { IGNORECASE = 1 }
    { line = $0; sub(/\r$/, "", line) }
    line ~ /^\[/ { if (inset && !done) { printf "%s=%s\r\n", key, value; done = 1 }
                   inset = (tolower(line) == "[set]") }
    inset && tolower(line) ~ "^" tolower(key) "=" { if (!done) printf "%s=%s\r\n", key, value; done = 1; next }
    { print }
    END { if (!done) { if (!inset) printf "[Set]\r\n"; printf "%s=%s\r\n", key, value } }
  ' "$INI" > "$INI.new" && mv "$INI.new" "$INI"
}
set_key Port "$LINK:19200,N,8,1"
[ -n "${VANTOR_DEMO_PORT:-}" ] && set_key IPPort "$VANTOR_DEMO_PORT"
PORT=$(tr -d '\r' < "$INI" | awk -F= 'tolower($0) ~ /^\[/ { s = (tolower($0) == "[set]") } s && tolower($1) == "ipport" { print $2; exit }')
PORT=${PORT:-1234}

# The mail bridge: the library beside the gateway, its configuration, one
# Maildir per extension (101 Office, 102 Reception) and the gateway's mail and
# trap settings, each written once.  The error pause is 10 s instead of a
# minute and the mailboxes are polled every 3 s, so the story is short.
ln -sf "$BUILD/libvantorq9.so" "$HOME_DIR/libvantorq9.so"
for box in 101 102; do mkdir -p "$HOME_DIR/mail/$box/tmp" "$HOME_DIR/mail/$box/new" "$HOME_DIR/mail/$box/cur"; done
if [ ! -f "$HOME_DIR/vantorq9.ini" ] || ! grep -q "^Url = smtp://127.0.0.1:$SMTP_PORT\$" "$HOME_DIR/vantorq9.ini"; then
  cat > "$HOME_DIR/vantorq9.ini" <<INI
; The demo's mail bridge (see mailbridge/vantorq9.sample.ini for every key).
[SMTP]
Url = smtp://127.0.0.1:$SMTP_PORT
From = vantor@demo.local
FromName = Tarvo Vantor demo
[Addresses]
Q = {digits}@sms.demo.local
F = {digits}@fax.demo.local
V = {address}
L = {address}
Z = {address}
[Mailbox 101]
Owner = Office
Path = mail/101
[Mailbox 102]
Owner = Reception
Path = mail/102
INI
fi
if ! grep -q '^\[M602\]' "$INI"; then
  printf '[M602]\r\nCestaKeKonfiguraciMail602=vantorq9.ini\r\nCestaKPracovnimuAdresari=.\r\nDebug=1\r\n[Trapy]\r\nAdresaPrijemce=technik@demo.local\r\nTypAdresyPrijemce=I\r\nSubject=Tarvo Vantor demo\r\n[Timer]\r\nMaxErrorTick=100\r\nMSGInterval=3000\r\n' >> "$INI"
fi
for _ in $(seq 1 50); do
  (exec 4<>"/dev/tcp/127.0.0.1/$SMTP_PORT") 2>/dev/null && break
  sleep 0.1
done
if ! kill -0 "$SINK_PID" 2>/dev/null; then
  echo "demo: the SMTP sink did not start (python3-aiosmtpd installed? port $SMTP_PORT free?)" >&2
  exit 1
fi

# A message as a delivery agent leaves it: written in tmp/, renamed into new/.
deliver() { # extension kind subject
  local dir="$HOME_DIR/mail/$1" name
  name="$(date +%s).M$RANDOM$RANDOM.demo"
  printf 'From: voicemail@demo.local\r\nSubject: %s\r\nX-Message-Kind: %s\r\n\r\n%s\r\n' \
    "$3" "$2" "$3" > "$dir/tmp/$name"
  mv "$dir/tmp/$name" "$dir/new/$name"
}
story() {
  sleep 8
  echo "demo: two SMS and a voice message arrive in 101's mailbox (see '<602' and Name:Office)"
  deliver 101 sms "Call me back"
  deliver 101 sms "Meeting at ten"
  deliver 101 voice "Voice message from 602 123 456"
  sleep 8
  echo "demo: the simulator now holds these counters (SMS voice fax - per extension):"
  echo status >&3
  sleep 1
  grep '^STATUS' "$SIM_OUT" | tail -1 | sed 's/.*counters=/      /'
  echo "demo: the exchange falls silent: the link-lost trap is mailed"
  echo "silent on" >&3
  sleep 20
  echo "demo: the exchange answers again: the link-restored trap is mailed"
  echo "silent off" >&3
}

echo "demo: exchange simulator on $(sed -n 's/^READY //p' "$SIM_OUT") (linked at $LINK)"
echo "demo: SMTP sink on 127.0.0.1:$SMTP_PORT (copies in $HOME_DIR/mail-out), Maildirs in $HOME_DIR/mail"
echo "demo: gateway home $HOME_DIR, TCP port $PORT; try:"
echo "      $BUILD/vantor-client 127.0.0.1:$PORT 00 16 00"
MODE=(--headless)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${VANTOR_DEMO_HEADLESS:-}" ]; then
  # The gateway checks the display itself and falls back to headless (and
  # says so) when it cannot be reached.
  MODE=()
  echo "demo: the gateway's window opens on ${WAYLAND_DISPLAY:-$DISPLAY}; closing it stops the demo"
fi
echo "demo: Ctrl-C stops everything"
# The gateway runs in its folder, where the mail settings name the library's
# files relative to it.
(cd "$HOME_DIR" && exec "$BUILD/vantor" --home "$HOME_DIR" "${MODE[@]}" "$@") &
GW_PID=$!
story &
STORY_PID=$!
wait "$GW_PID"
