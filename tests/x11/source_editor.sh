#!/usr/bin/env bash
# A learner's first program on a real X server (Xvfb), typed with xdotool: New Source
# (Ctrl+N), a program with a mistake on line 3, Assemble and Load (Ctrl+F9) naming the
# mistake's place, the fix, Ctrl+F9 again, Step Into (F11) with the source's highlighted line
# following PC, Continue (F5) to the HALT, Save (Ctrl+S) through the file dialog, and a close
# request that the unsaved-changes question holds up. What the window says is read from
# its --status-log.
#
#   source_editor.sh KORVEL_BINARY
# Exit status 77 (skipped) when Xvfb, xdotool or python3 is missing.
set -euo pipefail
korvel="$1"
. "$(dirname "$0")/common.sh"
status="$work/status"
log="$XDG_DATA_HOME/Korvel/out.log"  # a source that was never saved logs in the data folder
shown_on_failure=("$status" "$log" "$work/stdout")

# Waits until the window has said TEXT (a whole line of the status log); a busy machine
# may take seconds.
wait_status() {
  for _ in $(seq 400); do grep -qxF "$1" "$status" 2>/dev/null && return 0; sleep 0.05; done
  fail "the window never said: $1"
}

mkdir "$work/lesson"
(cd "$work/lesson" && exec "$korvel" --status-log "$status") >"$work/stdout" 2>&1 &
app=$!
main="$(wait_windows 1)"

press "$main" ctrl+n
wait_status "status: A new source: write the program, then Source > Assemble and Load (Ctrl+F9) puts it in memory"
for line in " ld a,41h" " out (1),a" " lx a,42h" " out (1),a" " halt"; do
  xdotool type --delay 20 "$line"
  xdotool key Return
done
press "$main" ctrl+F9
wait_status "status: untitled.asm has 1 error, the first at line 3, column 2; nothing was loaded (see the Errors panel)"
[ ! -e "$log" ] || fail "a source with an error ran"
echo "ok: Ctrl+F9 named the line of the mistake and loaded nothing"

press "$main" ctrl+Home Down Down Home Right Right Delete d  # lx becomes ld
press "$main" ctrl+F9
wait_status "status: Loaded untitled.asm: assembled, 9 bytes at 0000H-0008H; Start (F1) runs it from 0000H"
wait_status "source: PC 0000H is on line 1."
for step in "0002H is on line 2" "0004H is on line 3" "0006H is on line 4"; do
  press "$main" F11
  wait_status "source: PC $step."
done
[ "$(cat "$log")" = $'Data 41H sent to port 01H\r' ] || fail "the first OUT did not reach out.log"
press "$main" F5
wait_status "status: HALT at 0008H: the program has stopped. Start runs the program again from 0000H"
wait_status "source: PC 0008H is on line 5."
[ "$(cat "$log")" = $'Data 41H sent to port 01H\r\nData 42H sent to port 01H\r' ] ||
  fail "out.log does not hold the two OUT lines"
echo "ok: fixed, assembled and run, the highlighted line followed PC to the HALT"

press "$main" ctrl+s
dialog=""
for _ in $(seq 400); do
  dialog="$(xdotool search --onlyvisible --name '^Save Source$' 2>/dev/null || true)"
  [ -n "$dialog" ] && break
  sleep 0.05
done
[ -n "$dialog" ] || fail "Ctrl+S on a new source did not ask where to save it"
press "$dialog" ctrl+a
xdotool type --delay 20 "$work/lesson/first"
press "$dialog" Return
for _ in $(seq 400); do [ -f "$work/lesson/first.asm" ] && break; sleep 0.05; done
[ "$(cat "$work/lesson/first.asm" 2>/dev/null)" = \
  $' ld a,41h\n out (1),a\n ld a,42h\n out (1),a\n halt' ] || fail "first.asm is not the source"
echo "ok: Ctrl+S saved the source as first.asm"

press "$main" x
wait_status "source: The source has changed since it was assembled: Assemble and Load (Ctrl+F9) to follow PC and set breakpoints in it again."
python3 "$x11_dir/close_request.py" "$main"
question="$(wait_windows 2 | grep -v "^$main\$")"
press "$question" Escape  # Cancel
wait_windows 1 >/dev/null
sleep 0.3
kill -0 "$app" 2>/dev/null || fail "the window closed although the question was cancelled"
press "$main" ctrl+z  # back to the saved text: nothing to ask about
close_and_wait "$main"
[ "$app_status" = 0 ] || fail "the program ended with status '$app_status'"
echo "ok: closing with unsaved changes asked first; cancelled, the window stayed"
