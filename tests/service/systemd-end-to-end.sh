#!/usr/bin/env bash
# The Debian package under a real systemd, as a technician drives it: a
# minimal Debian 12 (made once with debootstrap, kept in BUILD/systemd-root)
# boots with systemd as PID 1 in namespaces of its own, over a copy-on-write
# layer, so every run starts from the same clean system.  The package is
# installed there and the service lives its life: start, status and events,
# traffic through a client, the accounting file outside the state folder, a
# Maildir under /home, the watchdog, stop, a configuration it cannot read, the
# template instance with its line under /tmp, an upgrade and a purge with
# both running, and no accounting record lost on the way.
#
#   tests/service/systemd-end-to-end.sh BUILD_DIR
#
# Needs root and namespaces (exit 77, "skipped", with the reason otherwise).
# Nothing outlives it: the booted system is powered off (and, failing that,
# killed with its PID namespace), its mounts go with its mount namespace, and
# it powers itself off after 15 minutes should this script be killed.
set -euo pipefail

BUILD=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
MIRROR=${VANTOR_DEBIAN_MIRROR:-http://deb.debian.org/debian}
ROOT=$BUILD/systemd-root
SKIP=77

skip() { echo "SKIPPED: $*"; exit $SKIP; }
fail() { echo "FAILED: $*" >&2; exit 1; }
step() { printf '%(%T)T  %s\n' -1 "$*"; }

[ "$(id -u)" = 0 ] || skip "needs root (namespaces, mounts, dpkg in the test system)"
for tool in unshare nsenter debootstrap dpkg-deb cpack flock; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (./run test installs it)"
done
RUN=$(mktemp -d "$BUILD/systemd-run.XXXXXX")
UNSHARE_PID=
PID1=
cleanup() {
    local status=$?
    if [ -n "$PID1" ] && kill -0 "$PID1" 2>/dev/null; then
        [ $status -eq 0 ] || in_system journalctl --no-pager -n 60 >&2 || true
        in_system systemctl poweroff >/dev/null 2>&1 || true
        for _ in $(seq 100); do kill -0 "$PID1" 2>/dev/null || break; sleep 0.2; done
        # PID 1 of a namespace takes every process of it along.
        kill -KILL "$PID1" 2>/dev/null || true
    fi
    [ -z "$UNSHARE_PID" ] || wait "$UNSHARE_PID" 2>/dev/null || true
    rm -rf "$RUN"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The system runs on a copy-on-write layer in memory over the Debian system:
# every run starts from the same clean system and leaves nothing on disk.
# Used for a probe first, then for the boot.
mkdir -p "$RUN/layer" "$RUN/merged" "$RUN/pkg"
LAYER='mount -t tmpfs tmpfs "$run/layer" && mkdir "$run/layer/upper" "$run/layer/work" &&
    mount -t overlay overlay \
        -o "lowerdir=$root,upperdir=$run/layer/upper,workdir=$run/layer/work" "$run/merged"'
mkdir -p "$RUN/probe"
unshare --fork --pid --mount --uts --ipc --net --propagation private /bin/sh -c "
    root=\$1 run=\$2; $LAYER && mount -t proc proc \"\$run/merged\"" probe "$RUN/probe" "$RUN" \
    2>/dev/null ||
    skip "this machine does not allow new PID, mount and network namespaces with overlay mounts"

# ---- the package, and the same package as a later version for the upgrade
step "building the package"
cpack --config "$BUILD/CPackConfig.cmake" -B "$RUN/cpack" \
    -D CPACK_OUTPUT_FILE_PREFIX="$RUN/pkg" >"$RUN/cpack.log" 2>&1 ||
    { cat "$RUN/cpack.log"; fail "cpack"; }
DEB=$(ls "$RUN"/pkg/tarvovantor_*.deb)
mv "$DEB" "$RUN/pkg/old.deb"
dpkg-deb -R "$RUN/pkg/old.deb" "$RUN/next"
sed -i 's/^Version: .*/&+next/' "$RUN/next/DEBIAN/control"
dpkg-deb -b "$RUN/next" "$RUN/pkg/new.deb" >/dev/null
rm -rf "$RUN/next" "$RUN/cpack"
# What the package needs from Debian, without version constraints.
mapfile -t DEPENDS < <(dpkg-deb -f "$RUN/pkg/old.deb" Depends | tr ',' '\n' |
    sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v '^$')

# ---- the Debian system, made once
(
    flock 9
    if [ ! -e "$ROOT/.complete" ]; then
        step "making the Debian system with debootstrap (once)"
        rm -rf "$ROOT.new"
        include=$(IFS=,; echo "systemd,systemd-sysv,${DEPENDS[*]}")
        debootstrap --variant=minbase --include="$include" bookworm "$ROOT.new" "$MIRROR" \
            >"$RUN/debootstrap.log" 2>&1 ||
            { tail -20 "$RUN/debootstrap.log"; rm -rf "$ROOT.new"; exit $SKIP; }
        rm -rf "$ROOT"
        mv "$ROOT.new" "$ROOT"
        touch "$ROOT/.complete"
    fi
    # A package that needs more than the system had when it was made.
    if ! chroot "$ROOT" dpkg-query -W "${DEPENDS[@]}" >/dev/null 2>&1; then
        step "adding ${DEPENDS[*]} to the Debian system"
        chroot "$ROOT" apt-get -qq update && DEBIAN_FRONTEND=noninteractive \
            chroot "$ROOT" apt-get -qq install -y --no-install-recommends "${DEPENDS[@]}" ||
            exit $SKIP
    fi
) 9>"$BUILD/systemd-root.lock" || {
    status=$?
    [ $status -eq $SKIP ] && skip "no Debian system: debootstrap or apt from $MIRROR failed"
    exit $status
}

# ---- boot
step "booting systemd"
unshare --fork --pid --mount --uts --ipc --net --propagation private --kill-child \
    /bin/sh -c '
        set -e
        root=$1 run=$2
        '"$LAYER"'
        cd "$run/merged"
        mount -t proc proc proc
        mount --rbind /sys sys
        mount --rbind /dev dev
        mount -t tmpfs tmpfs run
        mount -t tmpfs tmpfs tmp
        mount --bind -o ro "$run/pkg" mnt
        hostname vantor-test
        mkdir -p oldroot
        pivot_root . oldroot
        umount -l /oldroot
        export container=other
        exec /lib/systemd/systemd --system
    ' boot "$ROOT" "$RUN" >"$RUN/boot.log" 2>&1 </dev/null &
UNSHARE_PID=$!
for _ in $(seq 50); do
    PID1=$(cat "/proc/$UNSHARE_PID/task/$UNSHARE_PID/children" 2>/dev/null | tr -d ' ') || true
    [ -n "$PID1" ] && break
    sleep 0.1
done
[ -n "$PID1" ] || { cat "$RUN/boot.log"; fail "the namespaces did not come up"; }
in_system() { nsenter -t "$PID1" -m -u -i -p -n -- "$@"; }
booted=
for _ in $(seq 150); do
    booted=$(in_system systemctl is-system-running 2>/dev/null) || true
    case "$booted" in running | degraded) break ;; esac
    sleep 0.2
done
case "$booted" in running | degraded) ;; *) cat "$RUN/boot.log"; fail "systemd: '$booted'" ;; esac
in_system systemd-run -q --on-active=900 /bin/systemctl poweroff
step "systemd is $booted"

# ---- what the tests ask of the system
sys() { in_system sh -c "$1"; }
# wait_for WHAT SECONDS COMMAND: the command inside the system succeeds in time.
wait_for() {
    local what=$1 deadline=$((SECONDS + $2))
    until sys "$3" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || fail "$what (after $2 s: $3)"
        sleep 0.2
    done
}
status_text() { in_system systemctl show -P StatusText "$1"; }
main_pid() { in_system systemctl show -P MainPID "$1"; }
expect_status() { # UNIT EXTENDED-REGEX SECONDS
    wait_for "status of $1 matching '$2' (it is '$(status_text "$1")')" "$3" \
        "systemctl show -P StatusText $1 | grep -Eq '$2'"
}
expect_event() { # EXTENDED-REGEX SECONDS: an entry of the event log
    wait_for "event '$1'" "$2" "journalctl -q -o cat -t TarvoVantor | grep -Eq '$1'"
}
gateway_ini() { # FOLDER PORT-DEVICE IPPORT [more lines]
    sys "mkdir -p $1 && printf '%s\n' '[Set]' 'Lang=Eng' 'Port=$2:19200,N,8,1' 'IPPort=$3' $4 \
        > $1/vantor.INI && chown -R tarvovantor: $1"
}
client_asks() { # PORT: the exchange's identification through the gateway
    local reply
    reply=$(in_system vantor-client --no-text "127.0.0.1:$1" 02 2>&1) || true
    [[ "$reply" == *"00 03 05"* ]] || fail "identification through port $1: $reply"
}
start_simulator() { # UNIT LINK [options]: a simulator as a service of its own
    in_system systemd-run -q --unit="$1" -p User=tarvovantor -p RuntimeDirectory="$1" \
        /usr/bin/vantor-sim --link "$2" --log "/run/$1/requests.log" "${@:3}"
    wait_for "simulator $1" 10 "test -L $2"
}

# ---- install
step "installing the package"
in_system dpkg -i /mnt/old.deb >"$RUN/dpkg.log" 2>&1 || { cat "$RUN/dpkg.log"; fail "dpkg -i"; }
[ "$(in_system systemctl is-enabled tarvovantor || true)" = disabled ] || fail "enabled at install"
sys "id -nG tarvovantor | grep -qw dialout" || fail "user tarvovantor is not in dialout"
sys "grep -q '^SendOnReply=1' /var/lib/tarvovantor/vantor.INI" || fail "sample without SendOnReply"

# The accounting file outside the state folder and a Maildir under /home,
# where sites keep them; the lamp of extension 101 must light.
sys "mkdir -p /srv/pbx /home/pbx/Maildir/cur /home/pbx/Maildir/tmp /home/pbx/Maildir/new &&
     chown tarvovantor: /srv/pbx && chmod -R a+rX /home/pbx &&
     printf 'Subject: fax\r\nX-Message-Kind: fax\r\n\r\nhello\r\n' \
         > /home/pbx/Maildir/new/1.host && chmod a+r /home/pbx/Maildir/new/1.host &&
     printf '%s\n' '[SMTP]' 'Url =' '[Mailbox 101]' 'Path = /home/pbx/Maildir' \
         > /var/lib/tarvovantor/vantorq9.ini"
gateway_ini /var/lib/tarvovantor /run/pbx-line/tty 1234 \
    "'UctFile=/srv/pbx/DATA.NEW' '[M602]' 'CestaKeKonfiguraciMail602=/var/lib/tarvovantor/vantorq9.ini' 'CestaKPracovnimuAdresari=/var/lib/tarvovantor'"
start_simulator pbx-line /run/pbx-line/tty --record-every 250

# ---- start, status, traffic, the hardening a site needs
step "start"
in_system systemctl enable --now tarvovantor
expect_status tarvovantor '^RUNNING$' 15
client_asks 1234
wait_for "records in /srv/pbx/DATA.NEW" 20 "grep -c REC /srv/pbx/DATA.NEW | grep -qv '^[0-5]$'"
# The counters request: 01 11 00, then four bytes per extension, 101 first.
wait_for "the lamp of extension 101" 30 \
    "grep 'M message counters: 01 11 00 ' /run/pbx-line/requests.log | grep -qv ': 01 11 00 00 00 00 00 '"
sys "! grep -q 2005 /var/lib/tarvovantor/vantorq9.log" || fail "a Maildir under /home unreadable"
expect_event '^TarvoVantor - Start$' 5
running=$(main_pid tarvovantor)
in_system systemctl reload tarvovantor 2>/dev/null && fail "a reload is offered"
[ "$(main_pid tarvovantor)" = "$running" ] || fail "a reload that was refused restarted it"

step "accounting file not writable, then writable again"
sys "chmod a-w /srv/pbx/DATA.NEW"
expect_status tarvovantor '^RUNNING, accounting file not writable: .*DATA.NEW' 15
expect_event '^TarvoVantor error: 0 - Accounting file not writable: ' 5
sys "chmod u+w /srv/pbx/DATA.NEW"
expect_status tarvovantor '^RUNNING$' 15
expect_event '^TarvoVantor - Accounting file writable again$' 5

step "watchdog"
sys "mkdir -p /run/systemd/system/tarvovantor.service.d &&
     printf '[Service]\nWatchdogSec=2\n' > /run/systemd/system/tarvovantor.service.d/watchdog.conf &&
     systemctl daemon-reload && systemctl restart tarvovantor"
expect_status tarvovantor '^RUNNING' 15
hung=$(main_pid tarvovantor)
sys "kill -STOP $hung"
wait_for "a restart after the watchdog" 30 \
    "[ \"\$(systemctl show -P MainPID tarvovantor)\" != $hung ] && systemctl is-active -q tarvovantor"
sys "journalctl -q -u tarvovantor | grep -q 'Watchdog timeout'" || fail "not the watchdog"
sys "rm -r /run/systemd/system/tarvovantor.service.d && systemctl daemon-reload"

step "stop"
in_system systemctl stop tarvovantor
[ "$(in_system systemctl show -P Result tarvovantor)" = success ] || fail "stop not clean"
[ "$(in_system systemctl show -P ExecMainStatus tarvovantor)" = 0 ] || fail "exit status"

step "a configuration the service cannot read"
sys "chmod 0 /var/lib/tarvovantor/vantor.INI"
in_system systemctl start tarvovantor 2>/dev/null && fail "started on an unreadable configuration"
[ "$(in_system systemctl show -P ExecMainStatus tarvovantor)" = 78 ] || fail "exit status not 78"
expect_event 'Start failed: /var/lib/tarvovantor/vantor.INI cannot be read \(Permission denied\)' 5
[ "$(status_text tarvovantor)" = "STOPPED, start failed: /var/lib/tarvovantor/vantor.INI cannot be read (Permission denied)" ] ||
    fail "status after the failed start: $(status_text tarvovantor)"
sleep 6 # RestartSec: no second attempt may come
[ "$(in_system systemctl show -P NRestarts tarvovantor)" = 0 ] || fail "restarted in a loop"
sys "chmod 0640 /var/lib/tarvovantor/vantor.INI && systemctl reset-failed tarvovantor"
in_system systemctl start tarvovantor
expect_status tarvovantor '^RUNNING$' 15

step "template instance east with its line under /tmp"
start_simulator pbx-east /tmp/ttyEAST
gateway_ini /var/lib/tarvovantor/east /tmp/ttyEAST 1235 "'ReadUct=0'"
in_system systemctl enable --now tarvovantor@east
expect_status tarvovantor@east \
    '^RUNNING, serial port not open: /tmp/ttyEAST: .*PrivateTmp=no: see vantor\(1\)\); link lost since' 15
expect_event '^TarvoVantor@east error: [0-9]+ - ' 5
# The drop-in of the man page.
sys "mkdir -p /etc/systemd/system/tarvovantor@east.service.d &&
     printf '[Service]\nPrivateTmp=no\n' > /etc/systemd/system/tarvovantor@east.service.d/override.conf &&
     systemctl daemon-reload && systemctl restart tarvovantor@east"
expect_status tarvovantor@east '^RUNNING$' 15
client_asks 1235
in_system systemctl stop pbx-east
expect_status tarvovantor@east '^RUNNING, serial port not open: /tmp/ttyEAST: .*; link lost since [0-9:]+$' 15
expect_event '^TarvoVantor@east error: 0 - Link to the exchange lost at [0-9:]+$' 5
start_simulator pbx-east /tmp/ttyEAST
expect_status tarvovantor@east '^RUNNING$' 20
expect_event '^TarvoVantor@east - Link to the exchange restored \(lost since [0-9:]+\)$' 5

step "upgrade with both gateways running"
before="$(main_pid tarvovantor) $(main_pid tarvovantor@east)"
in_system dpkg -i /mnt/new.deb >"$RUN/dpkg.log" 2>&1 || { cat "$RUN/dpkg.log"; fail "upgrade"; }
for unit in tarvovantor tarvovantor@east; do
    in_system systemctl is-active -q "$unit" || fail "$unit not active after the upgrade"
    pid=$(main_pid "$unit")
    case " $before " in *" $pid "*) fail "$unit still runs the old program" ;; esac
    sys "! readlink /proc/$pid/exe | grep -q deleted" || fail "$unit runs a deleted program"
done
expect_status tarvovantor '^RUNNING$' 15
last=$(sys "grep -c REC /srv/pbx/DATA.NEW")
wait_for "records after the upgrade" 20 "[ \$(grep -c REC /srv/pbx/DATA.NEW) -gt $last ]"

step "purge with both gateways running"
in_system dpkg --purge tarvovantor >"$RUN/dpkg.log" 2>&1 || { cat "$RUN/dpkg.log"; fail "purge"; }
for unit in tarvovantor tarvovantor@east; do
    ! in_system systemctl is-active -q "$unit" || fail "$unit runs after the purge"
done
sys "! ls /etc/systemd/system/*.wants/ | grep -q tarvovantor" || fail "enablement links left"
sys "test -f /var/lib/tarvovantor/east/vantor.INI" || fail "the state folder went"
in_system dpkg -i /mnt/old.deb >"$RUN/dpkg.log" 2>&1 || { cat "$RUN/dpkg.log"; fail "reinstall"; }
[ "$(in_system systemctl is-enabled tarvovantor@east || true)" = disabled ] ||
    fail "tarvovantor@east enabled again by a reinstall"

step "no accounting record lost or doubled"
in_system systemctl stop pbx-line
sys "tr -d '\r' < /srv/pbx/DATA.NEW" | awk '
    { n = $2 + 0; if (n != NR) { print "record " NR " is " $0; bad = 1; exit } }
    END { if (NR < 20) { print "only " NR " records"; bad = 1 } exit bad }' ||
    fail "the accounting file has gaps or doubles"
echo "The event log:"
in_system journalctl -q -o short -t TarvoVantor | sed 's/^/    /'
step "passed: $(sys "grep -c REC /srv/pbx/DATA.NEW") records, every one once"
