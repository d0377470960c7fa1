# Shared by the scripts that drive Korvel's windows on a real X server (Xvfb) with xdotool, as
# a user drives them. Sourced after `set -euo pipefail`; makes `work`, a temporary folder
# removed at exit, starts Xvfb on a display of its own and defines the helpers below. Exits
# with status 77 (skipped) when Xvfb, xdotool or python3 is missing.
x11_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
for tool in Xvfb xdotool python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (the CI installs it with .ci/install-deps)"
    exit 77
  fi
done

work="$(mktemp -d)"
xvfb=""
app=""          # the program under test, while it runs
shown_on_failure=()  # files that `fail` prints
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# To stderr, so that it shows from inside $(...) too.
fail() {
  {
    echo "FAIL: $*"
    local f
    for f in "${shown_on_failure[@]}"; do
      echo "$f:"
      cat "$f" 2>/dev/null || true
    done
  } >&2
  exit 1
}

# A display of our own: Xvfb picks a free number and writes it to fd 3.
# -noreset: the server must not reset between two programs of one test, or the second can find
# it gone for a moment.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 400); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The user's settings and data folder (where out.log may go) are the test's own.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
# Under AddressSanitizer: libxkbcommon-x11 copies X atom names, which carry no terminating
# NUL, with strndup and their exact length; the strict string check takes that for an
# overflow before Korvel's code has run.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"

visible() { xdotool search --onlyvisible --name '^Korvel$' 2>/dev/null || true; }
# Waits until `visible` lists exactly N windows; prints them.
wait_windows() {
  local n="$1" ids=""
  for _ in $(seq 400); do
    ids="$(visible)"
    [ "$(printf '%s' "$ids" | grep -c .)" -eq "$n" ] && { echo "$ids"; return 0; }
    sleep 0.05
  done
  fail "expected $n visible Korvel windows, found: $(printf '%s ' $ids)"
}
# Keys go to the focused window; a window that has just appeared gets a moment to settle.
press() {  # WINDOW KEY...
  local window="$1"; shift
  sleep 0.2
  xdotool windowfocus --sync "$window"
  xdotool key "$@"
}
# Lines in FILE (0 when it is missing).
line_count() { [ -f "$1" ] && grep -c . "$1" || echo 0; }
# Asks WINDOW to close as a window manager does and waits for the program `app` to end;
# sets `app_status` to its exit status (empty when it did not end).
close_and_wait() {  # WINDOW
  python3 "$x11_dir/close_request.py" "$1"
  app_status=""
  for _ in $(seq 400); do
    if ! kill -0 "$app" 2>/dev/null; then
      wait "$app" && app_status=0 || app_status=$?
      app=""
      return 0
    fi
    sleep 0.05
  done
}
