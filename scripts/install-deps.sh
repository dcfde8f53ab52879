#!/bin/bash
# install-deps.sh - install the Debian packages Zorvex needs to build and test.
#
# Idempotent: only packages dpkg does not report as installed are passed to
# apt-get, so a second run does nothing and returns at once.  `apt-get update`
# runs only when a missing package has no install candidate (no or stale apt
# lists).  Runs as root, or through sudo otherwise.  Then installs nyuu, an
# uploader from npm that some end-to-end tests post with, through
# scripts/install-nyuu.sh (skipped when already there; a failure there only
# warns, and those tests skip).
#
# Usage: scripts/install-deps.sh

set -euo pipefail

PKGS=(
    g++ cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev libre2-dev
    libssl-dev libntlm0-dev libjpeg-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core zlib1g-dev
    qt6-base-dev
    clang libclang-rt-14-dev
    python3 openssl netbase make
)

# nyuu runs on Node.js; its native module is built by node-gyp against
# Node's headers (Debian: libnode-dev, which npm pulls in anyway). A node
# and npm already on the PATH are used as they are: NodeSource's nodejs, for
# one, conflicts with Debian's npm package.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    PKGS+=(nodejs npm libnode-dev)
fi

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

install_nyuu() { "$(dirname "$0")/install-nyuu.sh"; }

if [ ${#missing[@]} -eq 0 ]; then
    log "all ${#PKGS[@]} packages already installed"
    install_nyuu
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
install_nyuu
