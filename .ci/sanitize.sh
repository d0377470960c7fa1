#!/usr/bin/env bash
# Sanitizer build: configures build-asan with AddressSanitizer and UndefinedBehaviorSanitizer
# (KORVEL_SANITIZE=ON), builds Korvel and its tests (not the benchmarks) and runs the whole
# test suite under them.
# KORVEL_ASAN_BUILD_DIR names another build directory.
set -euo pipefail

cd "$(dirname "$0")/.."
build="${KORVEL_ASAN_BUILD_DIR:-build-asan}"

.ci/install-deps test

# Under the sanitizers the differential sample is a smaller one: its task here is to run
# every instruction page under ASan and UBSan; the full sample runs in the normal build.
cmake -S . -B "$build" -DKORVEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_BENCH=OFF \
  -DKORVEL_DIFFERENTIAL_INSTRUCTIONS=2000000 -DKORVEL_WERROR=ON
cmake --build "$build" -j2

export QT_QPA_PLATFORM=offscreen
# Any finding fails its test. Leaks are checked too, except those inside Qt's own
# libraries (see lsan.supp).
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$PWD/.ci/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The Windows comparison tests the cross-built programs, not this build: it runs in ./test.sh.
ctest --test-dir "$build" --output-on-failure -j2 -LE windows
