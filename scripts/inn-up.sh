#!/bin/bash
# inn-up.sh - start a private INN news server on 127.0.0.1 for Zorvex tests.
#
# Installs Debian's inn2 when missing, then builds a fresh, self-contained
# instance under $ZORVEX_INN_DIR (config, spool, overview, history, logs and
# run files all live there; /etc/news and /var/spool/news are never used) and
# starts it bound to 127.0.0.1 only.  A running instance in the same directory
# is stopped and wiped first, so every run yields an empty server.
#
# Listeners (127.0.0.1):
#   ZORVEX_INN_PORT          (11119) plain, read + post, AUTHINFO optional
#   ZORVEX_INN_AUTH_PORT     (11120) plain, 480 until AUTHINFO USER/PASS
#   ZORVEX_INN_TLS_PORT      (11563) implicit TLS, AUTHINFO optional
#   ZORVEX_INN_TLS_AUTH_PORT (11564) implicit TLS, login required
#
# Usage (root, or sudo):  scripts/inn-up.sh
# Other overrides: ZORVEX_INN_DIR (/tmp/zorvex-inn), ZORVEX_INN_USER,
#   ZORVEX_INN_PASS, ZORVEX_INN_GROUPS, ZORVEX_INN_NO_INSTALL=1.
# On success writes $ZORVEX_INN_DIR/inn.env (KEY=VALUE, shell-sourceable)
# and prints it on stdout.  Stop with scripts/inn-down.sh.

set -euo pipefail

if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null || { echo "[inn-up] ERROR: needs root or sudo" >&2; exit 1; }
    exec sudo --preserve-env=ZORVEX_INN_DIR,ZORVEX_INN_PORT,ZORVEX_INN_AUTH_PORT,ZORVEX_INN_TLS_PORT,ZORVEX_INN_TLS_AUTH_PORT,ZORVEX_INN_USER,ZORVEX_INN_PASS,ZORVEX_INN_GROUPS,ZORVEX_INN_NO_INSTALL "$0" "$@"
fi

D=${ZORVEX_INN_DIR:-/tmp/zorvex-inn}
HOST=127.0.0.1                      # loopback only, by design
PORT=${ZORVEX_INN_PORT:-11119}
AUTH_PORT=${ZORVEX_INN_AUTH_PORT:-11120}
TLS_PORT=${ZORVEX_INN_TLS_PORT:-11563}
TLS_AUTH_PORT=${ZORVEX_INN_TLS_AUTH_PORT:-11564}
NUSER=${ZORVEX_INN_USER:-testuser}
NPASS=${ZORVEX_INN_PASS:-testpass}
NGROUPS=${ZORVEX_INN_GROUPS:-"alt.binaries.test.zorvex alt.binaries.pictures.test alt.binaries.multimedia.test misc.test"}

INNBIN=/usr/lib/news/bin
HERE=$(cd "$(dirname "$0")" && pwd)

log() { printf '[inn-up] %s\n' "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }

case "$D" in
    ""|/|/etc|/etc/*|/usr|/usr/*|/var/spool/news*|/var/lib/news*|/home|/root) die "refusing ZORVEX_INN_DIR=$D";;
esac

# ---------------------------------------------------------------- install --
POLICY=/usr/sbin/policy-rc.d
POLICY_SAVED=""
restore_policy() {
    if [ -n "$POLICY_SAVED" ]; then
        mv -f "$POLICY_SAVED" "$POLICY"
    elif [ -f "$POLICY.zorvex" ]; then
        rm -f "$POLICY" "$POLICY.zorvex"
    fi
}

inn_installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' inn2 2>/dev/null)" = installed ] &&
        [ -x $INNBIN/innd ] && [ -x $INNBIN/nnrpd ] && command -v openssl >/dev/null
}

install_inn() {
    inn_installed && return 0
    [ "${ZORVEX_INN_NO_INSTALL:-0}" = 1 ] && die "inn2 is not installed and ZORVEX_INN_NO_INSTALL=1"
    log "installing inn2 (one-time)"
    local t0=$SECONDS
    export DEBIAN_FRONTEND=noninteractive
    local APT="apt-get -o DPkg::Lock::Timeout=300 -o Dpkg::Options::=--force-confold -y"
    local pol
    pol=$(apt-cache policy inn2 2>/dev/null || true)
    if ! grep -q 'Candidate: [0-9]' <<<"$pol"; then
        timeout 600 apt-get -o DPkg::Lock::Timeout=300 update >&2 || true
    fi
    # The package's init script would start a system-wide innd on port 119.
    # A policy-rc.d that answers 101 forbids service starts during install;
    # any existing one is put back afterwards.
    if [ -e "$POLICY" ]; then
        POLICY_SAVED=$(mktemp "$POLICY.saved.XXXXXX")
        cp -a "$POLICY" "$POLICY_SAVED"
    else
        touch "$POLICY.zorvex"
    fi
    trap restore_policy EXIT
    printf '#!/bin/sh\nexit 101\n' > "$POLICY"
    chmod 755 "$POLICY"

    # inn2's postinst fails when the host name has no domain part. The
    # unpacked /etc/news/inn.conf is then given a domain and configure rerun.
    timeout 900 $APT install inn2 openssl >&2 || true
    if [ "$(dpkg-query -W -f='${db:Status-Status}' inn2 2>/dev/null)" != installed ]; then
        if [ -f /etc/news/inn.conf ] && ! grep -q '^domain:' /etc/news/inn.conf; then
            log "host has no domain; adding 'domain: localdomain' to /etc/news/inn.conf"
            printf '\ndomain:                      localdomain\n' >> /etc/news/inn.conf
        fi
        timeout 900 dpkg --configure -a >&2 || true
        timeout 900 $APT install inn2 openssl >&2 || true
    fi
    restore_policy
    POLICY_SAVED=""
    trap - EXIT
    inn_installed || die "inn2 could not be installed (see apt output above)"
    log "inn2 installed in $((SECONDS - t0)) s"
}

# ------------------------------------------------------------- helpers --
asnews() { setpriv --reuid=news --regid=news --init-groups env INNCONF="$D/etc/inn.conf" HOME="$D" "$@"; }

# First line the server sends on a plain port, 5 s bound.
greet_plain() {
    timeout 5 bash -c 'exec 3<>/dev/tcp/'"$HOST"'/'"$1"' || exit 1
        IFS= read -r l <&3 || exit 1; printf "%s\n" "${l%$'"'"'\r'"'"'}"
        printf "QUIT\r\n" >&3; exit 0' 2>/dev/null
}
greet_tls() {
    printf 'QUIT\r\n' | timeout 5 openssl s_client -quiet -connect "$HOST:$1" 2>/dev/null | head -n1 | tr -d '\r'
}
port_busy() { timeout 3 bash -c "exec 3<>/dev/tcp/$HOST/$1" 2>/dev/null; }
wait_port() {   # kind port seconds
    local end=$((SECONDS + $3)) g
    while [ $SECONDS -lt $end ]; do
        if [ "$1" = tls ]; then g=$(greet_tls "$2" || true); else g=$(greet_plain "$2" || true); fi
        case "$g" in 20[01]*) printf '%s\n' "$g"; return 0;; esac
        sleep 0.25
    done
    return 1
}
errlog_hint() { [ -s "$D/log/errlog" ] && tail -n 5 "$D/log/errlog" >&2 || true; }

now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
secs() { printf '%d.%01d' $(($1 / 1000)) $(($1 % 1000 / 100)); }
T0=$(now_ms)
install_inn
T_INSTALL=$(( $(now_ms) - T0 ))
T_START=$(now_ms)

# ---------------------------------------------------- stop + wipe old one --
if [ -d "$D" ]; then
    ZORVEX_INN_DIR="$D" bash "$HERE/inn-down.sh" --purge >&2 || die "could not stop the old instance in $D"
fi
for p in $PORT $AUTH_PORT $TLS_PORT $TLS_AUTH_PORT; do
    port_busy "$p" && die "port $p on $HOST is already in use by another program"
done

# A half-started instance would hold the ports; stop it (logs stay for
# reading) when anything below fails.
stop_on_failure() {
    local rc=$?
    if [ $rc -ne 0 ]; then
        ZORVEX_INN_DIR="$D" bash "$HERE/inn-down.sh" >&2 || true
        log "failed; logs are in $D/log"
    fi
    exit $rc
}
trap stop_on_failure EXIT

# --------------------------------------------------------- instance tree --
log "creating instance in $D"
mkdir -p "$D"/{etc,db,run,log,tmp,http,filter,spool/{articles,overview,incoming,outgoing,archive}}
# The packaged defaults cover the many small files innd reads (control.ctl,
# distrib.pats, ...); the ones that matter are overwritten below.
cp -a /etc/news/. "$D/etc/"
rm -rf "$D/etc/filter"

cat > "$D/etc/inn.conf" <<EOF
# Private Zorvex test instance written by scripts/inn-up.sh.
mta:                    "/bin/true %s"
organization:           "Zorvex test server"
ovmethod:               tradindexed
hismethod:              hisv6
pathhost:               zorvex-test.localdomain
pathnews:               /usr/lib/news
domain:                 localdomain
fromhost:               localdomain
server:                 $HOST
mailcmd:                /bin/true
enableoverview:         true
# IPv4 loopback only; leaving bindaddress6 unset means no IPv6 socket.
bindaddress:            $HOST
port:                   $PORT
nnrpdpostport:          $PORT
# Tests post old dates and big articles.
artcutoff:              0
maxartsize:             0
localmaxartsize:        0
linecountfuzz:          0
pgpverify:              false
wipcheck:               5
wipexpire:              10
docancels:              require-auth
maxconnections:         0
nnrpdloadlimit:         0
nnrpdcheckart:          true
nnrpdoverstats:         false
nnrpdauthsender:        false
readertrack:            false
addinjectiondate:       true
addinjectionpostinghost: true
checkincludedtext:      false
keywords:               false
extraoverviewadvertised: [ ]
extraoverviewhidden:    [ ]
tlscapath:              $D/etc
tlscertfile:            $D/etc/cert.pem
tlskeyfile:             $D/etc/key.pem
pathbin:                /usr/lib/news/bin
pathcontrol:            /usr/lib/news/bin/control
pathfilter:             $D/filter
pathetc:                $D/etc
pathdb:                 $D/db
pathrun:                $D/run
pathlog:                $D/log
pathtmp:                $D/tmp
pathhttp:               $D/http
pathspool:              $D/spool
patharticles:           $D/spool/articles
pathoverview:           $D/spool/overview
pathincoming:           $D/spool/incoming
pathoutgoing:           $D/spool/outgoing
patharchive:            $D/spool/archive
EOF

# No peers: every TCP client is a reader and is handed to nnrpd, which
# passes posts back to innd over the UNIX socket in pathrun.
cat > "$D/etc/incoming.conf" <<'EOF'
streaming:          true
max-connections:    8
EOF
cat > "$D/etc/newsfeeds" <<'EOF'
ME:!*/!local::
EOF
cat > "$D/etc/storage.conf" <<'EOF'
method tradspool {
    newsgroups: *
    class: 0
}
EOF
cat > "$D/etc/expire.ctl" <<'EOF'
/remember/:11
*:A:never:never:never
EOF

# Open ports: anonymous read + post, AUTHINFO also accepted.
openssl passwd -5 "$NPASS" | sed "s/^/$NUSER:/" > "$D/etc/passwd.nntp"
cat > "$D/etc/readers.conf" <<EOF
auth "loopback" {
    hosts: "127.0.0.1, ::1, localhost, stdin"
    auth: "ckpasswd -f $D/etc/passwd.nntp"
    default: "<anonymous>"
}
access "everyone" {
    users: "*"
    newsgroups: "*"
    access: RPA
}
EOF
# Auth ports: no default identity, so everything but CAPABILITIES, MODE
# READER, AUTHINFO and QUIT gets 480 until a successful login.
cat > "$D/etc/readers-auth.conf" <<EOF
auth "loopback" {
    hosts: "127.0.0.1, ::1, localhost, stdin"
    auth: "ckpasswd -f $D/etc/passwd.nntp"
}
access "users" {
    users: "*"
    newsgroups: "*"
    access: RPA
}
EOF

openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
    -keyout "$D/etc/key.pem" -out "$D/etc/cert.pem" >/dev/null 2>&1 \
    || die "openssl could not create the test certificate"

# Test groups are added with ctlinnd after start so active.times holds real
# creation times (NEWGROUPS then has something to report).
cat > "$D/db/active" <<'EOF'
control 0000000000 0000000001 n
control.cancel 0000000000 0000000001 n
junk 0000000000 0000000001 n
EOF
: > "$D/db/newsgroups"
: > "$D/db/active.times"
: > "$D/db/history"
touch "$D/db/.news.daily"
chown -R news:news "$D"
chmod 600 "$D/etc/key.pem" "$D/etc/passwd.nntp"
chmod 755 "$D"
asnews $INNBIN/makedbz -i -o -s 10000 || die "makedbz failed"

# ----------------------------------------------------------------- start --
log "starting innd on $HOST:$PORT"
asnews timeout 30 $INNBIN/innd -c 0 || { errlog_hint; die "innd did not start (see $D/log/errlog)"; }
G=$(wait_port plain "$PORT" 30) || { errlog_hint; die "innd did not answer on $HOST:$PORT within 30 s (see $D/log/errlog)"; }
log "greeting: $G"

for g in $NGROUPS; do
    asnews timeout 40 $INNBIN/ctlinnd -s -t 30 newgroup "$g" y zorvex@localdomain || die "newgroup $g failed"
    printf '%s\t%s\n' "$g" "Zorvex test group $g" >> "$D/db/newsgroups"
done
chown news:news "$D/db/newsgroups"

log "starting nnrpd on $HOST:$AUTH_PORT (auth), $HOST:$TLS_PORT (TLS), $HOST:$TLS_AUTH_PORT (TLS+auth)"
asnews timeout 30 $INNBIN/nnrpd -D -b $HOST -p "$AUTH_PORT" -c readers-auth.conf || die "nnrpd (auth) did not start"
asnews timeout 30 $INNBIN/nnrpd -D -b $HOST -p "$TLS_PORT" -S || die "nnrpd (TLS) did not start"
asnews timeout 30 $INNBIN/nnrpd -D -b $HOST -p "$TLS_AUTH_PORT" -S -c readers-auth.conf || die "nnrpd (TLS+auth) did not start"
wait_port plain "$AUTH_PORT" 15 >/dev/null || die "nnrpd did not answer on $HOST:$AUTH_PORT within 15 s"
wait_port tls "$TLS_PORT" 15 >/dev/null || die "nnrpd -S did not answer on $HOST:$TLS_PORT within 15 s"
wait_port tls "$TLS_AUTH_PORT" 15 >/dev/null || die "nnrpd -S did not answer on $HOST:$TLS_AUTH_PORT within 15 s"

cat > "$D/inn.env" <<EOF
ZORVEX_INN_HOST=$HOST
ZORVEX_INN_PORT=$PORT
ZORVEX_INN_AUTH_PORT=$AUTH_PORT
ZORVEX_INN_TLS_PORT=$TLS_PORT
ZORVEX_INN_TLS_AUTH_PORT=$TLS_AUTH_PORT
ZORVEX_INN_USER=$NUSER
ZORVEX_INN_PASS=$NPASS
ZORVEX_INN_GROUPS="$NGROUPS"
ZORVEX_INN_DIR=$D
EOF
log "up (install check/install $(secs $T_INSTALL) s, instance start $(secs $(( $(now_ms) - T_START ))) s)"
cat "$D/inn.env"
trap - EXIT
