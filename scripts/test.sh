#!/bin/bash
# test.sh - install what is missing, build, and run the whole suite twice:
# once as built and once under AddressSanitizer and UndefinedBehaviorSanitizer.
# A private INN on 127.0.0.1 serves the end-to-end tests; when it cannot
# start they are skipped with the reason. Run as root (apt and INN need it).
set -euo pipefail
cd "$(dirname "$0")/.."

log() { printf '[test] %s\n' "$*" >&2; }

scripts/install-deps.sh

# Warnings stop both builds; Release (-O3) first, since some warnings show
# only when the optimiser inlines.
log "building (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORVEX_WERROR=ON >/dev/null
ninja -C build
log "building with sanitizers (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORVEX_SANITIZE=ON \
    -DZORVEX_WERROR=ON -DZORVEX_BENCH=OFF >/dev/null
ninja -C build-asan

# Its own instance and ports, so a demo server left running does not collide.
export ZORVEX_INN_DIR=${ZORVEX_INN_DIR:-/tmp/zorvex-inn-test}
export ZORVEX_INN_PORT=${ZORVEX_INN_PORT:-11219} ZORVEX_INN_AUTH_PORT=${ZORVEX_INN_AUTH_PORT:-11220}
export ZORVEX_INN_TLS_PORT=${ZORVEX_INN_TLS_PORT:-11663}
export ZORVEX_INN_TLS_AUTH_PORT=${ZORVEX_INN_TLS_AUTH_PORT:-11664}
export ZORVEX_INN_ENV=$ZORVEX_INN_DIR/inn.env
rm -f "$ZORVEX_INN_ENV"
trap 'scripts/inn-down.sh --purge >/dev/null 2>&1 || true' EXIT
if scripts/inn-up.sh >/dev/null; then
    scripts/post-samples.py --env "$ZORVEX_INN_ENV" --verify
else
    log "INN could not start: the tests against it will be skipped"
    rm -f "$ZORVEX_INN_ENV"
fi

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1
log "running the suite"
ctest --test-dir build --output-on-failure -j2
log "running the suite under sanitizers"
ctest --test-dir build-asan --output-on-failure -j2
log "all tests passed"
