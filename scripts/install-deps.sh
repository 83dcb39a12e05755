#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the demo need and is
# missing. Idempotent and quiet when everything is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  clang-14 libclang-rt-14-dev
  qt6-base-dev qt6-translations-l10n libgl-dev
  libsimpleini-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-microhei xvfb xauth
)
if [ "${VARNEL_WITH_WINDOWS:-0}" = 1 ]; then
  # The Windows cross build and its test run (scripts/test-windows.sh): mingw-w64 with
  # the posix thread model (std::thread, std::mutex), GoogleTest's sources, 64-bit wine.
  packages+=(g++-mingw-w64-x86-64-posix googletest wine64 wine)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
