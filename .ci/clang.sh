#!/usr/bin/env bash
# The build and the tests once more with clang++ (Debian's clang), warnings as errors: code
# that only one compiler accepts, or a warning only the other one gives, fails here. The
# slow tests ran in the g++ build already.
set -euo pipefail
cd "$(dirname "$0")/.."
# Its build directory has a blank in its name, as many users' folders have.
build="${KORVEL_CLANG_BUILD_DIR:-build clang}"

.ci/install-deps test clang
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVEL_WERROR=ON \
  -DKORVEL_BENCH=OFF >/dev/null
cmake --build "$build" -j2
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j2 -LE slow
