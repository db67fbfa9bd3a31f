#!/usr/bin/env bash
# Builds and runs the distant-server comparison against a private Dovecot.
#   bench/distant/run.sh [build-dir] [--messages N] [--delay-ms D] [--no-poplib]
#                        [--only-direct] [--repeat R] [--wrap "PROGRAM ARGS"]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
shift || true
cmake --build "$build" --target distant_check -j 2
exec "$build/bench/distant/distant_check" "$@"
