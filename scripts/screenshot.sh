#!/usr/bin/env bash
# Pictures of the window as an operator meets it, for docs/: the window under a real window
# manager (xfwm4 on Xvfb at 96 dpi, Russian locale) after the demo workbook has been analysed
# and one field linked, and the database dialog it opens. Builds kalder in Release, runs it on
# fresh demo files in a folder of its own, drives it with xdotool and crops each window with
# its frame from the screen.
#   scripts/screenshot.sh [OUTPUT_FOLDER]    (default: docs)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh xfwm4 xfconf dbus-x11 xdotool x11-utils
out=$(realpath -m "${1:-docs}")
mkdir -p "$out"
build=${KALDER_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKALDER_TESTS=OFF >/dev/null
cmake --build "$build" --target kalder

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
cp "$build/kalder" "$demo/"
/usr/bin/python3 scripts/make_demo.py "$demo"

cat >"$demo/drive.sh" <<'DRIVE'
set -euo pipefail
out=$1
# The window manager keeps its settings in xfconf, reached over the session bus.
xfwm4 --compositor=off >/dev/null 2>&1 &
sleep 2
LANG=ru_RU.UTF-8 ./kalder >/dev/null 2>&1 &
app=$!
win=$(xdotool search --sync --onlyvisible --classname kalder | tail -1)
sleep 1

# Waits for a dialog of the program, a visible window other than the main one, and prints
# it. (xdotool's search by name does not read the Russian titles.)
dialog() {
  local w
  for _ in $(seq 100); do
    for w in $(xdotool search --onlyvisible --classname kalder 2>/dev/null); do
      [ "$w" != "$win" ] && { sleep 1; echo "$w"; return; }
    done
    sleep 0.1
  done
  echo "no dialog appeared; the screen is in $out/failed.png" >&2
  import -window root "$out/failed.png"
  return 1
}
# Clicks at a point of the window's client area, in pixels: the design's twips / 15.
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; sleep 0.5; }
# Saves the window w with its frame, from a picture of the whole screen.
shoot() {
  local w=$1 file=$2 x y width height l r t b
  eval "$(xwininfo -id "$w" | awk '/Absolute upper-left X/ {print "x=" $NF}
                                    /Absolute upper-left Y/ {print "y=" $NF}
                                    /Width:/ {print "width=" $NF}
                                    /Height:/ {print "height=" $NF}')"
  read -r l r t b < <(xprop -id "$w" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  import -window root "$screen"
  convert "$screen" -crop "$((width + l + r))x$((height + t + b))+$((x - l))+$((y - t))" +repage "$file"
}
screen=$PWD/screen.png

# The database dialog, opened by the "..." beside "Путь к БД": it lists demo.db.
click 728 38
files=$(dialog)
shoot "$files" "$out/database-dialog.png"
xdotool key Escape
sleep 1

# Analysis of the header row, then "Код" with rule 1 linked to the database field Code.
click 152 542                                     # Анализ входного файла
dialog >/dev/null                                 # "Анализ входных полей выполнен"
xdotool key Return
sleep 1
click 60 141                                      # the first field of lv_Fields
xdotool key Return
dialog >/dev/null                                 # the rule's input box
xdotool type 1
xdotool key Return
sleep 1
click 600 141                                     # the first field of lv_DB
xdotool key Return
sleep 1
shoot "$win" "$out/window.png"

kill "$app"
DRIVE

(cd "$demo" && xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" dbus-launch --exit-with-session \
  bash drive.sh "$out")
echo "Pictures saved: $out/window.png, $out/database-dialog.png"
