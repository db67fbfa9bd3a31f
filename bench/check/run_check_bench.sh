#!/usr/bin/env bash
# Speed and memory of a check, end to end:
#   1. kelvrin-cli check of a 10,000-message mailbox served by
#      kelvrin-demo-server, with the demo rule lists: wall time and peak
#      memory of the whole process (/usr/bin/time -v);
#   2. kelvrin_check_memory: the peak memory of one process after 1 check and
#      after 200 consecutive checks of a 1,000-message mailbox.
# The mailboxes are the demo messages repeated. Prints the figures and writes
# them to $OUT (default: build-dir/check-bench.txt).
#
# Usage: bench/check/run_check_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-build}
cli="$root/$build/src/cli/kelvrin-cli"
server="$root/$build/tools/demo-server/kelvrin-demo-server"
memory="$root/$build/bench/check/kelvrin_check_memory"
out=${OUT:-$root/$build/check-bench.txt}
big=${BIG:-10000}
small=${SMALL:-1000}
many=${MANY:-200}
for exe in "$cli" "$server" "$memory"; do
  [ -x "$exe" ] || { echo "missing $exe: build the targets kelvrin-cli kelvrin-demo-server kelvrin_check_memory" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvrin-check-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A maildir of N messages: the demo messages again and again, each copy under
# its own name (the name is the message's unique id).
fill() {
  /usr/bin/python3 - "$1" "$2" "$root/share/demo/maildir" <<'PY'
import os, shutil, sys
target, count, demo = sys.argv[1], int(sys.argv[2]), sys.argv[3]
names = sorted(n for n in os.listdir(demo) if n.endswith(".eml"))
os.makedirs(target, exist_ok=True)
for i in range(count):
    name = names[i % len(names)]
    shutil.copyfile(os.path.join(demo, name), os.path.join(target, "%05d-%s" % (i, name)))
PY
}

# Starts a server on a maildir; sets port.
serve() {
  local dir=$1
  "$server" --maildir "$dir" --port-file "$dir.ports" --quiet >/dev/null &
  pids+=($!)
  for _ in $(seq 1 100); do [ -s "$dir.ports" ] && break; sleep 0.1; done
  port=$(sed -n 's/^POP3 port //p' "$dir.ports")
}

home_for() {
  local home=$1
  mkdir -p "$home"
  "$cli" --home "$home" init --address sam.taylor@kelvrin.example --pop-host 127.0.0.1 \
    --port "$port" --user sam --password demo-password >/dev/null
  cp "$root"/share/demo/lists/* "$home/"
}

# Everything below goes to the terminal and to $out. (A pipeline would run
# it in a subshell, whose server PIDs the clean-up could not see.)
exec > >(tee "$out")

echo "# $(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores, build $build"

fill "$work/big" "$big"
serve "$work/big"
home_for "$work/big-home"
# One warm-up run fills the server's size cache and the page cache.
"$cli" --home "$work/big-home" check >/dev/null
for run in 1 2 3; do
  /usr/bin/time -v "$cli" --home "$work/big-home" check >/dev/null 2>"$work/time.txt"
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
  cpu_user=$(sed -n 's/.*User time (seconds): //p' "$work/time.txt")
  cpu_sys=$(sed -n 's/.*System time (seconds): //p' "$work/time.txt")
  echo "kelvrin-cli check, $big messages, run $run: wall $wall  user ${cpu_user}s  sys ${cpu_sys}s  peak RSS ${rss} kB"
done

fill "$work/small" "$small"
serve "$work/small"
home_for "$work/small-home"
"$memory" --home "$work/small-home" --checks 1 | sed "s/^/kelvrin_check_memory, $small messages: /"
"$memory" --home "$work/small-home" --checks "$many" | sed "s/^/kelvrin_check_memory, $small messages: /"
echo "figures written to $out"
