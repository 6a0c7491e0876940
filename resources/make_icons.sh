#!/usr/bin/env bash
# Renders the application icon icons/lingchuan-converter.svg into icons/lingchuan-converter-N.png
# at the sizes desktops ask for, and writes icons.qrc for the window icon. Run after editing the
# SVG; the PNGs are committed so that building needs no SVG renderer. Needs rsvg-convert
# (Debian package librsvg2-bin): ImageMagick's own SVG reader draws arcs and gradients wrongly.
set -euo pipefail
cd "$(dirname "$0")"
command -v rsvg-convert >/dev/null || {
  echo "rsvg-convert is missing: apt-get install librsvg2-bin" >&2
  exit 1
}
sizes=(16 32 48 64 128 256)
for n in "${sizes[@]}"; do
  rsvg-convert -w "$n" -h "$n" icons/lingchuan-converter.svg -o "icons/lingchuan-converter-$n.png"
done
{
  echo '<!DOCTYPE RCC><RCC version="1.0">'
  echo '<qresource prefix="/icons">'
  for n in "${sizes[@]}"; do
    echo "  <file alias=\"lingchuan-converter-$n.png\">icons/lingchuan-converter-$n.png</file>"
  done
  echo '</qresource>'
  echo '</RCC>'
} >icons.qrc
