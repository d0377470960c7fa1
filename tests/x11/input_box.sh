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
. "$(dirname "$0")/common.sh"
shown_on_failure=("$work/out.log")

# The window loads program.bin from its own directory: IN A,(01H); OUT (02H),A; JR back.
cp "$korvel" "$work/korvel"
printf '\xDB\x01\xD3\x02\x18\xFA' >"$work/program.bin"
log_lines() { line_count "$work/out.log"; }

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
for _ in $(seq 400); do [ "$(log_lines)" -eq 1 ] && break; sleep 0.05; done
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
close_and_wait "$main"
[ -n "$app_status" ] || fail "the close request was ignored while the input box was open"
[ "$app_status" -eq 0 ] || fail "the program ended with status $app_status"
[ "$(cat "$work/out.log")" = $'Data 41H sent to port 02H\r' ] || fail "out.log lost or gained lines"
echo "ok: a close request with the input box open ended the program, status 0, out.log intact"
