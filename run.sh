#!/usr/bin/env bash
# Installs what is missing, builds Korvel and starts the Korvel window with the bundled
# example (examples/hello.bin) ready to load as program.bin. Without a display, or when the
# window could not be built, runs the example with korvel-cli in the terminal instead.
# The build directory is "build" unless KORVEL_BUILD_DIR names another.
set -euo pipefail
cd "$(dirname "$0")"
build="${KORVEL_BUILD_DIR:-build}"
jobs="$(nproc 2>/dev/null || echo 2)"

.ci/install-deps build
cmake -S . -B "$build"
cmake --build "$build" -j "$jobs"

window="$build/ui/korvel"
example="examples/hello.bin"
if [ -x "$window" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  # The window loads program.bin from the directory of its executable.
  target="$(dirname "$window")/program.bin"
  if [ -e "$target" ] && ! cmp -s "$example" "$target"; then
    echo "Keeping the existing $target; copy $example there to try the example."
  else
    cp "$example" "$target"
    echo "The example is in $target: choose Tools, Program Loader (Ctrl+P), then"
    echo "Simulation, Start (F1). The port read asks for a byte; OUT lines go to"
    echo "$(dirname "$window")/out.log."
  fi
  exec "$window"
fi

if [ ! -x "$window" ]; then
  echo "The Korvel window was not built, so the example runs in the terminal with korvel-cli."
else
  echo "No display (DISPLAY and WAYLAND_DISPLAY are empty), so the example runs in the"
  echo "terminal with korvel-cli."
fi
echo "+ $build/cli/korvel-cli --in 41 --out-log - $example"
exec "$build/cli/korvel-cli" --in 41 --out-log - "$example"
