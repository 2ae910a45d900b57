#!/usr/bin/env bash
# The program read by a real accessibility client: a virtual display, a private D-Bus session
# and, inside it, the AT-SPI client (atspi_client.py), which starts the accessibility bus, the
# simulated device and the program.
# Usage: real-client.sh <rzt> <rzt-sim>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
xvfb=""
cleanup() {
    if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and writes it to the pipe once it listens.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
if ! read -r -t 30 display <"$work/display"; then
    echo "FAIL virtual display: Xvfb did not start"; cat "$work/xvfb.log"; exit 1
fi
echo "virtual display :$display"

# The session's runtime folder, so the accessibility bus's socket is ours alone.
mkdir -m 700 "$work/runtime"
export DISPLAY=":$display" XDG_RUNTIME_DIR="$work/runtime"
unset QT_QPA_PLATFORM
dbus-run-session -- /usr/bin/python3 "$here/atspi_client.py" "$1" "$2"
