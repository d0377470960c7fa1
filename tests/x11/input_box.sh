#!/usr/bin/env bash
# The port input box in a real window on a real X server (Xvfb), driven with xdotool as a user
# drives it: a program that reads a port in a loop at the Fast rate brings the box back after
# every answer; its Stop run button must end the run, and a close request to the main window
# while the box is open must end the program (exit status 0) with out.log intact.
#
#   input_box.sh KORVEL_BINARY
# Exit status 77 (skipped) when Xvfb, xdotool or python3 is missing.
set -euo pipefail
korvel="$1"
here="$(cd "$(dirname "$0")" && pwd)"
for tool in Xvfb xdotool python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (the CI installs it with .ci/install-deps)"
    exit 77
  fi
done

work="$(mktemp -d)"
xvfb=""
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "out.log:"; cat "$work/out.log" 2>/dev/null || true
  exit 1
}

# A display of our own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# The window loads program.bin from its own directory: IN A,(01H); OUT (02H),A; JR back.
cp "$korvel" "$work/korvel"
printf '\xDB\x01\xD3\x02\x18\xFA' >"$work/program.bin"

visible() { xdotool search --onlyvisible --name '^Korvel$' 2>/dev/null || true; }
# Waits until `visible` lists exactly N windows; prints them.
wait_windows() {
  local n="$1" ids=""
  for _ in $(seq 200); do
    ids="$(visible)"
    [ "$(printf '%s' "$ids" | grep -c .)" -eq "$n" ] && { echo "$ids"; return 0; }
    sleep 0.05
  done
  fail "expected $n visible Korvel windows, found: $(printf '%s ' $ids)"
}
log_lines() { [ -f "$work/out.log" ] && grep -c . "$work/out.log" || echo 0; }
# Keys go to the focused window; a window that has just appeared gets a moment to settle.
press() {  # WINDOW KEY...
  local window="$1"; shift
  sleep 0.2
  xdotool windowfocus --sync "$window"
  xdotool key "$@"
}

"$work/korvel" >"$work/stdout" 2>&1 &
app=$!
main="$(wait_windows 1)"

press "$main" ctrl+p                               # Program Loader
box="$(wait_windows 2 | grep -v "^$main\$")"       # "Operation completed!"
press "$box" Return
wait_windows 1 >/dev/null

press "$main" F1                                   # Start at the Fast rate
box="$(wait_windows 2 | grep -v "^$main\$")"
press "$box" 4 1 Return
for _ in $(seq 100); do [ "$(log_lines)" -eq 1 ] && break; sleep 0.05; done
[ "$(log_lines)" -eq 1 ] || fail "the answer 41 did not reach out.log"
box="$(wait_windows 2 | grep -v "^$main\$")"       # the next IN asks at once

press "$box" alt+s                                 # Stop run
wait_windows 1 >/dev/null
sleep 0.3
kill -0 "$app" 2>/dev/null || fail "the program ended on Stop run"
[ "$(log_lines)" -eq 1 ] || fail "out.log changed after Stop run"
wait_windows 1 >/dev/null                          # the run stopped: the box stays away
echo "ok: Stop run ended the run with the IN unexecuted"

press "$main" F1                                   # again, and close while the box is open
wait_windows 2 >/dev/null
python3 "$here/close_request.py" "$main"
status=""
for _ in $(seq 100); do
  if ! kill -0 "$app" 2>/dev/null; then
    wait "$app" && status=0 || status=$?
    break
  fi
  sleep 0.05
done
[ -n "$status" ] || fail "the close request was ignored while the input box was open"
app=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ "$(cat "$work/out.log")" = $'Data 41H sent to port 02H\r' ] || fail "out.log lost or gained lines"
echo "ok: a close request with the input box open ended the program, status 0, out.log intact"
