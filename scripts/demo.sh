#!/bin/bash
# demo.sh - install what is missing, build, start a private INN on 127.0.0.1,
# post the sample binaries, then run the headless program once in a fresh
# working directory (/tmp/zorvex-demo): "zorvexd -auto -autoexit" connects,
# walks the sample groups, decodes into /tmp/zorvex-demo/download and exits.
# Shows what it downloaded and the daily log. Run as root (apt and INN need it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build zorvexd

export ZORVEX_INN_DIR=${ZORVEX_INN_DIR:-/tmp/zorvex-inn}
scripts/inn-up.sh >/dev/null
scripts/post-samples.py --env "$ZORVEX_INN_DIR/inn.env"
. "$ZORVEX_INN_DIR/inn.env"

work=/tmp/zorvex-demo
rm -rf "$work" && mkdir -p "$work"
{
    printf '[connection]\nhost=%s:%s\n' "$ZORVEX_INN_HOST" "$ZORVEX_INN_PORT"
    printf '[paths]\ndownload=%s/download/\n' "$work"
    # One directory per group, named with its dots.
    printf '[miscpref]\npathexpand=3\n'
    printf '[grouplist]\n'
    i=0
    for g in $ZORVEX_INN_GROUPS; do
        printf '%d=%s 1 0\n' "$i" "$g"
        i=$((i + 1))
    done
} >"$work/vantrel.ini"

(cd "$work" && "$root/build/zorvexd" -auto -autoexit)

echo
echo "Downloaded into $work/download:"
(cd "$work/download" && find . -type f -printf '  %P\t%s bytes\n' | sort)
echo "Daily log ($work/news$(date +%m%d).log):"
grep '^\[' "$work/news$(date +%m%d).log" | sed 's/^/  /'
echo "The server keeps running; stop it with scripts/inn-down.sh --purge"
