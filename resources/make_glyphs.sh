#!/usr/bin/env bash
# Renders the window's pictures from glyphs/*.svg into png/: each glyph as NAME.png and, for the
# commands that can be switched off, a greyed NAME_disabled.png. Run after editing a glyph; the
# PNGs are committed so that building needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p png
for svg in glyphs/*.svg; do
  name=$(basename "$svg" .svg)
  convert -background none "$svg" -strip "png/$name.png"
done
for name in add remove clear start stop pause resume options rename preview_play preview_pause \
  preview_stop preview_snapshot; do
  convert "png/$name.png" -colorspace Gray -channel A -evaluate multiply 0.5 +channel -strip \
    "png/${name}_disabled.png"
done
{
  echo '<!DOCTYPE RCC><RCC version="1.0">'
  echo '<qresource prefix="/glyphs">'
  for png in png/*.png; do
    echo "  <file alias=\"$(basename "$png")\">$png</file>"
  done
  echo '</qresource>'
  echo '</RCC>'
} >app.qrc
