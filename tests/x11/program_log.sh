#!/usr/bin/env bash
# Korvel as installed software on a real X server: `korvel PATH` with a relative PATH to a
# program file while the application directory takes no out.log. F1 runs the program, and its OUT
# lines must land in the out.log that the window chose: beside the program when that folder
# takes it, otherwise in the user's data folder; nothing may be written anywhere else.
#
#   program_log.sh KORVEL_BINARY
# Exit status 77 (skipped) when Xvfb, xdotool or python3 is missing.
set -euo pipefail
korvel="$1"
. "$(dirname "$0")/common.sh"

# The application directory is read-only, and since root writes anywhere, a folder named
# out.log stands where the log would go.
app_dir="$work/app"
mkdir -p "$app_dir/out.log"
cp "$korvel" "$app_dir/korvel"
chmod 555 "$app_dir"
data_log="$XDG_DATA_HOME/Korvel/out.log"

# LD A,41H; OUT (01H),A; INC A; OUT (02H),A; HALT
program=$':080000003E41D3013CD302761E\r\n:00000001FF\r\n'
expected=$'Data 41H sent to port 01H\r\nData 42H sent to port 02H\r'

# Starts korvel in FOLDER with the relative PATH, runs the program with F1 and closes the
# window; the lines must be in LOG.
run() {  # FOLDER PATH LOG
  local folder="$1" path="$2" log="$3"
  shown_on_failure=("$work/stdout" "$log")
  (cd "$folder" && exec "$app_dir/korvel" "$path") >"$work/stdout" 2>&1 &
  app=$!
  main="$(wait_windows 1)"
  press "$main" F1
  for _ in $(seq 400); do [ "$(line_count "$log")" -ge 2 ] && break; sleep 0.05; done
  [ "$(cat "$log" 2>/dev/null)" = "$expected" ] || fail "the OUT lines are not in $log"
  wait_windows 1 >/dev/null  # no message box: the run ended at its HALT
  close_and_wait "$main"
  [ "$app_status" = 0 ] || fail "the program ended with status '$app_status'"
}

# A folder that takes the log, with a blank and a non-ASCII letter in its name.
beside="$work/my programs/ž"
mkdir -p "$beside"
printf '%s' "$program" >"$beside/prog.hex"
run "$work/my programs" "ž/prog.hex" "$beside/out.log"
[ ! -e "$data_log" ] || fail "the data folder got a log it did not need"
echo "ok: korvel ž/prog.hex, in a writable folder, logs beside the program"

# A folder that does not: read-only, with a folder named out.log in it.
readonly_dir="$work/read-only"
mkdir -p "$readonly_dir/out.log"
printf '%s' "$program" >"$readonly_dir/prog.hex"
chmod 555 "$readonly_dir"
run "$readonly_dir" prog.hex "$data_log"
echo "ok: korvel prog.hex, in a read-only folder, logs in the data folder"

listing="$(cd "$work" && find app read-only -mindepth 1 | sort | tr '\n' ' ')"
[ "$listing" = "app/korvel app/out.log read-only/out.log read-only/prog.hex " ] ||
  fail "files appeared where no log may go: $listing"
echo "ok: nothing written in the application directory or the read-only folder"
