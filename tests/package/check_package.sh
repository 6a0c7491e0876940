#!/usr/bin/env bash
# Packs a built tree into its Debian package, unpacks that into a throwaway root, and checks the
# installed layout, the package's dependencies, the desktop entry, and that both programs run
# from the unpacked tree and find their own files there.
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
pid=
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  exit 1
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one .deb" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
for p in libavcodec libavformat libavutil libavfilter libavdevice libswscale libswresample \
  libqt6widgets6 libqt6dbus6 libsdl2-2.0-0 libopencore-amrnb0 libgif7; do
  grep -q "\b$p" <<<"$depends" || fail "Depends lacks $p: $depends"
done
grep -q fonts-noto-cjk <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "fonts-noto-cjk not recommended"

root=$work/root
dpkg -x "$deb" "$root"
stray=$(find "$root" -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$stray" ] || fail "files outside /usr: $stray"
files=(
  bin/lingchuan-converter bin/lingchuan-cli
  share/lingchuan-converter/sounds/ring001.wav share/lingchuan-converter/docs/help.html
  share/applications/lingchuan-converter.desktop
  share/icons/hicolor/scalable/apps/lingchuan-converter.svg
)
for n in 16 32 48 64 128 256; do
  files+=("share/icons/hicolor/${n}x$n/apps/lingchuan-converter.png")
done
for f in "${files[@]}"; do
  [ -f "$root/usr/$f" ] || fail "missing /usr/$f"
done
for n in 16 32 48 64 128 256; do
  f=$root/usr/share/icons/hicolor/${n}x$n/apps/lingchuan-converter.png
  [ -f "$f" ] || continue
  # PNG header: width and height as 32-bit big-endian numbers at bytes 16 and 20.
  size=$(od -An -tu1 -j16 -N8 "$f" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
  [ "$size" = "${n}x$n" ] || fail "icon ${n}x$n is $size"
done
for p in lingchuan-converter lingchuan-cli; do
  [ -x "$root/usr/bin/$p" ] || fail "/usr/bin/$p is not executable"
  readelf -d "$root/usr/bin/$p" | grep -q 'R.*PATH.*\$ORIGIN/LibAV' || fail "$p has no run path \$ORIGIN/LibAV"
done
desktop-file-validate "$root/usr/share/applications/lingchuan-converter.desktop" || fail "desktop entry"

# The command-line tool runs from the unpacked tree.
cli=$root/usr/bin/lingchuan-cli
if help=$("$cli" --help 2>&1); then
  grep -qi usage <<<"$help" || fail "lingchuan-cli --help prints no usage"
else
  fail "lingchuan-cli --help failed: $help"
fi
if grep -q -- '--list' <<<"$help"; then
  if list=$("$cli" --list 2>&1); then
    lines=$(grep -c . <<<"$list")
    [ "$lines" -eq 123 ] || fail "lingchuan-cli --list printed $lines lines, not 123"
    head -1 <<<"$list" | grep -qP '^0\.0\tAndroid视频\t.+\(\*\.\w+\)$' ||
      fail "lingchuan-cli --list: unexpected first line: $(head -1 <<<"$list")"
  else
    fail "lingchuan-cli --list failed: $list"
  fi
fi

# The window program runs from the unpacked tree and knows it is installed: it finds its files
# under share/ and so keeps its settings in the user's folder, not beside itself, even for root.
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
"$root/usr/bin/lingchuan-converter" --version >"$work/version.log" 2>&1 ||
  fail "lingchuan-converter --version: $(cat "$work/version.log")"
home=$work/home
mkdir -p "$home"
HOME=$home XDG_CONFIG_HOME=$home/.config "$root/usr/bin/lingchuan-converter" >"$work/window.log" 2>&1 &
pid=$!
ini=$home/.config/lingchuan-converter/option.ini
for _ in $(seq 300); do
  [ -f "$ini" ] && grep -q Thread_Priority "$ini" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[ -f "$ini" ] || fail "the installed window wrote no $ini: $(cat "$work/window.log")"
[ ! -e "$root/usr/bin/option.ini" ] || fail "the installed window wrote option.ini beside itself"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
pid=

[ $status -eq 0 ] && echo "package layout: ok"
exit $status
