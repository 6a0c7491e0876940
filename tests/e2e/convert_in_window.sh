#!/usr/bin/env bash
# End to end: the real program under a virtual display gets two sample files on its command
# line, the 开始 toolbar button is clicked, and both outputs must appear and decode.
# Usage: convert_in_window.sh BUILD_DIR MEDIA_DIR [SCREENSHOT.png]
set -euo pipefail
build=$1
media=$2
shot=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A copy of the program of its own, so its option.ini lands here and not in the build tree.
mkdir -p "$work/bin" "$work/home"
cp "$build/bin/lingchuan-converter" "$work/bin/"
out="$work/home/凌川视频软件/输出"

cat >"$work/run.sh" <<SCRIPT
#!/usr/bin/env bash
set -u
# A real X window whatever the suite set for the unit tests, and a UTF-8 locale so that
# xdotool matches the Chinese title.
unset QT_QPA_PLATFORM
export HOME="$work/home" SDL_AUDIODRIVER=dummy LC_ALL=C.UTF-8
"$work/bin/lingchuan-converter" "$media/h264_aac_640x360.mp4" "$media/mpeg4_mp3_320x240.avi" \
  >"$work/program.log" 2>&1 &
pid=\$!
# The window, once its two rows are in (the title appears when it is shown).
for _ in \$(seq 300); do
  win=\$(xdotool search --name '凌川安卓手机格式转换器' 2>/dev/null | head -n 1) && [ -n "\$win" ] && break
  sleep 0.1
done
[ -n "\${win:-}" ] || { echo "no window"; kill \$pid; cat "$work/program.log"; exit 1; }
sleep 2
# 开始 sits on the toolbar at a fixed place of the fixed-size window.
eval "\$(xdotool getwindowgeometry --shell "\$win")"
xdotool mousemove --sync \$((X + 217)) \$((Y + 46)) click 1
shot_taken=0
for _ in \$(seq 600); do
  n=\$(ls "$out" 2>/dev/null | grep -c -E '[.]avi\$' || true)
  if [ -n "$shot" ] && [ \$shot_taken -eq 0 ]; then
    import -window root "$shot" && shot_taken=1
  fi
  # Done when both outputs read back whole (the trailer is written last).
  if [ "\$n" -ge 2 ]; then
    done_count=0
    for f in "$out"/*.avi; do
      d=\$(ffprobe -v error -show_entries format=duration -of csv=p=0 "\$f" 2>/dev/null || true)
      awk -v d="\$d" 'BEGIN { exit !(d + 0 >= 2.5) }' && done_count=\$((done_count + 1))
    done
    [ \$done_count -ge 2 ] && break
  fi
  sleep 0.1
done
sleep 1
# A desktop session ends programs with SIGTERM; the program must not swallow it.
kill \$pid 2>/dev/null
for _ in \$(seq 100); do kill -0 \$pid 2>/dev/null || exit 0; sleep 0.1; done
echo "the program ignored SIGTERM" >"$work/sigterm"
kill -9 \$pid
exit 0
SCRIPT
chmod +x "$work/run.sh"
status=0
xvfb-run -a -s "-screen 0 1024x700x24" "$work/run.sh" || status=$?
if [ -e "$work/sigterm" ]; then
  cat "$work/sigterm"
  status=1
fi
for name in h264_aac_640x360.avi mpeg4_mp3_320x240.avi; do
  f="$out/$name"
  if [ ! -s "$f" ]; then
    echo "missing output: $f"
    status=1
    continue
  fi
  streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$f" | sort | tr '\n' ' ')
  if [ "$streams" != "audio video " ]; then
    echo "unexpected streams in $name: $streams"
    status=1
  fi
done
if [ $status -ne 0 ]; then
  echo "--- program output"
  tail -n 40 "$work/program.log" || true
  ls -la "$out" 2>/dev/null || true
fi
exit $status
