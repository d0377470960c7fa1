#!/usr/bin/env bash
# korvel-cli built for Windows with mingw-w64 and run under wine must print exactly what the
# native korvel-cli prints, byte for byte (its OUT lines with one CR LF each), and write the
# same out.log, on the example programs.
#
#   compare.sh NATIVE_KORVEL_CLI SOURCE_DIR WORK_DIR
# Builds the Windows programs in WORK_DIR/mingw (core, peripherals, korvel-cli, without the
# windows). Exit status 77 (skipped) when mingw-w64 or wine is missing.
set -euo pipefail
native="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
source="$(cd "$2" && pwd)"
work="$3"

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
   ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "skipped: the mingw-w64 cross compiler is not installed (g++-mingw-w64-x86-64-posix)"
  exit 77
fi
wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null; then wine="$(command -v "$candidate")"; break; fi
done
if [ -z "$wine" ]; then
  echo "skipped: wine is not installed (wine64)"
  exit 77
fi

mkdir -p "$work"
build="$work/mingw"
cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORVEL_GUI=OFF -DKORVEL_TESTS=OFF -DKORVEL_BENCH=OFF \
  -DKORVEL_WERROR=ON >"$work/mingw-configure.log"
cmake --build "$build" -j2 --target korvel-cli >"$work/mingw-build.log" ||
  { tail -n 30 "$work/mingw-build.log"; exit 1; }
exe="$build/cli/korvel-cli.exe"

export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all
runs="$work/runs"
rm -rf "$runs"
mkdir -p "$runs/native" "$runs/windows"
cp "$source"/examples/*.bin "$source"/examples/*.hex "$runs/native/"
cp "$source"/examples/*.bin "$source"/examples/*.hex "$runs/windows/"

status=0
# Each case: the arguments, run in the folder of the examples.
while IFS= read -r args; do
  [ -z "$args" ] && continue
  read -ra argv <<<"$args"
  (set +e; cd "$runs/native"; "$native" "${argv[@]}" >stdout </dev/null 2>/dev/null; echo $? >status)
  (set +e; cd "$runs/windows"; "$wine" "$exe" "${argv[@]}" >stdout </dev/null 2>/dev/null; echo $? >status)
  for file in stdout status out.log; do
    if ! cmp -s "$runs/native/$file" "$runs/windows/$file" 2>/dev/null &&
       [ -e "$runs/native/$file" -o -e "$runs/windows/$file" ]; then
      echo "DIFFERENT $file for: korvel-cli $args"
      diff <(od -c "$runs/native/$file" 2>&1) <(od -c "$runs/windows/$file" 2>&1) | head -n 10 || true
      status=1
    fi
  done
  echo "same: korvel-cli $args"
done <<'CASES'
--in 41 --out-log - hello.bin
--in 41 hello.hex
--trace --tstates --dump 8000:18 pages.bin
--steps 7 --break 0008 --in 41 --out-log - hello.bin
--out-log - missing.bin
CASES
exit $status
