#!/usr/bin/env bash
# The real varnolt in a real window: starts on the bundled pictures, shows them upright in the
# cross, moves the row on Right and the column on Down, and closes with exit code 0 on SIGTERM.
# Usage: browse_window.sh VARNOLT SOURCE_DIR   (needs a display; the test script provides one)
set -euo pipefail
varnolt=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; [[ -n "${VARNOLT_E2E_KEEP:-}" ]] && cp "$work"/*.txt "$work"/*.png "$VARNOLT_E2E_KEEP"/ 2>/dev/null; rm -rf "$work"' EXIT
cp "$source_dir"/samples/picture*.jpg "$work"/
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

"$varnolt" 2>"$work/stderr.txt" &
pid=$!
window=""
for _ in $(seq 1 100); do
  window=$(xdotool search --classname MyClass 2>/dev/null | head -1 || true)
  [[ -n "$window" ]] && break
  sleep 0.1
done
[[ -n "$window" ]] || fail "no window of class MyClass"
[[ "$(xdotool getwindowname "$window")" == "OpenGL Varnolt" ]] || fail "wrong title"
eval "$(xdotool getwindowgeometry --shell "$window")"
[[ "$WIDTH" == 540 && "$HEIGHT" == 350 ]] || fail "client area ${WIDTH}x${HEIGHT}"
sleep 1

# Brightness (0-765) and colour of one window pixel.
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]\n" info:; }
brightness() { local r g b; read -r r g b < <(pixel "$@"); echo $((r + g + b)); }
# First lit pixel along the middle row from the left, and down the middle column from the top.
first_lit_x() { for x in $(seq 0 2 539); do (( $(brightness "$1" "$x" 175) > 60 )) && { echo "$x"; return; }; done; echo -1; }
first_lit_y() { for y in $(seq 0 2 349); do (( $(brightness "$1" 270 "$y") > 60 )) && { echo "$y"; return; }; done; echo -1; }

import -window "$window" start.png

# The centre square (picture 1, red) spans about x 225-315, y 130-219: the arrow near its top is
# bright, its bottom edge shows the picture's own colour, so it is upright and true-coloured.
top=$(brightness start.png 270 150)
bottom=$(brightness start.png 270 212)
(( top > bottom + 60 )) || fail "centre picture not upright (top $top, bottom $bottom)"
read -r r g b < <(pixel start.png 236 212)
(( r > g + 30 && r > b + 30 )) || fail "centre picture is not red ($r $g $b)"
# The square right of the centre shows picture 5 (green-blue), the one below picture 2 (blue).
read -r r g b < <(pixel start.png 320 205)
(( g > r + 20 )) || fail "first right picture is not picture 5 ($r $g $b)"
read -r r g b < <(pixel start.png 240 255)
(( b > r + 20 )) || fail "first below picture is not picture 2 ($r $g $b)"

row_before=$(first_lit_x start.png)
column_before=$(first_lit_y start.png)
xdotool mousemove --window "$window" 270 175
xdotool keydown Right; sleep 0.3; xdotool keyup Right
sleep 0.3
import -window "$window" right.png
row_after=$(first_lit_x right.png)
(( row_after > row_before + 4 )) || fail "Right did not move the row right ($row_before -> $row_after)"

xdotool keydown Down; sleep 0.3; xdotool keyup Down
sleep 0.3
import -window "$window" down.png
column_after=$(first_lit_y down.png)
(( column_after > column_before + 4 )) || fail "Down did not move the column down ($column_before -> $column_after)"

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
(( status == 0 )) || fail "exit code $status after SIGTERM"
grep -q "Loded texture successfully..." stderr.txt || fail "no load text: $(cat stderr.txt)"
[[ -n "$(head -1 stderr.txt)" ]] || fail "no vendor line"
if [[ -n "${VARNOLT_E2E_KEEP:-}" ]]; then cp start.png right.png down.png "$VARNOLT_E2E_KEEP"/; fi
echo "browse_window: ok"
