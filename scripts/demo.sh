#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds Quorvel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)"
exec ./build/quorvel "$@"
