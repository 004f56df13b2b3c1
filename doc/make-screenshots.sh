#!/usr/bin/env bash
# Makes the documentation's screenshots, doc/tray-menu.png and doc/log-window.png, on a virtual
# X display with a window manager (openbox) and a notification area (trayer). Merlig runs through
# the screenshot harness on an unprivileged port; a mail program's login is played against it so
# that the log shows a session. Needs: xvfb, openbox, trayer, xdotool, imagemagick, python3.
#   bash doc/make-screenshots.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
display=:97
port=11110

cmake --build "$build" --target merlig_screenshot >/dev/null
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

Xvfb "$display" -screen 0 640x400x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
convert -size 640x400 xc:'#3a6ea5' "$build/screenshot-desktop.png"
display -window root "$build/screenshot-desktop.png" || true  # sets the backdrop, answers 1
openbox >/dev/null 2>&1 & pids+=($!)
trayer --edge top --align right --widthtype pixel --width 96 --heighttype pixel --height 24 \
  --SetDockType true --transparent false --tint 0xd4d0c8 >/dev/null 2>&1 & pids+=($!)
sleep 1
"$build/merlig_screenshot" "$port" 110 >/dev/null 2>&1 & pids+=($!)
sleep 2

# A mail program logs in; nothing answers upstream here, so the log shows the attempt.
python3 - "$port" <<'PY' || true
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=3)
def line():
    data = b""
    while not data.endswith(b"\n"):
        chunk = s.recv(1)
        if not chunk: break
        data += chunk
    return data
line()
for command in (b"USER taro@127.0.0.1\r\n", b"PASS secret\r\n"):
    s.sendall(command)
    if command.startswith(b"USER"): line()
    time.sleep(0.5)
time.sleep(1)
PY

# The tray icon: the harness's window inside trayer's panel.
tree=$(xwininfo -root -tree)
geometry=$(awk '/22x22\+/ && /merlig/ {print $NF; exit}' <<<"$tree")
x=$(echo "$geometry" | cut -d+ -f2); y=$(echo "$geometry" | cut -d+ -f3)
x=$((x + 11)); y=$((y + 11))

xdotool mousemove "$x" "$y" click 1          # left click: the log window
sleep 1
import -window root "$root/doc/log-window.png"
xdotool mousemove "$x" "$y" click 1          # left click again: hidden
sleep 0.5
xdotool mousemove "$x" "$y" click 3          # right click: the menu
sleep 1
import -window root -crop 320x120+320+0 +repage "$root/doc/tray-menu.png"
xdotool key Escape
echo "wrote doc/log-window.png and doc/tray-menu.png"
