# The Windows build's bed under Wine, sourced by the end-to-end scripts (from the top of the
# checkout, with `set -euo pipefail`): a Wine prefix of its own in $out (default build/e2e) with
# the FTDI driver's records (a real COM9 and a phantom COM12), the two Wine 8.0 stand-ins,
# and the simulated device with planted records, its pty linked as Wine's com9. Leaves: root,
# out, sim, exe, qt, wine, wineserver, dos(), fail(), simpid, pty, and the device's files
# header.txt, all.txt and expected.csv (what "&Save" must write for "All Data") in $out; the
# device takes commands written to $out/sim.in and logs to $out/sim.out. Ends the session and
# the device on exit.
root=$PWD
out=${out:-$root/build/e2e}
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
