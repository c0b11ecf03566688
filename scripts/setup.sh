#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Safe to run again: when everything is already installed it does nothing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    clang libclang-rt-dev clang-format
    libgtest-dev libgmock-dev googletest libbenchmark-dev libssl-dev
    liblzo2-dev
    dpkg-dev patch
    tar gzip
    qt6-base-dev fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo_cmd apt-get update
    $sudo_cmd apt-get install -y "${missing[@]}"
fi

# The FIX engine's upstream source, kept in a cache outside the build tree.
"$(dirname "$0")/../fix_engine/fetch_engine.sh"
