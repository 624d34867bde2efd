#!/usr/bin/env bash
# Draws the two small icons of the program with ImageMagick: a serial plug for the "COM"
# entry and a gear for the tool entries. Run from anywhere; writes myImage/.
set -euo pipefail
cd "$(dirname "$0")/myImage"
convert -size 32x32 xc:none \
  -fill '#1f6fb2' -draw 'roundrectangle 4,8 27,23 4,4' \
  -fill white -draw 'circle 10,15 10,13' -draw 'circle 16,15 16,13' -draw 'circle 22,15 22,13' \
  -fill '#1f6fb2' -draw 'rectangle 12,24 19,29' \
  -define icon:auto-resize=32,16 lwarranty0.ico
convert -size 32x32 xc:none -fill '#3a8f3a' \
  -draw 'translate 16,16 rotate 0 rectangle -3,-15 3,15' \
  -draw 'translate 16,16 rotate 45 rectangle -3,-15 3,15' \
  -draw 'translate 16,16 rotate 90 rectangle -3,-15 3,15' \
  -draw 'translate 16,16 rotate 135 rectangle -3,-15 3,15' \
  -draw 'circle 16,16 16,5' \
  -fill none -stroke white -strokewidth 3 -draw 'circle 16,16 16,11' \
  -strip -depth 8 PNG32:0000_1.png
