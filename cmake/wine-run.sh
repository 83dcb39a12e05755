#!/bin/sh
# Runs a cross-built Windows program under wine for ctest: no debug chatter, no
# window or install dialog (Mono, Gecko), and a wine prefix of the build's own,
# made on first use.
#   wine-run.sh <wine prefix> <program.exe> [arguments...]
# With VARNEL_WINE_RUN_DIRECT=1 the program runs with this script's standard
# streams (a caller that talks to it line by line), without the retry below.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
# The operators' code page (936) and wine's CJK font fallback, where the locale exists.
if locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8'; then export LANG=zh_CN.UTF-8; unset LC_ALL; fi
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset WAYLAND_DISPLAY
# Windows programs with windows (the dialog tests, varnel.exe) need an X server:
# scripts/test-windows.sh starts an Xvfb and names it in VARNEL_WINE_DISPLAY.
if [ -n "${VARNEL_WINE_DISPLAY:-}" ]; then export DISPLAY="$VARNEL_WINE_DISPLAY"; else unset DISPLAY; fi
mkdir -p "$(dirname "$prefix")"
(
  # One test at a time gets here; the others wait until wine is ready for them.
  # (What starts here must not inherit the lock: wine's server would hold it for its life.)
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&-
    wineserver -w 9>&-  # let that first server go, so the one below is ours
  fi
  # Windows drawn by wine itself, not left to a window manager: the test display
  # has none, and hiding a window would wait seconds for one to answer.
  if ! grep -q '^"Managed"="N"' "$prefix/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
  fi
  # Wine's server and its background services outlive the program that starts them
  # and keep that program's output open: ctest would wait for them to end. So when
  # no server runs for the prefix, start one, and the services, with no tie to ours.
  # The server stays 30 s after the last program so that the next test finds it
  # ready instead of paying wine's start-up again; then it ends by itself.
  if wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
    wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"
if [ "${VARNEL_WINE_RUN_DIRECT:-0}" = 1 ]; then exec wine "$@"; fi
# Now and then (about one start in a few hundred, with two tests starting at
# once) wine ends a program before it has run a line of it, printing nothing.
# A test program always prints, so a silent failure is wine's: start it once more.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for attempt in 1 2; do
  status=0
  wine "$@" >"$out" 2>&1 || status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ]; then break; fi
  echo "wine-run: $1 ended with status $status before printing anything (attempt $attempt)" >&2
done
cat "$out"
exit "$status"
