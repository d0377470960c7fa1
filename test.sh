#!/usr/bin/env bash
# Installs what is missing, builds Korvel with its tests and runs all of them.
# The build directory is "build" unless KORVEL_BUILD_DIR names another.
set -euo pipefail
cd "$(dirname "$0")"
build="${KORVEL_BUILD_DIR:-build}"
jobs="$(nproc 2>/dev/null || echo 2)"

.ci/install-deps
cmake -S . -B "$build" -DKORVEL_TESTS=ON
cmake --build "$build" -j "$jobs"
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" ctest --test-dir "$build" --output-on-failure -j "$jobs"
