#!/usr/bin/env bash
# The Windows setup program in a fresh Wine prefix, as an IT department would deploy it:
# installed silently (/S), its files, Start menu shortcut and uninstall entry checked, the
# installed rzt.exe started (no Qt or MinGW folders on the path: the install must stand alone)
# until its search window shows, installed again over itself (one entry and one copy remain),
# then removed with the entry's QuietUninstallString, which must leave the prefix as it was
# except for the program's own setting "DIR".
#   tests/e2e/wine-setup.sh          (after scripts/windows; builds the setup program itself)
#   RZT_SETUP_SHOTS=DIR tests/e2e/wine-setup.sh
#       installs through the pages instead, with xdotool, and saves PNGs of them, of the
#       started program and of the shortcut as Wine reads it into DIR (needs ImageMagick).
# Runs on a virtual display of its own (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
if [ -z "${RZT_SETUP_ON_DISPLAY:-}" ]; then
    built=$(./scripts/windows-installer | tail -n 1)
    echo "$built"
    export RZT_SETUP_EXE=${built%%: *}
    RZT_SETUP_ON_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

setup=$RZT_SETUP_EXE
stage=build/zip/$(basename "$setup" -setup.exe)
version=${stage#build/zip/rzt-}
version=${version%-windows-x64}
out=$root/build/e2e-setup
shots=${RZT_SETUP_SHOTS:-}
[ -z "$shots" ] || mkdir -p "$shots"

export WINEPREFIX=$out/prefix WINEARCH=win64 WINEDEBUG=${RZT_WINEDEBUG:--all} LC_ALL=C.UTF-8
# No menu entries on the Linux side from the shortcuts (asked for explicitly below).
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
unset WINEPATH WINEQT_PLUGIN_PATH WINEQT_QPA_PLATFORM
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver

app='ZORV RZT'
key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$app"
c=$WINEPREFIX/drive_c
folder=$c/Program\ Files/$app
lnk=$c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/$app.lnk
settings='HKLM\Software\ZORV-RZT'

fail() { echo "FAIL: $*" >&2; exit 1; }
shot() { [ -z "$shots" ] || import -window root "$shots/$1.png"; }
. tests/e2e/x-await.sh
# A value of a registry key as reg.exe prints it (DWORDs as 0x...), empty when there is none.
regval() {
    "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# Everything in the prefix but Wine's own churn: the files of drive C: and the registry's
# Software keys, to compare before the install and after the uninstall.
snapshot() {
    (cd "$c" && find . -path ./windows -prune -o -path './users/*/AppData/Local/Temp' -prune \
        -o -path './users/*/Temp' -prune -o -print | LC_ALL=C sort)
    local hive ignore='^HK[A-Z_]+\\Software\\Wine($|\\)|^ +.* REG_'
    # Wine's taskbar, started for the pictures, keeps its own settings under Explorer.
    [ -z "$shots" ] || ignore+='|\\CurrentVersion\\Explorer\\'
    for hive in HKLM HKCU; do
        "$wine" reg query "$hive\\Software" /s 2>/dev/null | tr -d '\r' | grep -v '^$' |
            grep -Ev "$ignore" || true
    done
}
install() {  # install <setup arguments>
    local status=0
    "$wine" "$setup" "$@" || status=$?
    "$wineserver" -w
    [ "$status" = 0 ] || fail "$(basename "$setup") $* returned $status"
}
# The picture of window $1 (or of its part $2, as WIDTHxHEIGHT+X+Y), as a checksum: a page of
# the setup program that took its key, or a menu that opened, shows another picture.
looks() { import -window "$1" ${2:+-crop "$2"} rgb:- 2>/dev/null | md5sum; }
changed() { [ "$(looks "$2" "${3:-}")" != "$1" ]; }
# Key $2 to window $1, which the virtual display (no window manager) may not have focused.
key_to() { xdotool key --window "$1" "$2" 2>/dev/null; }
# The setup program through its pages, as a user clicks through them, with a PNG of each.
install_by_pages() {
    "$wine" "$setup" &
    local pid=$! win page was
    win=$(await "$app $version Setup" 60) || fail "no setup window"
    for page in welcome licence folder; do
        sleep 2; shot "setup-$page"
        # Given the focus before the picture to compare with, which the focus may redraw.
        xdotool windowactivate --sync "$win" 2>/dev/null || true
        sleep 0.5
        was=$(looks "$win")
        step "setup: Return on the $page page" 3 5 changed "$was" "$win" -- \
            key_to "$win" Return || fail "the $page page did not take Return"
    done
    # The finish page follows by itself once the files are in and the entry is written.
    for _ in $(seq 240); do [ -n "$(regval "$key" EstimatedSize)" ] && break; sleep 0.5; done
    sleep 3; shot setup-finish
    step "setup: Return on the finish page" 3 5 gone "$app $version Setup" -- \
        finish "$win" || fail "the finish page did not take Return"
    wait "$pid" || fail "the setup program failed"
    "$wineserver" -w
}
gone() { ! shown "$1"; }
# Return to the setup program's window $1, while it shows.
finish() { gone "$app $version Setup" || key_to "$1" Return; }

rm -rf "$out"
mkdir -p "$out"
start=$(date +%s)
"$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -w
before=$(snapshot)

echo "== install ($(basename "$setup"), $(stat -c %s "$setup") bytes)"
if [ -n "$shots" ]; then install_by_pages; else install /S; fi

# The files: exactly those of the zip, byte for byte, and the uninstaller.
expected=$( (cd "$stage" && find . -type f; echo ./uninstall.exe) | LC_ALL=C sort)
found=$(cd "$folder" && find . -type f | LC_ALL=C sort)
[ "$found" = "$expected" ] || fail "installed files differ: $(diff <(echo "$expected") <(echo "$found") || true)"
differ=$(cd "$stage" && find . -type f ! -exec cmp -s {} "$folder/{}" \; -print)
[ -z "$differ" ] || fail "installed files differ from the zip's: $differ"
echo "files: $(wc -l <<<"$found") in C:\\Program Files\\$app, equal to the zip's $(( $(wc -l <<<"$found") - 1 )) and uninstall.exe"

# rzt.exe's icon and version for Explorer, the shortcut and the entry.
IFS=. read -r major minor revision <<<"$version"
resource=$(x86_64-w64-mingw32-windres -i "$folder/rzt.exe" -O rc 2>/dev/null | tr -d '\0')
grep -q "^ *FILEVERSION $((10#$major)), $((10#$minor)), 0, $((10#$revision))\$" <<<"$resource" &&
    grep -q "VALUE \"ProductVersion\", \"$version\"" <<<"$resource" &&
    grep -q RT_GROUP_ICON <<<"$resource" || fail "rzt.exe lacks its icon or version resource"
echo "rzt.exe: icon, file version $((10#$major)).$((10#$minor)).0.$((10#$revision)), product version $version"

# The shortcut: its target, folder and icon as the .lnk holds them (the link's local base path
# and string data), and the icon as Wine's desktop integration extracts it from there.
[ -f "$lnk" ] || fail "no Start menu shortcut"
shortcut=$(python3 - "$lnk" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
flags, = struct.unpack_from("<I", d, 20)
icon_index, = struct.unpack_from("<i", d, 56)
pos = 76
if flags & 1:  # an item id list first
    pos += 2 + struct.unpack_from("<H", d, pos)[0]
target = ""
if flags & 2:  # link info with the local base path
    size, _, info_flags, _, base = struct.unpack_from("<5I", d, pos)
    if info_flags & 1:
        target = d[pos + base:d.index(b"\0", pos + base)].decode("latin-1")
    pos += size
strings = {}
for bit, name in ((4, "name"), (8, "relative"), (16, "folder"), (32, "arguments"), (64, "icon")):
    if flags & bit:
        n, = struct.unpack_from("<H", d, pos)
        width = 2 if flags & 0x80 else 1
        text = d[pos + 2:pos + 2 + n * width].decode("utf-16-le" if width == 2 else "latin-1")
        strings[name] = text.rstrip("\0")
        pos += 2 + n * width
print(f"{target}|{strings.get('folder', '')}|{strings.get('icon', '')},{icon_index}")
PY
)
want="C:\\Program Files\\$app\\rzt.exe|C:\\Program Files\\$app|C:\\Program Files\\$app\\rzt.exe,0"
[ "$shortcut" = "$want" ] || fail "the shortcut is $shortcut, not $want"
xdg=$out/xdg
WINEDLLOVERRIDES='mscoree,mshtml=' XDG_DATA_HOME=$xdg/data XDG_CONFIG_HOME=$xdg/config \
    "$wine" winemenubuilder.exe "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\$app.lnk"
"$wineserver" -w
desktop=$xdg/data/applications/wine/Programs/$app.desktop
icon=$(sed -n 's/^Icon=//p' "$desktop" 2>/dev/null)
icons=$(find "$xdg/data/icons" -name "${icon:-none}.png" | sort -V)
[ -n "$icons" ] || fail "Wine found no icon in the shortcut"
IFS='|' read -r target start_in icon_location <<<"$shortcut"
echo "Start menu: $app.lnk -> $target (in $start_in, icon $icon_location);" \
    "Wine extracts the icon in $(wc -l <<<"$icons") sizes"
if [ -n "$shots" ]; then
    montage -background white -font "$root/src/controls/fonts/LiberationSans-Regular.ttf" \
        -label '%wx%h' $icons -tile x1 -geometry +8+8 "$shots/shortcut-icon.png"
    cp "$desktop" "$shots/shortcut.desktop"
fi

# Wine's own desktop, with its taskbar: the Start menu's entry and the Add/Remove Programs list.
if [ -n "$shots" ]; then
    "$wine" explorer /desktop=shell,1024x768 control appwiz.cpl >/dev/null 2>&1 &
    await "Add/Remove Programs" 30 >/dev/null || fail "no Add/Remove Programs"
    sleep 3; shot add-remove-programs
    # The Start button (bottom left) opens the menu above it; the pointer on its first entry,
    # "Programs", opens that submenu to the right. A second click would close the menu, so one
    # comes only while the menu's place shows what it showed before; the pointer moves within
    # the entry on each try, since staying where it is tells the menu nothing.
    menu=120x60+0+685 submenu=150x30+116+680
    was=$(looks root $menu)
    step "Wine's Start menu opens" 3 5 changed "$was" root $menu -- \
        xdotool mousemove 20 755 click 1 || fail "the Start menu did not open"
    was=$(looks root $submenu)
    step "Wine's Programs submenu opens" 3 5 changed "$was" root $submenu -- \
        xdotool mousemove 40 690 sleep 0.1 mousemove 50 693 || fail "the Programs submenu did not open"
    sleep 1; shot start-menu
    "$wineserver" -k
    "$wineserver" -w
fi

# The uninstall entry, in the 64-bit registry where Windows lists 64-bit programs.
size_kb=$(find "$folder" -type f -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1024) }')
while IFS='|' read -r name want; do
    got=$(regval "$key" "$name")
    if [ "$name" = EstimatedSize ]; then
        # In KB; NSIS sums the files' sizes rounded down each.
        (( got >= size_kb - 64 && got <= size_kb )) || fail "EstimatedSize $got, the files take $size_kb KB"
    else
        [ "$got" = "$want" ] || fail "$name is '$got', not '$want'"
    fi
    [ "$name" != EstimatedSize ] || got="$got ($((got)) KB, the files $size_kb KB)"
    echo "  $name = $got"
done <<EOF
DisplayName|$app
DisplayVersion|$version
Publisher|ZORV
DisplayIcon|C:\\Program Files\\$app\\rzt.exe,0
InstallLocation|C:\\Program Files\\$app
UninstallString|"C:\\Program Files\\$app\\uninstall.exe"
QuietUninstallString|"C:\\Program Files\\$app\\uninstall.exe" /S
EstimatedSize|
NoModify|0x1
NoRepair|0x1
EOF
[ -z "$(regval "${key/Software/Software\\WOW6432Node}" DisplayName)" ] ||
    fail "an entry in the 32-bit registry too"

# The installed program, with nothing from the build on its path, until its search window shows.
"$wine" "C:\\Program Files\\$app\\rzt.exe" > "$out/rzt.log" 2>&1 &
rzt=$!
await "Device Search" 60 >/dev/null || { shot no-search-window; fail "no search window: $(cat "$out/rzt.log")"; }
echo "started: the installed rzt.exe shows its Device Search window"
sleep 2; shot installed-search

# While it runs, neither the uninstaller nor the setup program may take anything away; silent,
# they end with ERROR_SHARING_VIOLATION (32). The uninstaller as the setup program runs an
# earlier version's (in place), then as the entry's QuietUninstallString (it hands over to a
# copy of itself in the temporary folder and ends at once, so only what it left can be seen).
installed=$(cd "$folder" && find . -type f | LC_ALL=C sort)
intact() { # what was done
    [ "$(cd "$folder" && find . -type f | LC_ALL=C sort)" = "$installed" ] || fail "$1 removed files"
    [ "$(regval "$key" DisplayName)" = "$app" ] || fail "$1 removed the uninstall entry"
    [ -f "$lnk" ] || fail "$1 removed the Start menu shortcut"
}
# `_?=` counts only unquoted, as the last option, which wine would quote for the space in it:
# cmd runs that line as written.
printf '%s\r\n' "@\"C:\\Program Files\\$app\\uninstall.exe\" /S _?=C:\\Program Files\\$app" \
    '@exit %ERRORLEVEL%' > "$out/uninstall-in-place.bat"
for run in "uninstall.exe /S _?=" "$(basename "$setup") /S"; do
    status=0
    case $run in
        uninstall*) "$wine" cmd /c "$(printf 'Z:%s' "$out/uninstall-in-place.bat" | tr / '\\')" || status=$? ;;
        *) "$wine" "$setup" /S || status=$? ;;
    esac
    [ "$status" = 32 ] || fail "$run beside the running program returned $status, not 32"
    intact "$run"
done
"$wine" "$folder/uninstall.exe" /S
# The copy (Temp\~nsuN.tmp\Un.exe) is started before the first one ends. The user's Temp is
# %USERPROFILE%\Temp in Wine 8, %USERPROFILE%\AppData\Local\Temp in Wine 10.
[ -n "$(find "$c/users" -maxdepth 5 -path '*/Temp/~nsu*.tmp')" ] || fail "uninstall.exe /S made no copy of itself"
for _ in $(seq 120); do pgrep -f '~nsu[^ ]*[.]tmp' >/dev/null || break; sleep 0.5; done
intact "uninstall.exe /S"
# Started by hand, the setup program says so before anything else; Cancel ends it with 32 too.
"$wine" "$setup" &
asked=$!
win=$(await "$app $version Setup" 60) || fail "the setup program showed no message"
sleep 1; shot setup-running
cancel() { gone "$app $version Setup" || key_to "$1" Escape; }
step "setup: Escape on the message" 3 5 gone "$app $version Setup" -- cancel "$win" ||
    fail "the message did not take Escape"
status=0
wait "$asked" || status=$?
[ "$status" = 32 ] || fail "the setup program, cancelled at its message, returned $status, not 32"
intact "the setup program, cancelled at its message"
kill -0 "$rzt" 2>/dev/null || fail "the program ended during the attempts"
echo "beside the running program: the setup program and uninstall.exe /S (in place) returned 32;" \
    "uninstall.exe /S from its copy removed nothing either; by hand, the setup program asked and," \
    "cancelled, returned 32"
# Closed as Windows closes a program (WM_CLOSE), so it takes its instance lock away itself.
"$wine" taskkill /im rzt.exe >/dev/null 2>&1 || true
for _ in $(seq 80); do kill -0 "$rzt" 2>/dev/null || break; sleep 0.25; done
! kill -0 "$rzt" 2>/dev/null || fail "the program did not close"
wait "$rzt" || true
"$wineserver" -w

# The folder of a saved file, as the program remembers it: the uninstall must keep it.
"$wine" reg add "$settings" /v DIR /d 'C:\users\Public\Documents' /f >/dev/null

echo "== install again over it, with the desktop shortcut"
install /S /DESKTOP
[ -f "$c/users/Public/Desktop/$app.lnk" ] || fail "no desktop shortcut"
entries=$(for view in Software Software\\WOW6432Node; do
        "$wine" reg query "HKLM\\$view\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s 2>/dev/null
    done | tr -d '\r' | grep -c "^ *DisplayName *REG_SZ *$app$" || true)
[ "$entries" = 1 ] || fail "$entries uninstall entries"
copies=$(find "$c" -path "$c/windows" -prune -o -name rzt.exe -print | wc -l)
[ "$copies" = 1 ] || fail "$copies copies of rzt.exe"
[ "$(cd "$folder" && find . -type f | LC_ALL=C sort)" = "$expected" ] || fail "files differ after the second install"
echo "upgrade in place: $entries uninstall entry, $copies copy of rzt.exe, the same $(wc -l <<<"$expected") files;" \
    "desktop shortcut made"

echo "== install again, silently, without /DESKTOP"
install /S
[ -f "$c/users/Public/Desktop/$app.lnk" ] || fail "the upgrade took the desktop shortcut away"
echo "the desktop shortcut stays"

echo "== uninstall"
quiet=$(regval "$key" QuietUninstallString)
uninstaller=${quiet%\" *}
uninstaller=${uninstaller#\"}
"$wine" "$uninstaller" ${quiet##*\" }
# The uninstaller runs on from a copy of itself in the temporary folder.
"$wineserver" -w
dir=$(regval "$settings" DIR)
[ "$dir" = 'C:\users\Public\Documents' ] || fail "DIR is '$dir' after the uninstall"
"$wine" reg delete "$settings" /f >/dev/null
after=$(snapshot)
[ "$after" = "$before" ] || fail "left behind: $(diff <(echo "$before") <(echo "$after") || true)"
echo "nothing left but DIR ($dir)"
echo "PASS in $(( $(date +%s) - start )) s"
