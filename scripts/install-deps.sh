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
  packages+=(g++-mingw-w64-x86-64-posix googletest wine64 wine locales)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# Wine under LANG=zh_CN.UTF-8 gives the operators' code page 936 and renders the
# Chinese captions; without the generated locale it loses them.
zh_locale() {
  [ "${VARNEL_WITH_WINDOWS:-0}" = 1 ] || return 0
  locale -a 2>/dev/null | grep -qix 'zh_CN.utf8' && return 0
  command -v locale-gen >/dev/null || return 0  # locales comes with the packages below
  $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  $SUDO locale-gen >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
  zh_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
zh_locale
