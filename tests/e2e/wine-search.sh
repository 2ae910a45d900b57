#!/usr/bin/env bash
# The Windows build under Wine against the simulated device, found the way a Windows user's
# machine finds it: the FTDI driver's records in the prefix's registry (a real COM9 and a
# phantom COM12 with no port behind it), Wine's com9 linked to the device's pseudo-terminal,
# rzt.exe started with no options on a virtual X display with Qt's windows plugin.
#   tests/e2e/wine-search.sh        (after scripts/windows and the native rzt-sim)
# Then, as a user would (xdotool on the virtual display): identification opens the retrieval
# window, "&All Data" downloads, "&Save" writes a chosen .csv, which must hold exactly what the
# device sent after the saving rules (lines without surrounding spaces, each ended by CR LF);
# "DIR" is read back from the prefix's registry; unplugged, the search window comes back and
# finds the device again once it is plugged in (Wine's com9 follows the new pty); Exit must
# send "X". RZT_E2E_REPLUG=0 leaves the unplug out.
# Wine 8.0 needs two stand-ins, both test scaffolding: pty_as_uart.c (the pty answers the
# modem-line calls) and wine_comm_wait.c (the completion of Qt's comm wait).
# Leaves the PNGs, the saved file and the device's log (sim.out) in build/e2e.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/e2e/wine-bed.sh

export out wine wineserver exe
rm -f "$out"/*.png
saved="$out/saved.csv"
rm -f "$saved"
export saved_dos=$(dos "$saved")
xvfb-run -a -s "-screen 0 1024x768x24" tests/e2e/wine-drive.sh
echo status > "$out/sim.in"; echo log > "$out/sim.in"; sleep 0.5
tail -n 4 "$out/sim.out"

[ -f "$saved" ] || fail "nothing saved at $saved"
cmp "$saved" "$out/expected.csv" || fail "the saved file differs from what the device sent"
echo "saved file: $(stat -c %s "$saved") bytes, equal to the device's $(( $(stat -c %s "$out/header.txt") + $(stat -c %s "$out/all.txt") )) bytes after the saving rules"
dir=$("$wine" reg query 'HKLM\Software\ZORV-RZT' /v DIR 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
echo "DIR in the registry: $dir"
[ "$dir" = "$(dos "$out")" ] || fail "DIR is '$dir', not $(dos "$out")"
grep -Eq '^rzt-sim: [0-9.]+ "X"' "$out/sim.out" || fail "Exit sent no X"
echo "Exit sent X"
echo PASS
