#!/usr/bin/env bash
# The serial link on Linux and, cross-built, under wine, in the same run, against
# the simulated sensor pacing the wire at 115200 Bd: the processor time of an
# idle open link, and a 64 KiB firmware exchange as a share of the stop-and-wait
# wire-time limit (100 % would be the line never idle). Prints a table.
#   bench/windows-vs-linux.sh [idle seconds, default 10] [transfers, default 3]
# Needs the default and windows builds (it builds the two programs it runs).
set -euo pipefail
cd "$(dirname "$0")/.."
idle=${1:-10}
transfers=${2:-3}
sim=build/default/sim/varnel-sensor-sim

cmake --build --preset default --target varnel-sensor-sim bench_serial_link >/dev/null
cmake --build --preset windows --target bench_serial_link >/dev/null

# Simulated ports are published under the runtime directory: a private one.
XDG_RUNTIME_DIR=$(mktemp -d /tmp/varnel-bench-runtime.XXXXXX)
export XDG_RUNTIME_DIR
simpid=
cleanup() {
  if [ -n "$simpid" ]; then kill "$simpid" 2>/dev/null || true; wait "$simpid" 2>/dev/null || true; fi
  rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT

run_linux() {
  local out="$XDG_RUNTIME_DIR/sim.out" link=""
  "$sim" --name "bench-$$" --pace 115200 --no-stdin-commands --exit-with-parent </dev/null >"$out" 2>/dev/null &
  simpid=$!
  for _ in $(seq 100); do
    link=$(sed -n 's/^link //p' "$out")
    [ -n "$link" ] && break
    sleep 0.1
  done
  [ -n "$link" ] || { echo "the simulator published no port" >&2; return 1; }
  build/default/bench/bench_serial_link "$link" "$idle" "$transfers"
  kill "$simpid"; wait "$simpid" 2>/dev/null || true
  simpid=
}

run_wine() {
  python3 tests/support/wine_sim_run.py --prefix build/windows/wineprefix --sim "$sim" --sim-arg=--pace=115200 \
    -- build/windows/bench/bench_serial_link.exe '{port}' "$idle" "$transfers"
}

field() { sed -nE "s/^result .*$2=([0-9.]+).*/\1/p" <<<"$1"; }

echo "load before: $(uptime)"
echo "== Linux (RelWithDebInfo, g++, pty)"
linux=$(run_linux | tee /dev/stderr | grep '^result ')
echo "== Windows under wine (RelWithDebInfo, mingw-w64 g++, COM port mapped to a pty)"
windows=$(run_wine | tee /dev/stderr | grep '^result ')
echo "load after: $(uptime)"
echo
printf '%-44s %12s %12s %8s\n' "" "Linux" "wine" "goal"
printf '%-44s %12s %12s %8s\n' "idle link, processor time (% of one core)" \
  "$(field "$linux" idle_cpu_percent)" "$(field "$windows" idle_cpu_percent)" "<= 0.5"
printf '%-44s %12s %12s %8s\n' "64 KiB at 115200 Bd, median time (s)" \
  "$(field "$linux" transfer_s)" "$(field "$windows" transfer_s)" ""
printf '%-44s %12s %12s %8s\n' "wire-time limit (s)" "$(field "$linux" limit_s)" "$(field "$windows" limit_s)" ""
printf '%-44s %12s %12s %8s\n' "limit / time (%)" \
  "$(field "$linux" percent_of_limit)" "$(field "$windows" percent_of_limit)" ">= 98"
printf '%-44s %12s %12s %8s\n' "chunk round trip over wire time, median (ms)" \
  "$(field "$linux" chunk_overhead_ms)" "$(field "$windows" chunk_overhead_ms)" ""
printf '%-44s %12s %12s %8s\n' "the same, 90th percentile (ms)" \
  "$(field "$linux" chunk_overhead_p90_ms)" "$(field "$windows" chunk_overhead_p90_ms)" ""
