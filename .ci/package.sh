#!/usr/bin/env bash
# The Debian package: built with CPack from the Release build that ./test.sh made, its
# contents and metadata checked, installed with apt-get on this machine, its programs run
# from the installed files, installed again over itself, then removed. Installing needs
# root (CI runs as root); elsewhere the script stops after the checks of the package.
#
#   .ci/package.sh         (KORVEL_BUILD_DIR names the build directory; default "build")
set -euo pipefail
cd "$(dirname "$0")/.."
build="${KORVEL_BUILD_DIR:-build}"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

.ci/install-deps test man-db
(cd "$build" && rm -f korvel_*.deb && cpack -G DEB >/dev/null 2>&1)
deb="$(ls "$build"/korvel_*.deb)"
echo "built $deb"

# What the package must hold.
contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for file in usr/bin/korvel usr/bin/korvel-cli usr/bin/korvel-asm \
  usr/share/applications/org.korvel.Korvel.desktop \
  usr/share/metainfo/org.korvel.Korvel.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/korvel.svg \
  usr/share/icons/hicolor/16x16/apps/korvel.png usr/share/icons/hicolor/48x48/apps/korvel.png \
  usr/share/icons/hicolor/256x256/apps/korvel.png \
  usr/share/man/man1/korvel.1 usr/share/man/man1/korvel-cli.1 usr/share/man/man1/korvel-asm.1 \
  usr/share/korvel/examples/hello.asm usr/share/korvel/examples/hello.bin \
  usr/share/korvel/examples/hello.hex usr/share/korvel/examples/pages.asm \
  usr/share/korvel/examples/pages.bin; do
  grep -qx "\./$file" <<<"$contents" || fail "the package lacks /$file"
done
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends does not name Qt 6 Widgets: $depends"
version="$(dpkg-deb -f "$deb" Version)"
grep -q "project(Korvel VERSION $version " CMakeLists.txt || fail "version $version is not the project's"

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/org.korvel.Korvel.desktop"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/org.korvel.Korvel.metainfo.xml"
echo "ok: contents, dependencies ($depends), desktop entry and AppStream metadata"

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: the package is not installed here"
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
apt-get install -y "./$deb" >/dev/null
work="$unpacked/work"
mkdir -p "$work/home"
export HOME="$work/home" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
examples=/usr/share/korvel/examples

# Outputs are taken whole before they are searched: grep -q would close the pipe early.
for program in korvel-cli korvel-asm korvel; do
  output="$("$program" --version)"
  [ "${output%%$'\n'*}" = "$program (Korvel) $version" ] || fail "$program --version"
done
output="$(korvel-cli --in 41 --out-log - "$examples/hello.bin")"
grep -q 'Data 42H sent to port 03H' <<<"$output" || fail "the installed korvel-cli on hello.bin"
korvel-asm -o "$work/hello.bin" "$examples/hello.asm"
cmp -s "$work/hello.bin" "$examples/hello.bin" || fail "korvel-asm does not make hello.bin again"
if [ -f /usr/share/man/man1/korvel-cli.1 ]; then
  page="$(man -P cat korvel-cli)"
  grep -q 'korvel-cli - run a Z80 program' <<<"$page" || fail "man korvel-cli"
  man -w korvel korvel-asm >/dev/null || fail "the manual pages of korvel and korvel-asm"
elif grep -qs 'path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  echo "this system's dpkg leaves manual pages out (path-exclude): man not tried"
else
  fail "the manual pages were not installed"
fi

# The installed window, offscreen: a program in a folder of the user's, run to its HALT;
# its OUT line goes to out.log beside it.
printf ' ld a,41h\n out (5),a\n halt\n' >"$work/send.asm"
output="$(korvel --quit-after-run "$work/send.asm")"
grep -q '^HALT at 0004H' <<<"$output" || fail "korvel PROGRAM"
[ "$(cat "$work/out.log")" = $'Data 41H sent to port 05H\r' ] || fail "the window's out.log"
settings="$(find "$HOME/.config" -name '*.conf' | head -n 1)"
[ -n "$settings" ] || fail "the window kept no settings (recent programs)"
echo "ok: the installed programs run; manual pages; the window's settings in $settings"

# A second install over the first keeps the user's settings.
apt-get install -y --reinstall "./$deb" >/dev/null
[ -f "$settings" ] || fail "reinstalling lost the user's settings"
korvel-cli --version >/dev/null
apt-get remove -y korvel >/dev/null
[ ! -e /usr/bin/korvel-cli ] || fail "korvel-cli is still there after the removal"
echo "ok: installed twice and removed"
