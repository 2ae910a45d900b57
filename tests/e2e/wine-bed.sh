# The Windows build's bed under Wine against the simulated device, sourced by the end-to-end
# scripts (from the top of the checkout, with `set -euo pipefail`): what wine-env.sh sets up, in
# a fresh prefix of its own in $out (default build/e2e) with the FTDI driver's records (a real
# COM9 and a phantom COM12), crashes printed instead of a dialog, the two Wine 8.0 stand-ins
# built (pty_as_uart.so; wine_comm_wait.c as the Qt generic plugin rzt.exe loads and as the plain
# $out/wine_comm_wait.dll for programs that load it themselves), and the simulated device with
# planted data, its pty linked as Wine's com9. RZT_E2E_SERIALPORT_DLL puts another
# Qt6SerialPort.dll ahead of Qt's on the DLL path. RZT_E2E_STANDINS names the stand-ins put in
# (default "pty_as_uart wine_comm_wait"; empty for none), to measure which a Wine still needs:
# both are always built, and one left out is neither preloaded nor loaded. Leaves, besides
# wine-env.sh's: out, sim, serialport (the Qt6SerialPort.dll programs must load), simpid, pty,
# preload (pty_as_uart.so, or nothing, for LD_PRELOAD), comm_wait (1 when wine_comm_wait is in),
# and in $out/device the device's header.txt and timer, rpm, chrono and all as NAME.txt (sent)
# and NAME.expected (what "&Save" must write for it). The device takes commands written to $out/sim.in and logs to
# $out/sim.out. Ends the session and the device on exit.
out=${out:-$PWD/build/e2e}
. tests/e2e/wine-env.sh
sim=$root/build/default/tools/sim/rzt-sim
[ -x "$sim" ] || { echo "No $sim: cmake --preset default && cmake --build --preset default --target rzt-sim" >&2; exit 1; }
mkdir -p "$out"
cc -shared -fPIC -O2 -Wall -Wextra -o "$out/pty_as_uart.so" tests/e2e/pty_as_uart.c -ldl
# wine_comm_wait.c rides in a Qt generic plugin so that Qt itself loads it into rzt.exe.
mkdir -p "$out/plugins/generic"
/usr/lib/qt6/libexec/moc -Itests/e2e -I"$qt/include" -I"$qt/include/QtCore" -I"$qt/include/QtGui" \
    tests/e2e/wine_comm_wait_plugin.cpp -o "$out/wine_comm_wait_plugin.moc"
x86_64-w64-mingw32-gcc-posix -c -O2 -Wall -Wextra -o "$out/wine_comm_wait.o" tests/e2e/wine_comm_wait.c
x86_64-w64-mingw32-gcc-posix -shared -o "$out/wine_comm_wait.dll" "$out/wine_comm_wait.o"
x86_64-w64-mingw32-g++-posix -std=c++17 -shared -O2 -Wno-attributes -I"$out" -I"$qt/include" \
    -I"$qt/include/QtCore" -I"$qt/include/QtGui" -DQT_NO_DEBUG -o "$out/plugins/generic/winecommwait.dll" \
    tests/e2e/wine_comm_wait_plugin.cpp "$out/wine_comm_wait.o" -L"$qt/lib" -lQt6Gui -lQt6Core

# Another Qt6SerialPort.dll goes in a folder of its own ahead of Qt's on the DLL path.
serialport=$qt/bin/Qt6SerialPort.dll
rm -rf "$out/serialport"
if [ -n "${RZT_E2E_SERIALPORT_DLL:-}" ]; then
    mkdir -p "$out/serialport"
    cp "$RZT_E2E_SERIALPORT_DLL" "$out/serialport/Qt6SerialPort.dll"
    serialport=$out/serialport/Qt6SerialPort.dll
    WINEPATH="$(dos "$out/serialport");$WINEPATH"
fi
standins=" ${RZT_E2E_STANDINS-pty_as_uart wine_comm_wait} "
preload= comm_wait=
[[ $standins != *" pty_as_uart "* ]] || preload=$out/pty_as_uart.so
if [[ $standins = *" wine_comm_wait "* ]]; then
    comm_wait=1
    WINEQT_PLUGIN_PATH+=";$(dos "$out/plugins")"
    export WINEQT_QPA_GENERIC_PLUGINS=winecommwait
fi
used="${preload:+pty_as_uart}${preload:+${comm_wait:+ }}${comm_wait:+wine_comm_wait}"
echo "stand-ins: ${used:-none}"

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
# A crash prints its backtrace to the program's log instead of opening a dialog.
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
# Wine's desktop process, started above with no display, would keep the program's windows from
# ever showing: the session ends here and starts again on the virtual display.
"$wineserver" -k
"$wineserver" -w

# The simulated device, commanded through a fifo that stays open while it runs. Held open for
# reading and writing, so that a command written after the device has gone fails the check
# that follows it instead of blocking the run for ever.
rm -f "$out/sim.in"
mkfifo "$out/sim.in"
sleep infinity <> "$out/sim.in" &
holder=$!
simpid=
cleanup() { "$wineserver" -k 2>/dev/null || true; kill $simpid "$holder" 2>/dev/null || true; }
trap cleanup EXIT
# The device's header and data (tests/planted_device.py).
rm -rf "$out/device"
mkdir -p "$out/device"
python3 tests/planted_device.py "$out/device"
"$sim" --header-file "$out/device/header.txt" --timer-file "$out/device/timer.txt" \
    --rpm-file "$out/device/rpm.txt" --chrono-file "$out/device/chrono.txt" < "$out/sim.in" > "$out/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 600); do [ -s "$out/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$out/sim.out")
[ -n "$pty" ] || fail "the simulated device did not start: $(cat "$out/sim.out")"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com9"
echo "device on $pty as COM9"
