#!/usr/bin/env bash
# The user's part of wine-search.sh, run on its virtual display: start rzt.exe, wait for the
# retrieval window, download all data, save it to $saved_dos, exit. Shots go to $out.
set -uo pipefail
shot() { import -window root "$out/$1.png"; }
# The first window whose title holds $1, within $2 seconds.
await() {
    local id
    for _ in $(seq $(( $2 * 4 ))); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.25
    done
    return 1
}
# The server opens the pty; at its hang-up (unplug) it dumps its objects to stderr.
"$wineserver" -p 2>"$out/wineserver.log"
LD_PRELOAD=$out/pty_as_uart.so "$wine" "$exe" >"$out/rzt.log" 2>&1 &
sleep 4; shot search
main=$(await "Retrive Data" 40) || { shot no-retrieval; echo "no retrieval window" >&2; exit 1; }
echo "retrieval window open"
sleep 1; shot retrieval-open
xdotool windowactivate --sync "$main" 2>/dev/null; xdotool windowfocus --sync "$main" 2>/dev/null
xdotool key --window "$main" alt+a
sleep 8; shot retrieval-all-data
xdotool key --window "$main" alt+s
dialog=$(await "Save to Text File" 15) || { shot no-save-dialog; echo "no save dialog" >&2; exit 1; }
sleep 1; shot save-dialog
xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool type --delay 20 "$saved_dos"
xdotool key Return
sleep 3; shot saved
# Unplug: the port hangs up and the search window comes back; plug in again (a new pty, which
# Wine's com9 must follow) and the device is found again.
if [ "${RZT_E2E_REPLUG:-1}" = 1 ]; then
    echo unplug > "$out/sim.in"
    for _ in $(seq 60); do xdotool search --onlyvisible --name "Retrive Data" >/dev/null 2>&1 || break; sleep 0.25; done
    if await "Device Search" 10 >/dev/null; then echo "search window back after unplug"; shot unplugged; fi
    echo plug > "$out/sim.in"
    for _ in $(seq 50); do pty=$(grep '^/dev/' "$out/sim.out" | sed -n 2p); [ -n "$pty" ] && break; sleep 0.1; done
    ln -sfn "$pty" "$WINEPREFIX/dosdevices/com9"
    main=$(await "Retrive Data" 40) && echo "found again on $pty" && sleep 1 && shot replugged
fi
xdotool windowactivate --sync "$main" 2>/dev/null; xdotool windowfocus --sync "$main" 2>/dev/null
xdotool key --window "$main" alt+e
for _ in $(seq 40); do xdotool search --onlyvisible --name "Retrive Data" >/dev/null 2>&1 || break; sleep 0.25; done
sleep 1
