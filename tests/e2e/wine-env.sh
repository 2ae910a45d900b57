# Wine for the Windows build, sourced by the end-to-end scripts (from the top of the checkout,
# with `set -euo pipefail`, after setting $out): the prefix $out/prefix, the build's Qt and the
# MinGW runtime on Wine's DLL path, Qt's plugins. Leaves: root, exe, qt, wine, wineserver, dos()
# (a Linux path as Wine's Z: path) and fail().
root=$PWD
exe=$root/build/windows/rzt.exe
qt=$root/build/qt-6.8.2-mingw-w64-x86_64
# The compiler's runtime DLLs as the build stripped them (scripts/windows).
runtime=$root/build/windows/mingw-runtime
[ -f "$exe" ] || { echo "No $exe: run scripts/windows" >&2; exit 1; }

dos() { printf 'Z:%s' "$1" | tr / '\\'; }
fail() { echo "FAIL: $*" >&2; exit 1; }
export WINEPREFIX=$out/prefix WINEARCH=win64 WINEDEBUG=${RZT_WINEDEBUG:--all} LC_ALL=C.UTF-8
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
export WINEPATH="$(dos "$qt/bin");$(dos "$runtime")"
# Wine keeps QT_* of the Linux side away from Windows programs; WINEQT_* reach them as QT_*.
export WINEQT_PLUGIN_PATH="$(dos "$qt/plugins")"
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
