#!/usr/bin/env bash
# The property page in a real window: starts Xvfb on a free display, runs page_window_probe
# under Wine with its X11 driver, takes a screenshot with xwd while the page is shown, and
# checks the screenshot's pixels against the page's windows (check_page_screenshot.py).
#
# Usage: page_window_test.sh WINE WINESERVER PREFIX PROBE.exe FOLDER CHECKER RESOURCES [PNG]
#   PREFIX     a Wine prefix of the test's own: the build's prefix uses Wine's null graphics
#              driver for the suites that run meanwhile, and a prefix has one driver
#   FOLDER     where the screenshot, the windows' places and the signal files go
#   RESOURCES  src/resources, for the panel's bitmaps
#   PNG        also writes the frame, cut from the screenshot, as this PNG file
set -euo pipefail
[ $# -ge 7 ] || { echo "usage: $0 WINE WINESERVER PREFIX PROBE FOLDER CHECKER RESOURCES [PNG]" >&2; exit 2; }
wine=$1 wineserver=$2 prefix=$3 probe=$4 folder=$5 checker=$6 resources=$7 png=${8:-}

for tool in Xvfb xwd python3; do
  command -v "$tool" >/dev/null || { echo "page_window_test: $tool is missing" >&2; exit 1; }
done

# A display nobody uses: no lock file and no socket.
display=
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
    display=$n
    break
  fi
done
[ -n "$display" ] || { echo "page_window_test: no free X display" >&2; exit 1; }

rm -rf "$folder"
mkdir -p "$folder"
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$folder/xvfb.log" 2>&1 &
xvfb=$!
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all DISPLAY=":$display"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
probe_pid=
finish() {
  # Wine's processes of this prefix (started by this script, in a prefix of its own) hold the
  # display: they go first, then Xvfb.
  [ -z "$probe_pid" ] || kill "$probe_pid" 2>/dev/null || true
  "$wineserver" -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap finish EXIT

for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  kill -0 "$xvfb" 2>/dev/null || { echo "page_window_test: Xvfb did not start" >&2; cat "$folder/xvfb.log" >&2; exit 1; }
  sleep 0.1
done

# Wine's virtual desktop, as large as the screen: Wine draws the frame's caption and borders
# itself, as Windows does, where a display without a window manager would show none, and the
# desktop's coordinates are the screen's.
if [ ! -e "$prefix/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
    >/dev/null 2>&1
  "$wineserver" -w
fi

"$wine" "$probe" "$folder" &
probe_pid=$!
for _ in $(seq 600); do
  [ -e "$folder/shown" ] && break
  if ! kill -0 "$probe_pid" 2>/dev/null; then
    wait "$probe_pid" || true
    echo "page_window_test: the probe ended before the page was shown" >&2
    exit 1
  fi
  sleep 0.1
done
[ -e "$folder/shown" ] || { echo "page_window_test: the page was not shown within 60 s" >&2; exit 1; }

xwd -root -silent -display ":$display" -out "$folder/page.xwd"
touch "$folder/close"
status=0
wait "$probe_pid" || status=$?
probe_pid=
"$wineserver" -w
[ "$status" -eq 0 ] || { echo "page_window_test: the probe failed ($status)" >&2; exit 1; }

python3 "$checker" "$folder/page.xwd" "$folder/windows.txt" "$resources" ${png:+--png "$png"}
# The same screenshot must fail against windows placed one pixel lower.
awk '$1 == "strip" || $1 == "panel" { $3 += 1; $5 += 1 } { print }' "$folder/windows.txt" \
  >"$folder/moved.txt"
if python3 "$checker" "$folder/page.xwd" "$folder/moved.txt" "$resources" >/dev/null 2>&1; then
  echo "page_window_test: the check also passes for windows one pixel lower" >&2
  exit 1
fi
