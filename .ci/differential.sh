#!/usr/bin/env bash
# Differential check of the core against the z80ex library: builds differential_test in
# build-diff and runs the fixed-seed sample (the same one that ctest runs), printing how many
# instructions were compared, how fast, and the coverage of the documented forms.
#
#   .ci/differential.sh                     the fixed-seed sample
#   .ci/differential.sh --soak SECONDS      a random seed for SECONDS, seed printed first
#   .ci/differential.sh --seed N            the sample of another seed (a soak's, to repeat it)
set -euo pipefail

cd "$(dirname "$0")/.."
build="${KORVEL_DIFF_BUILD_DIR:-build-diff}"

.ci/install-deps test

cmake -S . -B "$build" -DKORVEL_GUI=OFF -DKORVEL_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target differential_test

if [ $# -eq 0 ]; then
  instructions="$(sed -n 's/^KORVEL_DIFFERENTIAL_INSTRUCTIONS:STRING=//p' "$build/CMakeCache.txt")"
  set -- --seed 1 --instructions "${instructions:-10000000}"
fi
exec "$build/tests/differential/differential_test" "$@"
