#!/usr/bin/env bash
# Cross-builds the core without Qt for 64-bit Windows (mingw-w64) and runs its tests
# under wine: link, platform (Win32), protocol, ledger, ui/rules, the sensor model, the
# dialogs on Win32, and the Windows programs end to end against the (Linux) simulated
# sensor on a COM port that wine maps to its pseudo-terminal, among them the dialog
# suites of the main window, the connect dialog, the link watch, the settings and card
# search (each case with simulators of its own, tests/support/wine_sim_run.py). Tests
# that need a pseudo-terminal inside the Windows program are reported as skipped.
# Exits non-zero on a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
VARNEL_WITH_WINDOWS=1 scripts/install-deps.sh

jobs=$(nproc)
stage() { printf '\n===== %s =====\n' "$*"; }

# The Windows programs are tested against the simulator of the Linux build.
stage "the simulated sensor (Linux build)"
cmake --preset default >/dev/null
cmake --build --preset default --target varnel-sensor-sim -j "$jobs"

stage "configure + build (windows, mingw-w64)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

# The dialog tests and varnel.exe make windows, and wine needs an X server for them:
# a virtual one for this run, unless the caller names one in VARNEL_WINE_DISPLAY.
if [ -z "${VARNEL_WINE_DISPLAY:-}" ]; then
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true; rm -f "$displayfile"' EXIT
  for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
  [ -s "$displayfile" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export VARNEL_WINE_DISPLAY=":$(head -1 "$displayfile")"
fi

# ctest runs each test program through cmake/wine-run.sh, which makes the wine
# prefix (build/windows/wineprefix) on first use and keeps wine quiet and headless.
stage "tests under wine"
log=$(mktemp)
status=0
ctest --preset windows -j "$jobs" --timeout 600 2>&1 | tee "$log" || status=$?
summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
skipped=$(grep -cE '^\s+[0-9]+ - .* \(Skipped\)$' "$log" || true)
rm -f "$log"
total=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$summary")
failed=$(sed -nE 's/.*, ([0-9]+) tests? failed.*/\1/p' <<<"$summary")
echo
echo "${summary:-ctest printed no summary}"
echo "$(( ${total:-0} - ${failed:-0} - skipped )) tests passed, ${failed:-?} failed, $skipped skipped (need a pseudo-terminal or Python)"
echo "tests run under wine: ${total:-0}"
[ "$status" -eq 0 ] && [ -n "$summary" ] || exit 1
