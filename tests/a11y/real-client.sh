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
    # Gone before the next run looks for a free display.
    if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, away from the numbers other virtual displays take first (0 up with
# -displayfd, 99 up with xvfb-run): Xvfb writes the number to the pipe once it listens, and ends
# at once when the number is taken.
mkfifo "$work/display"
display=""
for candidate in $(seq $((300 + $$ % 300)) $((320 + $$ % 300))); do
    # -noreset: the accessibility bus's launcher connects and leaves again, and a server that
    # resets when its last client leaves refuses the program meanwhile.
    Xvfb ":$candidate" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
        3>"$work/display" 2>"$work/xvfb.log" &
    xvfb=$!
    if read -r -t 30 display <"$work/display"; then break; fi
    wait "$xvfb" 2>/dev/null || true
    xvfb="" display=""
done
if [ -z "$display" ]; then
    echo "FAIL virtual display: Xvfb did not start"; cat "$work/xvfb.log"; exit 1
fi
echo "virtual display :$display"

# The session's runtime folder, so the accessibility bus's socket is ours alone.
mkdir -m 700 "$work/runtime"
export DISPLAY=":$display" XDG_RUNTIME_DIR="$work/runtime"
unset QT_QPA_PLATFORM
status=0
dbus-run-session -- /usr/bin/python3 "$here/atspi_client.py" "$1" "$2" || status=$?
if [ "$status" != 0 ]; then
    if kill -0 "$xvfb" 2>/dev/null; then echo "Xvfb still runs"; else
        wait "$xvfb" && code=0 || code=$?; xvfb=""; echo "Xvfb had ended (exit status $code)"; fi
    [ -s "$work/xvfb.log" ] && { echo "Xvfb said:"; cat "$work/xvfb.log"; }
fi
exit "$status"
