#!/usr/bin/env bash
# Builds and runs every test: the whole suite, then the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the tests without Qt under
# ThreadSanitizer, then the fuzz targets for a bounded time. Exits non-zero on
# the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# Tests publish simulated ports under the runtime directory; keep them apart from a desktop session.
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR_FOR_TESTS:-$(mktemp -d /tmp/varnel-test-runtime.XXXXXX)}"
chmod 700 "$XDG_RUNTIME_DIR"

stage() { printf '\n===== %s =====\n' "$*"; }

run_suite() {
  local preset=$1
  stage "configure + build ($preset)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  stage "tests ($preset)"
  ctest --preset "$preset" -j "$jobs" --timeout 600
}

run_suite default
ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
  run_suite asan
# ThreadSanitizer over every test that runs without Qt (link, platform,
# protocol, faults, soak and the rest): the reader, timer and caller threads meet there.
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  run_suite tsan

stage "fuzz targets (bounded)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --test-dir build/fuzz --output-on-failure --timeout 600

stage "Windows core (mingw-w64 cross build, tests under wine)"
bash scripts/test-windows.sh

stage "all test stages passed"
