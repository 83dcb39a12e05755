#!/usr/bin/env bash
# Builds the tool and the simulated sensor, starts the simulator (paced like a
# real 115200 Bd line, a card coming and going) and then the tool. Pick the
# simulator's port ("varnel-demo") in the connect dialog. Quitting the tool
# stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target varnel varnel-sensor-sim

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: run it under a virtual one with: xvfb-run -a bash scripts/run.sh" >&2
  exit 2
fi

sim_out=$(mktemp)
build/default/sim/varnel-sensor-sim --name varnel-demo --pace 115200 --card cycle,305419896,3000,2000 \
  --firmware 2.1.7 --hardware 1.3.0 --sn "26 12 DEMO01" --no-stdin-commands --exit-with-parent >"$sim_out" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -f "$sim_out"' EXIT
for _ in $(seq 100); do
  grep -q '^link ' "$sim_out" && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$sim_out"; echo "the simulated sensor did not start" >&2; exit 1; }
  sleep 0.05
done
echo "simulated sensor: $(grep '^link ' "$sim_out" | cut -d' ' -f2-)"
build/default/app/varnel
