#!/usr/bin/env bash
# Builds and runs the POP3 header-check comparison against a private Dovecot.
#   bench/pop3/run.sh [build-dir] [--messages N] [--rounds R]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
shift || true
cmake --build "$build" --target pop3_header_check -j 2
exe=$(find "$build" -type f -name pop3_header_check -perm -u+x | head -n 1)
exec "$exe" "$@"
