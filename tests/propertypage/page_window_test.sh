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
fail() {
  echo "page_window_test: $*" >&2
  exit 1
}
[ $# -ge 7 ] || fail "usage: $0 WINE WINESERVER PREFIX PROBE FOLDER CHECKER RESOURCES [PNG]"
wine=$1 wineserver=$2 prefix=$3 probe=$4 folder=$5 checker=$6 resources=$7 png=${8:-}

for tool in Xvfb xwd python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done

rm -rf "$folder"
mkdir -p "$folder"
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
xvfb=
probe_pid=
finish() {
  # Wine's processes of this prefix (started here, in a prefix of the test's own) hold the
  # display: they go first, then Xvfb.
  [ -z "$probe_pid" ] || kill "$probe_pid" 2>/dev/null || true
  "$wineserver" -k 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  [ -z "$xvfb" ] || wait "$xvfb" 2>/dev/null || true
}
trap finish EXIT

# Xvfb takes the first free display itself and writes its number: no race with other servers
# starting meanwhile.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/display" \
  >"$folder/xvfb.log" 2>&1 &
xvfb=$!
display=
for _ in $(seq 100); do
  display=$(head -n 1 "$folder/display")
  [ -n "$display" ] && break
  kill -0 "$xvfb" 2>/dev/null || fail "Xvfb did not start: $(cat "$folder/xvfb.log")"
  sleep 0.1
done
[ -n "$display" ] || fail "Xvfb named no display within 10 s"
export DISPLAY=":$display"

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
    probe_pid=
    fail "the probe ended before the page was shown"
  fi
  sleep 0.1
done
[ -e "$folder/shown" ] || fail "the page was not shown within 60 s"

xwd -root -silent -display "$DISPLAY" -out "$folder/page.xwd"
touch "$folder/close"
status=0
wait "$probe_pid" || status=$?
probe_pid=
"$wineserver" -w
[ "$status" -eq 0 ] || fail "the probe failed ($status)"

python3 "$checker" "$folder/page.xwd" "$folder/windows.txt" "$resources" ${png:+--png "$png"}
# The same screenshot must fail against windows placed one pixel lower.
awk '$1 == "strip" || $1 == "panel" { $3 += 1; $5 += 1 } { print }' "$folder/windows.txt" \
  >"$folder/moved.txt"
if python3 "$checker" "$folder/page.xwd" "$folder/moved.txt" "$resources" >/dev/null 2>&1; then
  fail "the check also passes for windows one pixel lower"
fi
