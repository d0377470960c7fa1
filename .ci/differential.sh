#!/usr/bin/env bash
# Differential check of the core against the z80ex library: builds differential_test in
# build-diff and runs the fixed-seed sample (the same one that ctest runs), printing how many
# instructions were compared, how fast, and the coverage of the documented forms.
#
#   .ci/differential.sh                     the fixed-seed sample
#   .ci/differential.sh --soak SECONDS      a random seed for SECONDS, seed printed first
#   .ci/differential.sh --seed N --program K --trace    replay one reported program
set -euo pipefail

# Installs the Debian packages named when they are missing.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  echo "Installing missing packages: ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
}

cd "$(dirname "$0")/.."
build="${KORVEL_DIFF_BUILD_DIR:-build-diff}"

.ci/install-deps
install_missing libz80ex-dev

cmake -S . -B "$build" -DKORVEL_GUI=OFF -DKORVEL_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target differential_test

if [ $# -eq 0 ]; then
  instructions="$(sed -n 's/^KORVEL_DIFFERENTIAL_INSTRUCTIONS:STRING=//p' "$build/CMakeCache.txt")"
  set -- --seed 1 --instructions "${instructions:-10000000}"
fi
exec "$build/tests/differential/differential_test" "$@"
