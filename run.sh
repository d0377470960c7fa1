#!/usr/bin/env bash
# Installs what is missing, builds Korvel and starts the Korvel window with the bundled
# example (examples/hello.asm) in the source editor, assembled and loaded. Without a display, or when the window could not be
# built, runs the example with korvel-cli in the terminal instead.
# The build directory is "build" unless KORVEL_BUILD_DIR names another.
set -euo pipefail
cd "$(dirname "$0")"
build="${KORVEL_BUILD_DIR:-build}"
jobs="$(nproc 2>/dev/null || echo 2)"

.ci/install-deps build
cmake -S . -B "$build"
cmake --build "$build" -j "$jobs"

window="$build/ui/korvel"
source="examples/hello.asm"
example="examples/hello.bin"
if [ -x "$window" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  echo "Korvel opens with $source in its source editor, assembled and loaded: Simulation,"
  echo "Start (F1) runs it, Debug, Step Into (F11) steps through it. The port read asks for"
  echo "a byte; the OUT lines appear in the Output panel and in the out.log that the status"
  echo "bar names."
  exec "$window" "$source"
fi

if [ ! -x "$window" ]; then
  echo "The Korvel window was not built, so the example runs in the terminal with korvel-cli."
else
  echo "No display (DISPLAY and WAYLAND_DISPLAY are empty), so the example runs in the"
  echo "terminal with korvel-cli."
fi
echo "+ $build/cli/korvel-cli --in 41 --out-log - $example"
exec "$build/cli/korvel-cli" --in 41 --out-log - "$example"
