#!/usr/bin/env bash
# Installs what is missing (asking before it uses sudo), builds Korvel with its tests and
# runs all of them. The build directory is "build" unless KORVEL_BUILD_DIR names another;
# KORVEL_CMAKE_ARGS adds options to the configuration (CI: -DKORVEL_WERROR=ON).
# A developer in a hurry can leave out the slow tests: ctest --test-dir build -LE slow
set -euo pipefail
cd "$(dirname "$0")"
build="${KORVEL_BUILD_DIR:-build}"
jobs="$(nproc 2>/dev/null || echo 2)"

.ci/install-deps test
# shellcheck disable=SC2086
cmake -S . -B "$build" -DKORVEL_TESTS=ON ${KORVEL_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs"
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" ctest --test-dir "$build" --output-on-failure -j "$jobs"
