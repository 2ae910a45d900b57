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
root=$PWD
out=$root/build/e2e
sim=$root/build/default/tools/sim/rzt-sim
exe=$root/build/windows/rzt.exe
qt=$root/build/qt-6.4.2-mingw-w64-x86_64
[ -x "$sim" ] || { echo "No $sim: cmake --preset default && cmake --build --preset default --target rzt-sim" >&2; exit 1; }
[ -f "$exe" ] || { echo "No $exe: run scripts/windows" >&2; exit 1; }
mkdir -p "$out"
cc -shared -fPIC -O2 -Wall -Wextra -o "$out/pty_as_uart.so" tests/e2e/pty_as_uart.c -ldl
# wine_comm_wait.c rides in a Qt generic plugin so that Qt itself loads it into rzt.exe.
mkdir -p "$out/plugins/generic"
/usr/lib/qt6/libexec/moc -Itests/e2e -I"$qt/include" -I"$qt/include/QtCore" -I"$qt/include/QtGui" \
    tests/e2e/wine_comm_wait_plugin.cpp -o "$out/wine_comm_wait_plugin.moc"
x86_64-w64-mingw32-gcc-posix -c -O2 -Wall -Wextra -o "$out/wine_comm_wait.o" tests/e2e/wine_comm_wait.c
x86_64-w64-mingw32-g++-posix -std=c++17 -shared -O2 -Wno-attributes -I"$out" -I"$qt/include" \
    -I"$qt/include/QtCore" -I"$qt/include/QtGui" -DQT_NO_DEBUG -o "$out/plugins/generic/winecommwait.dll" \
    tests/e2e/wine_comm_wait_plugin.cpp "$out/wine_comm_wait.o" -L"$qt/lib" -lQt6Gui -lQt6Core

dos() { printf 'Z:%s' "$1" | tr / '\\'; }
export WINEPREFIX=$out/prefix WINEARCH=win64 WINEDEBUG=${RZT_WINEDEBUG:--all} LC_ALL=C.UTF-8
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
export WINEPATH="$(dos "$qt/bin");$(dos /usr/lib/gcc/x86_64-w64-mingw32/12-posix);$(dos /usr/x86_64-w64-mingw32/lib)"
export WINEQT_PLUGIN_PATH="$(dos "$qt/plugins");$(dos "$out/plugins")"
# Wine keeps QT_* of the Linux side away from Windows programs; WINEQT_* reach them as QT_*.
export WINEQT_QPA_GENERIC_PLUGINS=winecommwait
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver

# A session left over from an earlier run would hold the old prefix.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$wineserver" -p
"$wine" wineboot >/dev/null 2>&1
records='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
"$wine" reg add "$records\\VID_0403+PID_6001+RZT0001A\\0000" /v FriendlyName /d "USB Serial Port (COM9)" /f >/dev/null
"$wine" reg add 'HKLM\Enum\FTDIBUS\VID_0403+PID_6001+RZT0002A\0000' /v FriendlyName /d "USB Serial Port (COM12)" /f >/dev/null
# A crash prints its backtrace to rzt.log instead of opening a dialog.
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
# Wine's desktop process, started above with no display, would keep the program's windows from
# ever showing: the session ends here and starts again on the virtual display.
"$wineserver" -k
"$wineserver" -w

# The simulated device, commanded through a fifo that stays open while it runs.
rm -f "$out/sim.in"
mkfifo "$out/sim.in"
sleep infinity > "$out/sim.in" &
holder=$!
# Header and data with spaces around some lines, which the saved file must not keep.
python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
open(out + "/header.txt", "wb").write(b"RZT-3000,SN 004211,V2.05\r\n  Kind,No.,Date,Time,Reading,Unit \r\n")
lines = []
for i in range(1, 121):
    kind = "TRC"[i % 3]
    pad = " " * (i % 4)
    lines.append(f"{pad}{kind},{i:04d},02/03/2024,09:{i % 60:02d}:{(7 * i) % 60:02d},{800 + 37 * i},x{pad}\r\n")
open(out + "/all.txt", "wb").write("".join(lines).encode("latin-1"))
header = open(out + "/header.txt", "rb").read()
text = (header + "".join(lines).encode("latin-1")).split(b"\r\n")[:-1]
open(out + "/expected.csv", "wb").write(b"".join(l.strip(b" ") + b"\r\n" for l in text))
PY
"$sim" --header-file "$out/header.txt" --all-file "$out/all.txt" < "$out/sim.in" > "$out/sim.out" 2>&1 &
simpid=$!
cleanup() { "$wineserver" -k 2>/dev/null || true; kill "$simpid" "$holder" 2>/dev/null || true; }
fail() { echo "FAIL: $*" >&2; exit 1; }
trap cleanup EXIT
for _ in $(seq 200); do [ -s "$out/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$out/sim.out")
[ -n "$pty" ] || fail "the simulated device did not start: $(cat "$out/sim.out")"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com9"
echo "device on $pty as COM9"

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
