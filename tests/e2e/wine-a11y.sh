#!/usr/bin/env bash
# The Windows build under Wine, asked for its search window through UI Automation as a Windows
# screen reader would (wine_uia_probe.c): Qt turns its accessibility on at the first such
# request. Checks that the window, found by its title, answers as Qt's (framework "Qt"), and that
# the program still runs afterwards. Prints what the probe read (the control type and the
# elements, which Wine 8.0 does not give and Wine 10.0 does); the program's output and a picture
# stay in build/e2e-a11y.
#   tests/e2e/wine-a11y.sh        (after scripts/windows)
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$PWD/build/e2e-a11y
. tests/e2e/wine-env.sh
mkdir -p "$out"
x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -o "$out/wine_uia_probe.exe" \
    tests/e2e/wine_uia_probe.c -loleacc -lole32 -loleaut32 -luuid
export wine wineserver exe out
# The prefix is kept between runs, but not one another Wine made: this one would first update
# it, and the program would not start within the wait.
made_by=$("$wine" --version)
[ "$(cat "$out/prefix.wine" 2>/dev/null)" = "$made_by" ] || rm -rf "$WINEPREFIX"
if [ ! -d "$WINEPREFIX" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    "$wineserver" -k
    "$wineserver" -w
    echo "$made_by" >"$out/prefix.wine"
fi

title="ZORV - RZT Software / Device Search  -  Version 1.01.0132"
export title
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -uo pipefail
    "$wineserver" -p
    "$wine" "$exe" >"$out/rzt.log" 2>&1 &
    program=$!
    "$wine" "$out/wine_uia_probe.exe" "$title" 60 | tr -d "\r" | tee "$out/probe.txt"
    probe=${PIPESTATUS[0]}
    # Accessibility is on now; the program must go on searching and drawing.
    sleep 5
    import -window root "$out/search-after-probe.png" 2>/dev/null || true
    if kill -0 "$program" 2>/dev/null; then alive=1; else alive=0; fi
    echo "program still running 5 s after the probe: $alive"
    # Closed as a user closes it, so that it leaves no lock behind for the next run.
    "$wine" "$out/wine_uia_probe.exe" "$title" 5 close
    for _ in $(seq 40); do kill -0 "$program" 2>/dev/null || break; sleep 0.25; done
    "$wineserver" -k
    wait "$program" 2>/dev/null
    [ "$probe" = 0 ] && [ "$alive" = 1 ]
'
