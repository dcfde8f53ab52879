#!/bin/bash
# inn-down.sh - stop the private INN instance started by scripts/inn-up.sh.
#
# Usage (root, or sudo):  scripts/inn-down.sh [--purge]
#   --purge   also delete the instance directory
# Environment: ZORVEX_INN_DIR (default /tmp/zorvex-inn), as for inn-up.sh.
#
# Only this instance's processes are stopped: those whose environment holds
# INNCONF=$ZORVEX_INN_DIR/etc/inn.conf (inn-up.sh starts innd and the nnrpd
# daemons that way, and per-connection children inherit it).  Exits 0 when
# nothing was running.  Every wait is bounded.

set -uo pipefail

if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null || { echo "[inn-down] ERROR: needs root or sudo" >&2; exit 1; }
    exec sudo --preserve-env=ZORVEX_INN_DIR "$0" "$@"
fi

D=${ZORVEX_INN_DIR:-/tmp/zorvex-inn}
PURGE=0
for a in "$@"; do
    case "$a" in
        --purge) PURGE=1;;
        -h|--help) sed -n '2,11p' "$0"; exit 0;;
        *) echo "[inn-down] unknown argument: $a" >&2; exit 2;;
    esac
done
INNBIN=/usr/lib/news/bin
CONF="$D/etc/inn.conf"

log() { printf '[inn-down] %s\n' "$*" >&2; }

instance_pids() {
    local e p
    for e in /proc/[0-9]*/environ; do
        p=${e#/proc/}; p=${p%/environ}
        [ "$p" = "$$" ] && continue
        if { tr '\0' '\n' < "$e"; } 2>/dev/null | grep -qxF "INNCONF=$CONF"; then
            echo "$p"
        fi
    done
}

wait_gone() {   # seconds pid...
    local end=$((SECONDS + $1)); shift
    local p alive
    while :; do
        alive=0
        for p in "$@"; do kill -0 "$p" 2>/dev/null && alive=1; done
        [ $alive = 0 ] && return 0
        [ $SECONDS -ge $end ] && return 1
        sleep 0.25
    done
}

if [ -f "$CONF" ]; then
    waitfor=()
    # A clean innd shutdown flushes history, active and overview.
    ipid=$(cat "$D/run/innd.pid" 2>/dev/null || true)
    if [ -n "$ipid" ] && kill -0 "$ipid" 2>/dev/null; then
        log "ctlinnd shutdown (innd pid $ipid)"
        setpriv --reuid=news --regid=news --init-groups env INNCONF="$CONF" \
            timeout 20 $INNBIN/ctlinnd -s -t 15 shutdown "zorvex test server down" || true
        waitfor+=("$ipid")
    fi
    for f in "$D"/run/nnrpd-*.pid; do
        [ -f "$f" ] || continue
        p=$(cat "$f" 2>/dev/null || true)
        if [ -n "$p" ] && kill -0 "$p" 2>/dev/null; then
            kill -TERM "$p" 2>/dev/null && waitfor+=("$p")
        fi
    done
    if [ ${#waitfor[@]} -gt 0 ]; then
        wait_gone 20 "${waitfor[@]}" || log "still running after 20 s: ${waitfor[*]}"
    fi
    # Whatever is left (connection children, a hung innd): TERM, then KILL.
    pids=$(instance_pids)
    if [ -n "$pids" ]; then
        log "stopping $(echo $pids | wc -w) remaining process(es): $(echo $pids)"
        kill -TERM $pids 2>/dev/null || true
        if ! wait_gone 10 $pids; then
            pids=$(instance_pids)
            if [ -n "$pids" ]; then
                log "SIGKILL $(echo $pids)"
                kill -KILL $pids 2>/dev/null || true
                wait_gone 5 $pids || log "processes survived SIGKILL: $(echo $pids)"
            fi
        fi
    fi
    rm -f "$D"/run/*.pid
else
    log "no instance in $D"
fi

if [ $PURGE = 1 ] && [ -d "$D" ]; then
    case "$D" in
        ""|/|/etc|/etc/*|/usr|/usr/*|/var/spool/news*|/var/lib/news*|/home|/root) log "refusing to delete $D"; exit 1;;
    esac
    rm -rf "$D"
    log "removed $D"
fi
log "down"
exit 0
