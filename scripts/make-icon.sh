#!/usr/bin/env bash
# Redraws app/windows/varnel.ico (the icon of varnel.exe) and
# packaging/linux/varnel.png (the desktop entry's) from the same drawing as the
# Qt program's window icon. Both are committed; run this after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2046
c++ -std=c++20 -fPIC -I. $(pkg-config --cflags Qt6Gui) app/windows/make_icon.cpp ui/framework/qt/AppIcon.cpp \
  -o "$work/make_icon" $(pkg-config --libs Qt6Gui)
QT_QPA_PLATFORM=offscreen "$work/make_icon" app/windows/varnel.ico packaging/linux/varnel.png
echo "wrote app/windows/varnel.ico and packaging/linux/varnel.png"
