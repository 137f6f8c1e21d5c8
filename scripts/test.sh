#!/usr/bin/env bash
# Installs what is missing, builds Movenna and runs every test.
# With --sanitize: everything again under AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-sanitize/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ "${1:-}" = "--sanitize" ]; then
  bash scripts/build.sh build-sanitize -DMOVENNA_SANITIZE=ON -DMOVENNA_WERROR=ON -DCMAKE_BUILD_TYPE=Debug
  export QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)" -L 'core|e2e'
  # Qt, GStreamer and PulseAudio keep some memory to the end on purpose:
  # the window's tests are checked for memory errors, not for leaks.
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)" -L gui
else
  bash scripts/build.sh build -DMOVENNA_WERROR=ON -DCMAKE_CXX_FLAGS=-D_GLIBCXX_ASSERTIONS
  export QT_QPA_PLATFORM=offscreen
  ctest --test-dir build --output-on-failure -j"$(nproc)"
fi
