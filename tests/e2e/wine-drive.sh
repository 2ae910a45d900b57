#!/usr/bin/env bash
# The user's part of wine-search.sh, run on its virtual display: start rzt.exe, wait for the
# retrieval window, download each kind and save it into $out/saved under the name wine-search.sh
# expects, unplug and plug in again between the kinds, exit. Shots go to $out.
set -uo pipefail
shot() { import -window root "$out/$1.png"; }
dos() { printf 'Z:%s' "$1" | tr / '\\'; }
. "$(dirname "$0")/x-await.sh"
activate() { xdotool windowactivate --sync "$main" 2>/dev/null; xdotool windowfocus --sync "$main" 2>/dev/null; }
# $1 to the retrieval window, while it shows.
press() { shown "Retrive Data" || return 0; activate; xdotool key --window "$main" "$1"; }
gone() { ! shown "$1"; }
# True once the device has received the byte $1 since the last "clear".
received() { echo log > "$out/sim.in"; sleep 0.25; tail -n 20 "$out/sim.out" | grep -q "^rzt-sim: [0-9.]* \"$1\"$"; }
save_dialog() { dialog=$(xdotool search --onlyvisible --name "Save to Text File" 2>/dev/null | head -n 1); [ -n "$dialog" ]; }
saved() { [ -f "$1" ] && gone "Save to Text File"; }
# The file name $1 into the save dialog's name field, which has the focus, and Return. Only while
# the dialog shows, and over whatever an earlier attempt left in the field: End, Shift+Home
# selects it all (Wine 8.0's edit field takes no Ctrl+A), and typing replaces the selection.
type_name() {
    shown "Save to Text File" || return 0
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool key End shift+Home
    xdotool type --delay 20 "$1"
    xdotool key Return
}
# $1: the button's Alt key and the letter the device must receive; $2: its caption; $3: the file.
download_and_save() {
    local key=$1 caption=$2 name=$3 dialog=
    echo clear > "$out/sim.in"
    # Again only while the device has no letter: from the first press that got through until
    # the download has ended the buttons are unavailable, so a second one cannot start another.
    step "$caption: the device receives \"$key\"" 3 10 received "$key" -- press "alt+${key,,}" || return 1
    # The buttons stay unavailable until the download has ended: Save opens its dialog only then.
    step "$caption: Save opens its dialog" 20 1 save_dialog -- press alt+s || return 1
    shot "save-dialog-$name"
    step "$caption: saved as $name, the dialog closed" 3 10 saved "$out/saved/$name" -- \
        type_name "$(dos "$out/saved/$name")" || return 1
    sleep 1; shot "saved-$name"
    echo "$caption downloaded and saved as $name"
}

# The server opens the pty; at its hang-up (unplug) it dumps its objects to stderr.
"$wineserver" -p 2>"$out/wineserver.log"
# loaddll: wine-search.sh checks which Qt6SerialPort.dll the program loaded.
LD_PRELOAD=$preload WINEDEBUG="$WINEDEBUG,+loaddll" "$wine" "$exe" >"$out/rzt.log" 2>&1 &
sleep 4; shot search
main=$(await "Retrive Data" 40) || { shot no-retrieval; echo "no retrieval window" >&2; exit 1; }
echo "retrieval window open"
sleep 1; shot retrieval-open
download_and_save T "&Timer Only" timer.csv || exit 1
download_and_save R "&RPM Only" rpm.csv || exit 1
# Unplug: the port hangs up and the search window comes back; plug in again (a new pty, which
# Wine's com9 must follow) and the device is found again.
if [ "${RZT_E2E_REPLUG:-1}" = 1 ]; then
    echo unplug > "$out/sim.in"
    for _ in $(seq 60); do xdotool search --onlyvisible --name "Retrive Data" >/dev/null 2>&1 || break; sleep 0.25; done
    await "Device Search" 10 >/dev/null || { shot no-search-after-unplug; echo "no search window after unplug" >&2; exit 1; }
    echo "search window back after unplug"; shot unplugged
    echo plug > "$out/sim.in"
    for _ in $(seq 50); do pty=$(grep '^/dev/' "$out/sim.out" | sed -n 2p); [ -n "$pty" ] && break; sleep 0.1; done
    ln -sfn "$pty" "$WINEPREFIX/dosdevices/com9"
    main=$(await "Retrive Data" 40) || { shot not-found-again; echo "not found again on $pty" >&2; exit 1; }
    echo "found again on $pty"; sleep 1; shot replugged
fi
download_and_save C "&Chronograph Only" chrono.csv || exit 1
download_and_save A "&All Data" all.csv || exit 1
step "Exit: the retrieval window closes" 3 10 gone "Retrive Data" -- press alt+e || exit 1
sleep 1
