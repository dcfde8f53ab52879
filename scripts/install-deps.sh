#!/bin/bash
# install-deps.sh - install the Debian packages Zorvex needs to build and test.
#
# Idempotent: only packages dpkg does not report as installed are passed to
# apt-get, so a second run does nothing and returns at once.  `apt-get update`
# runs only when a missing package has no install candidate (no or stale apt
# lists).  Runs as root, or through sudo otherwise.
#
# Usage: scripts/install-deps.sh

set -euo pipefail

PKGS=(
    g++ cmake ninja-build
    libgtest-dev libgmock-dev libbenchmark-dev
    libssl-dev libntlm0-dev libjpeg-dev libfreetype-dev fonts-dejavu-core zlib1g-dev
    qt6-base-dev
    clang libclang-rt-14-dev
    python3 openssl netbase
)

log() { printf '[install-deps] %s\n' "$*" >&2; }

if [ "$(id -u)" = 0 ]; then
    SUDO=()
elif command -v sudo >/dev/null; then
    SUDO=(sudo)
else
    log "ERROR: not root and sudo is not available"
    exit 1
fi

missing=()
for p in "${PKGS[@]}"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != installed ]; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    log "all ${#PKGS[@]} packages already installed"
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -o DPkg::Lock::Timeout=300 -o Dpkg::Options::=--force-confold -y)

# Refresh the lists only when they cannot satisfy the request; an update is
# slow and usually unnecessary.
need_update=0
for p in "${missing[@]}"; do
    # Captured first: grep -q closing the pipe early would trip pipefail.
    pol=$(apt-cache policy "$p" 2>/dev/null || true)
    if ! grep -q 'Candidate: [0-9]' <<<"$pol"; then
        need_update=1
        break
    fi
done
if [ $need_update = 1 ]; then
    log "refreshing apt lists"
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 update
fi

log "installing: ${missing[*]}"
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive "${APT[@]}" install --no-install-recommends "${missing[@]}"

still=()
for p in "${missing[@]}"; do
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || still+=("$p")
done
if [ ${#still[@]} -gt 0 ]; then
    log "ERROR: still not installed: ${still[*]}"
    exit 1
fi
log "done"
