#!/usr/bin/env bash
# Builds and runs the tests.
#
#   bash scripts/test.sh           every test: the whole suite, then the same suite without
#                                  the soak run under AddressSanitizer + UndefinedBehaviorSanitizer,
#                                  then the tests without Qt under ThreadSanitizer, the fuzz
#                                  targets side by side for a bounded time, the Windows build
#                                  under wine, and the release packages. This is what CI runs.
#   bash scripts/test.sh --quick   the everyday check: the default build and its unit and
#                                  end-to-end tests (no soak, no sanitizers, no fuzzing, no wine).
#
# Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: bash scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# Tests publish simulated ports under the runtime directory; keep them apart from a
# desktop session, and remove the folder this run made when it ends, however it ends.
if [ -n "${XDG_RUNTIME_DIR_FOR_TESTS:-}" ]; then
  export XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR_FOR_TESTS"
else
  XDG_RUNTIME_DIR="$(mktemp -d /tmp/varnel-test-runtime.XXXXXX)"
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
chmod 700 "$XDG_RUNTIME_DIR"

stage() { printf '\n===== %s =====\n' "$*"; }
started=$SECONDS
elapsed() { local s=$((SECONDS - started)); printf '%dm%02ds' $((s / 60)) $((s % 60)); }

build() {
  local preset=$1
  stage "configure + build ($preset)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}

# A test without one of the labels would be run by no stage that picks by label.
check_labels() {
  local preset=$1 unlabelled
  unlabelled=$(ctest --preset "$preset" -N -LE '^(unit|e2e|soak|fuzz)$' | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')
  if [ "${unlabelled:-1}" != 0 ]; then
    echo "tests without a label (unit, e2e, soak, fuzz) in $preset:" >&2
    ctest --preset "$preset" -N -LE '^(unit|e2e|soak|fuzz)$' >&2
    exit 1
  fi
}

# run_tests <preset> <ctest label arguments...>
run_tests() {
  local preset=$1
  shift
  stage "tests ($preset${*:+, $*})"
  check_labels "$preset"
  ctest --preset "$preset" -j "$jobs" --timeout 600 "$@"
}

build default
if [ "$quick" = 1 ]; then
  run_tests default -LE '^soak$'
  stage "quick test run passed in $(elapsed)"
  exit 0
fi
run_tests default

build asan
ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
  run_tests asan -LE '^soak$'

# ThreadSanitizer over every test that runs without Qt (link, platform, protocol,
# faults and the rest): the reader, timer and caller threads meet there.
build tsan
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  run_tests tsan -LE '^soak$'

# Each fuzz target runs for a fixed time, so they run side by side rather than in turn.
build fuzz
stage "fuzz targets (bounded, side by side)"
fuzzers=$(ctest --test-dir build/fuzz -N -L '^fuzz$' | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')
ctest --test-dir build/fuzz -L '^fuzz$' -j "${fuzzers:-1}" --output-on-failure --timeout 600

stage "Windows (mingw-w64 cross build, tests under wine)"
bash scripts/test-windows.sh

stage "release packages (.deb and Windows zip, unpacked and run)"
cmake --build --preset default -j "$jobs" --target package
cmake --build --preset windows -j "$jobs" --target package
bash scripts/check-packages.sh

stage "all test stages passed in $(elapsed)"
