#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the demo need and is
# missing. Idempotent and quiet when everything is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  clang-14 libclang-rt-14-dev
  qt6-base-dev qt6-translations-l10n libgl-dev
  libsimpleini-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-microhei xvfb xauth
  desktop-file-utils file unzip
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

# Wine runs under zh_CN.UTF-8 (ANSI code page 936, CJK font fallback); without the
# generated locale it loses the Chinese window captions.
zh_locale_missing() {
  [ "${VARNEL_WITH_WINDOWS:-0}" = 1 ] && ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8'
}
make_zh_locale() {
  $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
}

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ ${#missing[@]} -eq 0 ]; then
  if zh_locale_missing; then make_zh_locale; fi
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
if zh_locale_missing; then make_zh_locale; fi
