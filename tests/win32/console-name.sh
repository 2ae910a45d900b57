#!/bin/sh
# A name outside the code page, shown on the console of the cmd that started the program:
#   console-name.sh WINE-RUN RZT.EXE
# cmd runs on a terminal (Wine's console on a pseudo-terminal) and starts rzt.exe as a user
# types it, so the program gets no standard streams and opens cmd's console itself. The folder
# does not exist, so the run ends at once with a message that names it.
set -eu
wine_run=$1
exe=$2
folder='Łukasz 数据'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dos() { printf 'Z:%s' "$1" | tr / '\\'; }
# Wide, so that no line is wrapped in the middle of the name.
script -qec "stty cols 400 rows 50; exec '$wine_run' cmd /c start /wait \"\" \"$(dos "$exe")\" \
--download timer --output \"$(dos "$work")\\$folder\\x.csv\" --wait 1" /dev/null </dev/null >"$work/seen" 2>&1 || true
if grep -qF "$folder\\x.csv" "$work/seen"; then
    echo "the console shows the name as given: $folder"
    exit 0
fi
echo "the console does not show the name $folder as given; it shows:"
tr -d '\r' <"$work/seen" | grep -a 'rzt:' || cat "$work/seen"
exit 1
