# Sourced by the drive scripts of scripts/screenshot.sh and scripts/screenshot_server.sh, run in
# the folder that holds kalder and settings.cfg with out set to the pictures' folder: starts the
# window manager and the window, and gives the helpers that drive and photograph it.
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
