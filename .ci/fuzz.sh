#!/usr/bin/env bash
# Fuzzing: builds the libFuzzer targets with clang (ASan and UBSan on) in build-fuzz and runs
# each for a bounded time from the committed seed corpus, copied to a temporary directory so
# that the repository stays unchanged. Prints executions and coverage; a crash, a sanitizer
# finding or a failed check fails the script and leaves the input in build-fuzz/artifacts/.
#
#   .ci/fuzz.sh [SECONDS]     seconds per target, default 60 (or FUZZ_SECONDS)
set -euo pipefail

cd "$(dirname "$0")/.."
seconds="${1:-${FUZZ_SECONDS:-60}}"
build="${KORVEL_FUZZ_BUILD_DIR:-build-fuzz}"

.ci/install-deps clang libclang-rt-14-dev  # clang, libFuzzer and the sanitizer runtimes

CC=clang CXX=clang++ cmake -S . -B "$build" -DKORVEL_FUZZ=ON -DKORVEL_GUI=OFF -DKORVEL_TESTS=OFF \
  -DKORVEL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_core fuzz_cli fuzz_hex fuzz_asm

mkdir -p "$build/artifacts"
artifacts="$(cd "$build/artifacts" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

status=0
for target in core cli hex asm; do
  corpus="$work/$target"
  mkdir -p "$corpus"
  cp fuzz/corpus/"$target"/* "$corpus"/
  log="$work/$target.log"
  echo "fuzz_$target: $seconds s from $(ls "$corpus" | wc -l) seed inputs"
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/fuzz_$target-" "$corpus" >"$log" 2>&1; then
    echo "fuzz_$target FAILED; the end of its log:"
    tail -n 40 "$log"
    status=1
    continue
  fi
  # "#12345<TAB>DONE   cov: 483 ft: 3678 corp: 570/130Kb ..." and "stat::...: N"
  done_line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)"
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")"
  corp="$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<<"$done_line")"
  echo "fuzz_$target: $execs executions ($rate/s), coverage: $cov edges, $ft features, corpus $corp, no failures"
done
exit $status
