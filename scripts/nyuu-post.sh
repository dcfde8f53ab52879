#!/bin/bash
# nyuu-post.sh - post files to the local INN with nyuu, a real uploader:
# several connections at once, many parts a second, parts reaching the
# server out of order, subjects like  TAG [1/1] - "name" yEnc (1/58) SIZE.
#
# Usage: scripts/nyuu-post.sh [--check] [--env FILE] [--group G] [--tag TEXT]
#                             [-n CONNECTIONS] [-a ARTICLE_SIZE] [--nzb OUT]
#                             FILE...
#   --check   only tell whether nyuu can run: exit 0, or 3 with the reason
#   --env     inn.env of scripts/inn-up.sh ($ZORVEX_INN_DIR/inn.env, else
#             /tmp/zorvex-inn/inn.env)
#   --group   default alt.binaries.test.zorvex.uploads, made when missing
#   --tag     put before every subject (nyuu's --comment)
#   -n        connections (default 4); -a part size (default 700K)
#   --nzb     also write an NZB file
# nyuu comes from scripts/install-nyuu.sh (build-tools/nyuu, or
# $ZORVEX_NYUU_DIR). Only loopback servers are posted to.

set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
NYUU_DIR=${ZORVEX_NYUU_DIR:-$ROOT/build-tools/nyuu}
NYUU=$NYUU_DIR/node_modules/.bin/nyuu
ENV_FILE=${ZORVEX_INN_DIR:-/tmp/zorvex-inn}/inn.env
GROUP=alt.binaries.test.zorvex.uploads
TAG= CONNECTIONS=4 SIZE=700K NZB= CHECK=0

die() { printf 'nyuu-post: %s\n' "$1" >&2; exit "${2:-2}"; }

while [ $# -gt 0 ]; do
    case "$1" in
        --check) CHECK=1; shift;;
        --env) ENV_FILE=$2; shift 2;;
        --group) GROUP=$2; shift 2;;
        --tag) TAG=$2; shift 2;;
        -n) CONNECTIONS=$2; shift 2;;
        -a) SIZE=$2; shift 2;;
        --nzb) NZB=$2; shift 2;;
        --) shift; break;;
        -*) die "unknown option $1";;
        *) break;;
    esac
done

unavailable() {
    local why="nyuu is not installed in $NYUU_DIR"
    [ -s "$NYUU_DIR/UNAVAILABLE" ] && why="$why: $(cat "$NYUU_DIR/UNAVAILABLE")"
    die "$why (scripts/install-nyuu.sh installs it)" 3
}
[ -x "$NYUU" ] || unavailable
command -v node >/dev/null || die "nyuu is in $NYUU_DIR but there is no node on the PATH" 3
(cd "$NYUU_DIR" && node -e 'require("yencode")') >/dev/null 2>&1 ||
    die "nyuu is in $NYUU_DIR but its native yencode module does not load; rerun scripts/install-nyuu.sh" 3
[ $CHECK = 1 ] && exit 0
[ $# -gt 0 ] || die "no files to post"

[ -f "$ENV_FILE" ] || die "no $ENV_FILE: start a server with scripts/inn-up.sh"
# shellcheck disable=SC1090
. "$ENV_FILE"
HOST=${ZORVEX_INN_HOST:-127.0.0.1}
case "$HOST" in
    127.*|::1|localhost) ;;
    *) die "refusing non-loopback host $HOST";;
esac

# The group must exist before nyuu posts to it.
python3 "$ROOT/scripts/post-uploads.py" --env "$ENV_FILE" --group "$GROUP"

ARGS=(-h "$HOST" -P "$ZORVEX_INN_PORT" -n "$CONNECTIONS" -a "$SIZE" -g "$GROUP"
      -f 'Nyuu Poster <nyuu@zorvex.invalid>' --log-level 2 --progress none)
[ -n "$TAG" ] && ARGS+=(--comment "$TAG")
[ -n "$NZB" ] && ARGS+=(-o "$NZB" -O)
t0=${EPOCHREALTIME/./}
timeout 900 "$NYUU" "${ARGS[@]}" -- "$@"
ms=$(( (${EPOCHREALTIME/./} - t0) / 1000 ))
printf 'nyuu-post: posted %s to %s over %s connections in %d.%03d s\n' "$*" "$GROUP" \
    "$CONNECTIONS" $((ms / 1000)) $((ms % 1000))
