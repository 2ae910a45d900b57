#!/usr/bin/env bash
# The user's part of wine-search.sh, run on its virtual display: start rzt.exe, wait for the
# retrieval window, download all data, save it to $saved_dos, exit. Shots go to $out.
set -uo pipefail
shot() { import -window root "$out/$1.png"; }
# The first window whose title holds $1, within $2 seconds.
await() {
    local id
    for _ in $(seq $(( $2 * 4 ))); do
        id=$(xdotool search --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.25
    done
    return 1
}
"$wineserver" -p
LD_PRELOAD=$out/pty_as_uart.so "$wine" "$exe" >"$out/rzt.log" 2>&1 &
sleep 4; shot search
main=$(await "Retrive Data" 40) || { shot no-retrieval; echo "no retrieval window" >&2; exit 1; }
echo "retrieval window open"
sleep 1; shot retrieval-open
xdotool windowactivate --sync "$main" 2>/dev/null; xdotool windowfocus --sync "$main"
xdotool key --window "$main" alt+a
sleep 8; shot retrieval-all-data
xdotool key --window "$main" alt+s
dialog=$(await "Save to Text File" 15) || { shot no-save-dialog; echo "no save dialog" >&2; exit 1; }
sleep 1; shot save-dialog
xdotool windowfocus --sync "$dialog"
xdotool type --delay 20 "$saved_dos"
xdotool key Return
sleep 3; shot saved
xdotool windowactivate --sync "$main" 2>/dev/null; xdotool windowfocus --sync "$main"
xdotool key --window "$main" alt+e
for _ in $(seq 40); do xdotool search --name "Retrive Data" >/dev/null 2>&1 || break; sleep 0.25; done
sleep 1
