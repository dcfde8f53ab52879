#!/bin/bash
# demo.sh - install what is missing, build, start a private INN on 127.0.0.1,
# post the sample binaries, walk the test groups with the engine, decoding
# into /tmp/zorvex-demo/download, print everything it logs and list the
# files. Run as root (apt and INN need it).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build zorvex-walk

export ZORVEX_INN_DIR=${ZORVEX_INN_DIR:-/tmp/zorvex-inn}
scripts/inn-up.sh >/dev/null
scripts/post-samples.py --env "$ZORVEX_INN_DIR/inn.env"
. "$ZORVEX_INN_DIR/inn.env"
download=/tmp/zorvex-demo/download
rm -rf "$download" && mkdir -p "$download"
# shellcheck disable=SC2086
build/zorvex-walk --download "$download" "$ZORVEX_INN_HOST:$ZORVEX_INN_PORT" $ZORVEX_INN_GROUPS
echo "Decoded files:"
(cd "$download" && find . -type f -printf '%P\t%s bytes\n' | sort)
echo "The server keeps running; stop it with scripts/inn-down.sh --purge"
