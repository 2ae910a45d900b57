#!/usr/bin/env bash
# The Windows build under Wine against the simulated device, found the way a Windows user's
# machine finds it: the FTDI driver's records in the prefix's registry (a real COM9 and a
# phantom COM12 with no port behind it), Wine's com9 linked to the device's pseudo-terminal,
# rzt.exe started with no options on a virtual X display with Qt's windows plugin.
#   tests/e2e/wine-search.sh            (after scripts/windows and the native rzt-sim)
# Then, as a user would (xdotool on the virtual display): identification opens the retrieval
# window; "&Timer Only", "&RPM Only", "&Chronograph Only" and "&All Data" each download and are
# saved through "&Save", and each file must hold exactly what the device sent after the saving
# rules (lines without surrounding spaces, each ended by CR LF); "DIR" is read back from the
# prefix's registry; between the second and third download the device is unplugged (the search
# window comes back) and plugged in again (found again: Wine's com9 follows the new pty); Exit
# must send "X". RZT_E2E_REPLUG=0 leaves the unplug out. RZT_E2E_SERIALPORT_DLL runs the program
# on another Qt6SerialPort.dll. RZT_E2E_DROP (see x-await.sh) leaves out the first keystroke of
# the steps it names, as if it had been lost.
# Before that, a small program (wine_two_completions.cpp) has Qt take two completions of the port
# in one batch and then waits for more, which crashed Qt Serial Port before 6.5 (QTBUG-108450): a
# guard that the Qt6SerialPort.dll the program ships never brings it back.
# RZT_E2E_STEPS="batch drive" (the default) chooses the parts to run.
# Wine 8.0 needs two stand-ins, both test scaffolding: pty_as_uart.c (the pty answers the
# modem-line calls) and wine_comm_wait.c (the completion of Qt's comm wait, and the empty read
# that ends at once); RZT_E2E_STANDINS (see wine-bed.sh) leaves either out.
# Leaves the PNGs, the saved files (saved/) and the device's data and log (device/, sim.out) in
# build/e2e.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/prereqs
rzt_install_prereqs "${RZT_E2E_PACKAGES[@]}"
root=$PWD

out=${RZT_E2E_OUT:-$root/build/e2e}
. tests/e2e/wine-bed.sh
rm -rf "$out/saved"
mkdir -p "$out/saved"
# The program of the batch step below.
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -Wno-attributes -I"$qt/include" -I"$qt/include/QtCore" \
    -I"$qt/include/QtSerialPort" -DQT_NO_DEBUG -o "$out/wine_two_completions.exe" \
    tests/e2e/wine_two_completions.cpp -L"$qt/lib" -lQt6SerialPort -lQt6Core

steps=${RZT_E2E_STEPS:-batch drive}
# First, without a display: two completions in one batch, then waitForReadyRead (seconds).
if [[ " $steps " = *" batch "* ]]; then
    LD_PRELOAD=$preload WINEDEBUG="$WINEDEBUG,+loaddll" "$wine" "$out/wine_two_completions.exe" \
        COM9 ${comm_wait:+"$(dos "$out/wine_comm_wait.dll")"} >"$out/batch.log" 2>&1 || batch=$?
    grep -a -E '^(round |[0-9]+ of |cannot |usage|wine: Unhandled)' "$out/batch.log" || true
    # A crash under Wine can still end with status 0: the program's last line must be there too.
    [ -z "${batch:-}" ] && grep -a -q '^\([0-9]*\) of \1 rounds answered' "$out/batch.log" &&
        ! grep -a -q '^wine: Unhandled' "$out/batch.log" ||
        fail "two completions in one batch: the program did not get every answer (status ${batch:-0})"
    # The session ends with the program: the user's part starts its own on the virtual display.
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
fi
[[ " $steps " = *" drive "* ]] || { echo PASS; exit 0; }

export out wine wineserver exe preload
rm -f "$out"/*.png
xvfb-run -a -s "-screen 0 1024x768x24" tests/e2e/wine-drive.sh 2>&1 | tee "$out/drive.log" ||
    fail "the user's part stopped (shots, rzt.log and sim.out in $out)"
echo status > "$out/sim.in"; echo log > "$out/sim.in"; sleep 0.5
tail -n 4 "$out/sim.out"

loaded=$(grep -a -o 'Loaded L"[^"]*Qt6SerialPort.dll"' "$out/rzt.log" | head -n 1 | sed 's/^Loaded L"//; s/"$//; s/\\\\/\\/g')
echo "Qt6SerialPort.dll loaded: $loaded"
[ "${loaded,,}" = "$(dos "$serialport" | tr '[:upper:]' '[:lower:]')" ] || fail "the program did not load $serialport"
for kind in "timer.csv:timer:&Timer Only" "rpm.csv:rpm:&RPM Only" "chrono.csv:chrono:&Chronograph Only" "all.csv:all:&All Data"; do
    IFS=: read -r file name caption <<<"$kind"
    saved=$out/saved/$file
    [ -f "$saved" ] || fail "$caption: nothing saved at $saved"
    cmp "$saved" "$out/device/$name.expected" || fail "$caption: the saved file differs from what the device sent"
    echo "$caption: $file $(stat -c %s "$saved") bytes, equal to the device's $(( $(stat -c %s "$out/device/header.txt") + $(stat -c %s "$out/device/$name.txt") )) bytes after the saving rules"
done
dir=$("$wine" reg query 'HKLM\Software\ZORV-RZT' /v DIR 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
echo "DIR in the registry: $dir"
[ "$dir" = "$(dos "$out/saved")" ] || fail "DIR is '$dir', not $(dos "$out/saved")"
grep -Eq '^rzt-sim: [0-9.]+ "X"' "$out/sim.out" || fail "Exit sent no X"
echo "Exit sent X"
echo PASS
