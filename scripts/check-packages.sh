#!/usr/bin/env bash
# Checks the release packages made by `--target package` in build/default and
# build/windows: the .deb unpacked into a temporary root runs its varnel-cli and
# declares its dependencies; the desktop entry validates; the zip unpacked runs its
# varnel-cli.exe under wine. Exits non-zero on the first fault.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -nE 's/^project\(Varnel .*VERSION ([0-9.]+)\).*/\1/p' CMakeLists.txt)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

deb=$(ls build/default/varnel_"$version"_*.deb)
echo "== $deb"
dpkg-deb -x "$deb" "$root/deb"
info=$(dpkg-deb -I "$deb")
echo "$info" | grep -E '^ (Package|Version|Depends):'
depends=$(echo "$info" | sed -nE 's/^ Depends: //p')
for lib in libc6 libstdc++6 libqt6widgets6; do
  grep -q "$lib" <<<"$depends" || { echo "the package does not depend on $lib" >&2; exit 1; }
done
for program in varnel varnel-cli varnel-sensor-sim; do
  [ -x "$root/deb/usr/bin/$program" ] || { echo "the package lacks /usr/bin/$program" >&2; exit 1; }
done
shown=$("$root/deb/usr/bin/varnel-cli" --version)
echo "varnel-cli --version: $shown"
grep -qF "$version" <<<"$shown" || { echo "varnel-cli does not show $version" >&2; exit 1; }
desktop-file-validate "$root/deb/usr/share/applications/varnel.desktop"
[ -f "$root/deb/usr/share/icons/hicolor/64x64/apps/varnel.png" ] || { echo "the package lacks its icon" >&2; exit 1; }
dpkg-deb -I "$deb" postinst | grep -q dialout || { echo "the package says nothing about dialout" >&2; exit 1; }

zip=build/windows/varnel-windows-x64-$version.zip
echo "== $zip"
unzip -q "$zip" -d "$root/zip"
for file in varnel.exe varnel-cli.exe README.txt; do
  [ -f "$root/zip/$file" ] || { echo "the zip lacks $file" >&2; exit 1; }
done
shown=$(cmake/wine-run.sh "$PWD/build/windows/wineprefix" "$root/zip/varnel-cli.exe" --version | tr -d '\r')
echo "varnel-cli.exe --version: $shown"
grep -qF "$version" <<<"$shown" || { echo "varnel-cli.exe does not show $version" >&2; exit 1; }
echo "packages checked"
