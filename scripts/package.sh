#!/usr/bin/env bash
# Makes the release packages:
#   build/default/varnel_<version>_amd64.deb          varnel, varnel-cli, varnel-sensor-sim
#   build/windows/varnel-windows-x64-<version>.zip    varnel.exe, varnel-cli.exe, README.txt
# and checks both (scripts/check-packages.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
VARNEL_WITH_WINDOWS=1 scripts/install-deps.sh

jobs=$(nproc)
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs" --target package
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target package
bash scripts/check-packages.sh
