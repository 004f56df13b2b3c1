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

# A mail program logs in through Merlig to a stand-in POP3 server on 127.0.0.1:110 that speaks
# the APOP example of RFC 1939 (user mrose, password tanstaaf); without the right to listen on
# port 110 the server is left out and the log shows a failed connection instead.
python3 - "$port" <<'PY' || true
import socket, sys, threading, time

def serve(listener):
    conn, _ = listener.accept()
    f = conn.makefile("rb")
    conn.sendall(b"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n")
    answers = {b"APOP": b"+OK mrose's maildrop has 2 messages (320 octets)",
               b"STAT": b"+OK 2 320", b"QUIT": b"+OK dewey POP3 server signing off"}
    for line in f:
        conn.sendall(answers.get(line[:4].upper(), b"-ERR") + b"\r\n")
        if line.upper().startswith(b"QUIT"):
            break
    conn.close()

try:
    listener = socket.create_server(("127.0.0.1", 110))
    threading.Thread(target=serve, args=(listener,), daemon=True).start()
except OSError:
    pass

client = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
replies = client.makefile("rb")
replies.readline()
for command in (b"USER mrose@127.0.0.1", b"PASS tanstaaf", b"STAT", b"QUIT"):
    client.sendall(command + b"\r\n")
    replies.readline()
    time.sleep(0.2)
client.close()
time.sleep(0.5)
PY

# The tray icon: the harness's window inside trayer's panel.
tree=$(xwininfo -root -tree)
geometry=$(awk '/22x22\+/ && /merlig/ {print $NF; exit}' <<<"$tree")
x=$(echo "$geometry" | cut -d+ -f2); y=$(echo "$geometry" | cut -d+ -f3)
x=$((x + 11)); y=$((y + 11))

xdotool mousemove "$x" "$y" click 1          # left click: the log window
sleep 1
# Scrolled to its first line, the start line, for the picture.
log_window=$(xdotool search --name '^Merlig Log$' | head -1)
eval "$(xdotool getwindowgeometry --shell "$log_window")"
xdotool mousemove $((X + 100)) $((Y + 100)) click --repeat 20 --delay 20 4   # wheel up
xdotool mousemove "$x" "$y"
sleep 0.5
import -window root "$root/doc/log-window.png"
xdotool mousemove "$x" "$y" click 1          # left click again: hidden
sleep 0.5
xdotool mousemove "$x" "$y" click 3          # right click: the menu
sleep 1
import -window root -crop 320x120+320+0 +repage "$root/doc/tray-menu.png"
xdotool key Escape
echo "wrote doc/log-window.png and doc/tray-menu.png"
