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

# Without GoogleTest the build still goes through, and says how to get the tests.
nogtest=build-without-gtest
mkdir -p "$nogtest"
CC=clang CXX=clang++ cmake -S . -B "$nogtest" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DKORVEL_GUI=OFF -DKORVEL_BENCH=OFF -DKORVEL_WERROR=ON 2>"$nogtest/configure.log" >/dev/null
grep -q "GoogleTest was not found, so the tests are not built" "$nogtest/configure.log"
cmake --build "$nogtest" -j2 --target korvel-cli korvel-asm >/dev/null
echo "ok: without GoogleTest the programs build and the configuration says what to install"
