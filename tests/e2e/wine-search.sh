#!/usr/bin/env bash
# The Windows build under Wine against the simulated device, found the way a Windows user's
# machine finds it: the FTDI driver's records in the prefix's registry (a real COM9 and a
# phantom COM12 with no port behind it), Wine's com9 linked to the device's pseudo-terminal,
# rzt.exe started with no options on a virtual X display with Qt's windows plugin.
#   tests/e2e/wine-search.sh        (after scripts/windows and the native rzt-sim)
# Leaves build/e2e/search-found.png and the device's log in build/e2e/sim.out. Under Wine 8.0
# the program finds COM9 and writes to it but never reads (see pty_as_uart.c for why).
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

rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$wineserver" -p
"$wine" wineboot >/dev/null 2>&1
records='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
"$wine" reg add "$records\\VID_0403+PID_6001+RZT0001A\\0000" /v FriendlyName /d "USB Serial Port (COM9)" /f >/dev/null
"$wine" reg add 'HKLM\Enum\FTDIBUS\VID_0403+PID_6001+RZT0002A\0000' /v FriendlyName /d "USB Serial Port (COM12)" /f >/dev/null
# Wine's desktop process, started above with no display, would keep the program's windows from
# ever showing: the session ends here and starts again on the virtual display.
"$wineserver" -k
"$wineserver" -w

# The simulated device, commanded through a fifo that stays open while it runs.
rm -f "$out/sim.in"
mkfifo "$out/sim.in"
sleep infinity > "$out/sim.in" &
holder=$!
"$sim" < "$out/sim.in" > "$out/sim.out" 2>&1 &
simpid=$!
cleanup() { "$wineserver" -k 2>/dev/null || true; kill "$simpid" "$holder" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$out/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$out/sim.out")
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com9"
echo "device on $pty as COM9"

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "'"$wineserver"'" -p
    LD_PRELOAD='"$out"'/pty_as_uart.so "'"$wine"'" "'"$exe"'" >'"$out"'/rzt.log 2>&1 &
    for i in $(seq 60); do
        sleep 1
        xdotool search --name "Retrive Data" >/dev/null 2>&1 && { echo "retrieval window after ${i}s"; break; }
        [ "$i" = 6 ] && import -window root '"$out"'/search-6s.png
        [ "$i" = 20 ] && break
    done
    import -window root '"$out"'/search-found.png
'
echo status > "$out/sim.in"; echo log > "$out/sim.in"; sleep 0.5
grep -c '"?"' "$out/sim.out" | sed 's/^/"?" received by the device: /'
tail -n 3 "$out/sim.out"
