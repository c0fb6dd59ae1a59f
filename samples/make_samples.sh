#!/usr/bin/env bash
# Makes the nine bundled pictures, picture1.jpg … picture9.jpg: each shows its number large,
# an arrow and the word "up" at its top edge, and a corner mark at its top left, on its own
# colour, so a picture drawn upside down or mirrored is plain at a glance.
# Needs ImageMagick and the DejaVu fonts (scripts/setup.sh test installs both).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
colours=(
  "#c0392b" "#2e86c1" "#239b56" "#d68910" "#7d3c98"
  "#17a589" "#ba4a00" "#2c3e50" "#a93226"
)
for n in 1 2 3 4 5 6 7 8 9; do
  colour=${colours[$((n - 1))]}
  convert -size 512x512 "xc:$colour" \
    -fill white -stroke none \
    -draw "polygon 256,24 316,104 282,104 282,150 230,150 230,104 196,104" \
    -font "$font" -pointsize 44 -annotate +328+84 "up" \
    -draw "rectangle 16,16 80,32" -draw "rectangle 16,16 32,80" \
    -pointsize 300 -gravity center -annotate +0+40 "$n" \
    -quality 90 -sampling-factor 4:2:0 "picture$n.jpg"
done
