#!/usr/bin/env bash
# korvel-cli and korvel-asm built for Windows with mingw-w64 and run under wine must print
# exactly what the native programs print, byte for byte (OUT lines with one CR LF each), and
# write the same files (out.log, images, listings), on the example programs.
#
#   compare.sh NATIVE_KORVEL_CLI SOURCE_DIR WORK_DIR
# Builds the Windows programs in WORK_DIR/mingw (core, peripherals, assembler, korvel-cli,
# korvel-asm; not the windows). Native korvel-asm is the one beside NATIVE_KORVEL_CLI's
# build. Exit status 77 (skipped) when mingw-w64 or wine is missing.
set -euo pipefail
native="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
native_asm="$(cd "$(dirname "$1")/../assembler" && pwd)/korvel-asm"
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
cmake --build "$build" -j2 --target korvel-cli korvel-asm >"$work/mingw-build.log" ||
  { tail -n 30 "$work/mingw-build.log"; exit 1; }
declare -A windows=([korvel-cli]="$build/cli/korvel-cli.exe" [korvel-asm]="$build/assembler/korvel-asm.exe")
declare -A natives=([korvel-cli]="$native" [korvel-asm]="$native_asm")

export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all
# The first run sets wine's prefix up and says so on stderr: done here, before the cases.
"$wine" "${windows[korvel-cli]}" --version >/dev/null 2>&1 || true
runs="$work/runs"
rm -rf "$runs"
mkdir -p "$runs/native" "$runs/windows"
cp "$source"/examples/*.bin "$source"/examples/*.hex "$source"/examples/*.asm "$runs/native/"
cp "$source"/examples/*.bin "$source"/examples/*.hex "$source"/examples/*.asm "$runs/windows/"
printf ' ld a,300\n jr far\n' >"$runs/native/bad.asm"
cp "$runs/native/bad.asm" "$runs/windows/bad.asm"

wine_folder="Z:${runs//\//\\}\\windows\\"  # how wine names $runs/windows/
status=0
# Each case: the program and its arguments, run in the folder of the examples; then the
# files that may differ: standard output and error, the exit status, out.log, what
# korvel-asm wrote.
while IFS= read -r args; do
  [ -z "$args" ] && continue
  read -ra argv <<<"$args"
  program="${argv[0]}"
  argv=("${argv[@]:1}")
  (set +e; cd "$runs/native"; "${natives[$program]}" "${argv[@]}" >stdout </dev/null 2>stderr
   echo $? >status)
  (set +e; cd "$runs/windows"; "$wine" "${windows[$program]}" "${argv[@]}" >stdout </dev/null 2>stderr
   echo $? >status)
  # Messages on standard error are the programs' own lines: Windows ends them with CR LF,
  # and names the folder as wine shows it.
  sed -i 's/\r$//' "$runs/windows/stderr"
  sed -i "s|$runs/native/|FOLDER/|g" "$runs/native/stderr"
  sed -i "s|${wine_folder//\\/\\\\}|FOLDER/|g" "$runs/windows/stderr"
  for file in stdout stderr status out.log hello.bin pages.bin out.hex out.lst; do
    if ! cmp -s "$runs/native/$file" "$runs/windows/$file" 2>/dev/null &&
       [ -e "$runs/native/$file" -o -e "$runs/windows/$file" ]; then
      echo "DIFFERENT $file for: $args"
      diff <(od -c "$runs/native/$file" 2>&1) <(od -c "$runs/windows/$file" 2>&1) | head -n 10 || true
      status=1
    fi
  done
  echo "same: $args"
done <<'CASES'
korvel-cli --in 41 --out-log - hello.bin
korvel-cli --in 41 hello.hex
korvel-cli --trace --tstates --dump 8000:18 pages.bin
korvel-cli --steps 7 --break 0008 --in 41 --out-log - hello.bin
korvel-cli --in 41 --out-log - hello.asm
korvel-cli --out-log - missing.bin
korvel-asm hello.asm
korvel-asm -l out.lst --hex -o out.hex pages.asm
korvel-asm pages.asm
korvel-asm bad.asm
CASES
exit $status
