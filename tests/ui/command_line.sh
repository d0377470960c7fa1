#!/usr/bin/env bash
# korvel's command line: --help and --version in the GNU form without a display, a bad
# command line refused on stderr with exit status 2 before any window opens, and the
# --quit-after-run test hook.
#
#   command_line.sh KORVEL_BINARY
set -uo pipefail
korvel="$1"
failed=0
check() {  # WHAT EXPECTED_STATUS STDOUT_PATTERN STDERR_PATTERN -- ARGS...
  local what="$1" status="$2" out="$3" err="$4"
  shift 5
  local got_out got_err got_status errors
  errors="$(mktemp)"
  got_out="$("$korvel" "$@" 2>"$errors")"
  got_status=$?
  got_err="$(cat "$errors")"
  rm -f "$errors"
  if [ "$got_status" -ne "$status" ] || ! [[ "$got_out" =~ $out ]] || ! [[ "$got_err" =~ $err ]]; then
    echo "FAIL: $what: status $got_status, stdout:"; echo "$got_out"; echo "stderr:"; echo "$got_err"
    failed=1
  fi
}
# No display at all for these two.
(
  unset DISPLAY WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
  check "--help" 0 $'^Usage: korvel \\[OPTION\\]\\.\\.\\. \\[PROGRAM\\]\n.*--version  +output version information and exit\n' '^$' -- --help
  check "--version" 0 $'^korvel \\(Korvel\\) [0-9]+\\.[0-9]+\\.[0-9]+\n' '^$' -- prog.bin --version
  exit $failed
) || failed=1
export QT_QPA_PLATFORM=offscreen
try="Try 'korvel --help' for more information."
check "unknown option" 2 '^$' "korvel: unrecognized option '--bogus'"$'\n'"$try" -- --bogus
check "two programs" 2 '^$' "korvel: extra operand 'b.bin'"$'\n'"$try" -- a.bin b.bin
check "no prefix" 2 '^$' "korvel: option '--screenshot' requires an argument" -- --screenshot
check "no status log" 2 '^$' "korvel: option '--status-log' requires an argument" -- --status-log
check "hook without a program" 2 '^$' "korvel: --quit-after-run needs a PROGRAM" -- --quit-after-run
# The test hook: a run at the Extremely Fast rate, how it ended on stdout, then the exit.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf '\x3E\x05\x76' >"$work/halts.bin"
printf '\x18\xFE' >"$work/loops.bin"
check "a run to HALT" 0 '^HALT at 0002H' '' -- --quit-after-run "$work/halts.bin"
check "a run to the limit" 1 '^Stopped after 1,000,000 instructions' '' -- \
  --quit-after-run "$work/loops.bin"
check "a missing program" 2 '^$' "Can't find file missing.bin" -- --quit-after-run "$work/missing.bin"
exit $failed
