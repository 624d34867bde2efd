#!/usr/bin/env bash
# Draws the icons of the program with ImageMagick: a serial plug for the "COM" entry and, at
# 48x48 and 256x256, for the program itself (the menu entry's icon, in hicolor/); a gear for
# the tool entries. Run from anywhere; writes myImage/ and hicolor/.
set -euo pipefail
cd "$(dirname "$0")"

# The plug, drawn on a 32x32 grid scaled to the size asked for, into the file named.
plug() {
  local size=$1 out=$2 f
  f=$(awk "BEGIN { print $size / 32 }")
  convert -size "${size}x${size}" xc:none \
    -fill '#1f6fb2' -draw "scale $f,$f roundrectangle 4,8 27,23 4,4" \
    -fill white -draw "scale $f,$f circle 10,15 10,13 circle 16,15 16,13 circle 22,15 22,13" \
    -fill '#1f6fb2' -draw "scale $f,$f rectangle 12,24 19,29" \
    -strip -depth 8 "PNG32:$out"
}

convert -size 32x32 xc:none \
  -fill '#1f6fb2' -draw 'roundrectangle 4,8 27,23 4,4' \
  -fill white -draw 'circle 10,15 10,13' -draw 'circle 16,15 16,13' -draw 'circle 22,15 22,13' \
  -fill '#1f6fb2' -draw 'rectangle 12,24 19,29' \
  -define icon:auto-resize=32,16 myImage/lwarranty0.ico
for size in 48 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  plug "$size" "hicolor/${size}x${size}/apps/org.rurodur.Rurodur.png"
done
convert -size 32x32 xc:none -fill '#3a8f3a' \
  -draw 'translate 16,16 rotate 0 rectangle -3,-15 3,15' \
  -draw 'translate 16,16 rotate 45 rectangle -3,-15 3,15' \
  -draw 'translate 16,16 rotate 90 rectangle -3,-15 3,15' \
  -draw 'translate 16,16 rotate 135 rectangle -3,-15 3,15' \
  -draw 'circle 16,16 16,5' \
  -fill none -stroke white -strokewidth 3 -draw 'circle 16,16 16,11' \
  -strip -depth 8 PNG32:myImage/0000_1.png
