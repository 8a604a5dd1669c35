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
cp scripts/xdrive.sh "$demo/"

cat >"$demo/drive.sh" <<'DRIVE'
set -euo pipefail
out=$1
source ./xdrive.sh

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
