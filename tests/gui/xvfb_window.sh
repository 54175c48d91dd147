#!/bin/sh
# Runs the real Tabrend on a virtual X server: its window must appear and show a drawn
# picture; closing it as the close box does must run the shutdown, which rewrites EXCEL.txt.
#   xvfb_window.sh TABREND X_WINDOW_PROBE PICTURE_FOLDER
set -eu
tabrend=$1
probe=$2
pictures=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A copy of the program in a folder of its own, so its state files land there.
cp "$tabrend" "$work/Tabrend"
printf '/tmp\r\n/no/such/workbook.xlsx' > "$work/EXCEL.txt"

xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  set -eu
  QT_QPA_PLATFORM=xcb "$1/Tabrend" &
  pid=$!
  "$2" wait Tabrend 15000
  sleep 1
  "$2" shot Tabrend "$3/form1-xvfb.png"
  # A close request can arrive while the window is still settling and be lost: ask again.
  tries=0
  while kill -0 $pid 2>/dev/null && [ $tries -lt 20 ]; do
    "$2" close Tabrend 2>/dev/null || true
    sleep 1
    tries=$((tries + 1))
  done
  wait $pid
' sh "$work" "$probe" "$pictures"

# The shutdown wrote every entry back, each ended by CR LF.
expected=$(printf '/tmp\r\n/no/such/workbook.xlsx\r\n' | od -An -c)
actual=$(od -An -c "$work/EXCEL.txt")
if [ "$expected" != "$actual" ]; then
  echo "EXCEL.txt after closing:" >&2
  od -c "$work/EXCEL.txt" >&2
  exit 1
fi
echo "Tabrend showed its window under Xvfb and saved its list on closing"
