#!/usr/bin/env bash
# Renders the dialogs in a real X server (Xvfb) with the CJK font installed,
# checks their layout, and writes the main dialog to a PNG for a person to look at,
# together with the main dialog after "Device disconnected", with an eight-character
# S/N and with an extended CAN id (out-disconnected.png, out-sn8.png, out-extid.png),
# and the firmware progress window at N/N (out-progress.png).
#   scripts/screenshot.sh [out.png]     (default: build/default/main-dialog.png)
# With --windows: the main, connect, progress and registration dialogs of the Win32
# build (varnel.exe's dialogs) as wine draws them under zh_CN.UTF-8, as main.png,
# connect.png, progress.png and registration.png in the folder given, and the main
# dialog connected to the simulated sensor on a COM port wine maps to it
# (main-connected.png; the simulator comes from the Linux build).
#   scripts/screenshot.sh --windows [folder]   (default: build/windows/shots)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--windows" ]; then
  VARNEL_WITH_WINDOWS=1 scripts/install-deps.sh
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target varnel-dialog-shot >/dev/null
  cmake --preset default >/dev/null
  cmake --build --preset default --target varnel-sensor-sim >/dev/null
  folder=${2:-build/windows/shots}
  mkdir -p "$folder"
  # The runner starts the simulator and maps a COM port of the prefix to it;
  # wine sees the Linux file system as drive Z:.
  xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'VARNEL_WINE_DISPLAY=$DISPLAY exec python3 "$@"' sh \
    tests/support/wine_sim_run.py --prefix "$PWD/build/windows/wineprefix" --sim build/default/sim/varnel-sensor-sim \
    -- build/windows/tests/ui_main/varnel-dialog-shot.exe "Z:$(realpath "$folder")"
  exit 0
fi
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target varnel-layout-check varnel-progress-shot >/dev/null
out=${1:-build/default/main-dialog.png}
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" build/default/tests/ui_main/varnel-layout-check "$out"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
  build/default/tests/ui_firmware/varnel-progress-shot "${out%.png}-progress.png"
