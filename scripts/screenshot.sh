#!/usr/bin/env bash
# Imports samples/bestand_bonn.xml through the real window on a virtual display, the way a user does it
# (the file dialog included), and saves the main window afterwards as docs/main-window-after-import.png.
# Needs Xvfb, xdotool and ImageMagick's "import" (apt-get install xvfb xdotool imagemagick).
# Uses the database of scripts/run.sh (.kelpora/), started when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing" >&2; exit 1; }
done

DISPLAY_NUMBER=${KELPORA_DISPLAY:-:91}
Xvfb "$DISPLAY_NUMBER" -screen 0 1024x768x24 >/dev/null 2>&1 &
XVFB_PID=$!
APP_PID=
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
export DISPLAY=$DISPLAY_NUMBER
sleep 1

# run.sh builds, prepares the database and Kelpora.ini, then runs the program on this display.
scripts/run.sh >/tmp/kelpora-screenshot.log 2>&1 &
APP_PID=$!
for _ in $(seq 1 120); do
  xdotool search --name "^Brenko-Kelpora$" >/dev/null 2>&1 && break
  sleep 1
done
xdotool search --name "^Brenko-Kelpora$" >/dev/null || { cat /tmp/kelpora-screenshot.log >&2; exit 1; }
sleep 1

# Without a window manager the windows sit at the top left corner of the screen.
xdotool mousemove 41 14 click 1      # "Datei(en) zum Umsetzen auswählen"
sleep 2
xdotool mousemove 367 351 click 1    # "Hinzufügen"
sleep 2
xdotool type --delay 10 "$ROOT/samples/bestand_bonn.xml"
xdotool key Return
sleep 1
MARKER=$(mktemp)
xdotool mousemove 160 395 click 1    # "Import starten"
for _ in $(seq 1 120); do
  [ -f build/log.html ] && [ build/log.html -nt "$MARKER" ] && break
  sleep 1
done
rm -f "$MARKER"
sleep 2
mkdir -p docs
import -window root -crop 591x304+0+0 docs/main-window-after-import.png
echo "screenshot.sh: wrote docs/main-window-after-import.png"
