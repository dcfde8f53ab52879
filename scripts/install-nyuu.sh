#!/bin/bash
# install-nyuu.sh - install nyuu, an uploader from the npm registry, into
# build-tools/nyuu (git-ignored; ZORVEX_NYUU_DIR overrides) for the tests
# and scripts that post the way uploaders do (scripts/nyuu-post.sh).
#
# Idempotent: a working install of the pinned version is left alone and the
# script returns at once.  nyuu is optional: when it cannot be installed the
# reason goes to build-tools/nyuu/UNAVAILABLE, a warning is printed and the
# script still ends 0, so the tests that need it can skip and say why.
#
# Needs node, npm, make, g++ and python3 (scripts/install-deps.sh installs
# them): nyuu's yencode module is native code built by node-gyp.
#
# Usage: scripts/install-nyuu.sh

set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIR=${ZORVEX_NYUU_DIR:-$ROOT/build-tools/nyuu}
VERSION=0.4.0
NYUU=$DIR/node_modules/.bin/nyuu

log() { printf '[install-nyuu] %s\n' "$*" >&2; }

works() {
    [ -x "$NYUU" ] || return 1
    # "nyuu --version" prints nothing into a pipe; its package says it. The
    # native module is loaded too: nyuu needs it only once it posts.
    [ "$(cd "$DIR" && node -p 'require("yencode"); require("nyuu/package.json").version' 2>/dev/null)" = "$VERSION" ]
}

unavailable() {
    mkdir -p "$DIR"
    printf '%s\n' "$*" >"$DIR/UNAVAILABLE"
    log "WARNING: nyuu is not installed: $*"
    log "the tests that post with nyuu will be skipped"
    exit 0
}

if works; then
    rm -f "$DIR/UNAVAILABLE"
    log "nyuu $VERSION already in $DIR"
    exit 0
fi
command -v node >/dev/null || unavailable "no node on the PATH (Debian package nodejs)"
command -v npm >/dev/null || unavailable "no npm on the PATH (Debian package npm)"
for tool in make g++ python3; do
    command -v $tool >/dev/null || unavailable "no $tool on the PATH: node-gyp needs it"
done

# Without internet node-gyp cannot download Node's headers: point it at the
# installed ones. --nodedir is the prefix that holds include/node/node.h
# (Debian's libnode-dev puts them under /usr; NodeSource's nodejs too).
nodedir=
node_prefix=$(dirname "$(dirname "$(readlink -f "$(command -v node)")")")
for d in "$node_prefix" /usr /usr/local; do
    if [ -f "$d/include/node/node.h" ]; then
        nodedir=$d
        break
    fi
done
[ -n "$nodedir" ] || log "no include/node/node.h found; node-gyp will try to download the headers"

log "installing nyuu $VERSION into $DIR (node $(node --version), npm $(npm --version)${nodedir:+, headers from $nodedir/include/node})"
rm -f "$DIR/UNAVAILABLE"
mkdir -p "$DIR"
args=(install --no-audit --no-fund --no-update-notifier --loglevel=error "nyuu@$VERSION")
[ -n "$nodedir" ] && args+=("--nodedir=$nodedir")
t0=$SECONDS
if ! out=$(cd "$DIR" && timeout 900 npm "${args[@]}" 2>&1); then
    printf '%s\n' "$out" | tail -n 20 >&2
    unavailable "npm install nyuu@$VERSION failed: $(printf '%s\n' "$out" | grep -m1 -iE 'error|ERR!' || echo 'see above')"
fi
works || unavailable "npm installed nyuu@$VERSION but it does not run (native yencode module missing?)"
log "nyuu $VERSION installed in $((SECONDS - t0)) s"
