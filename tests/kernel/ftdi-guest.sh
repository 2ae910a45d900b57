#!/bin/bash
# The checks of tests/kernel/ftdi-qemu.sh, inside the guest: run by its PID 1 once udevd runs and
# the host's folder is mounted at /host. The package is installed as a user installs it, the
# program is started with no options on a virtual display and driven with xdotool; the converter
# is plugged in and pulled out by the host (ftdi_conductor.py) on request over /dev/ttyS1. Each
# check is a line "PASS|FAIL NAME: FIGURE" in /host/results.txt, a figure alone "INFO ...";
# /host/status is the number of checks that failed. Pictures of failed steps go to /host/shots.
set -uo pipefail
host=/host
saved=/root/saved
results=$host/results.txt
mkdir -p "$saved" "$host/shots"
: >"$results"
failures=0
result() {
    local verdict=$1
    shift
    echo "$verdict $*" | tee -a "$results"
    [ "$verdict" != FAIL ] || failures=$((failures + 1))
}
# check NAME FIGURE COMMAND...: PASS when COMMAND succeeds.
check() {
    local name=$1 figure=$2
    shift 2
    if "$@"; then result PASS "$name: $figure"; else result FAIL "$name: $figure"; fi
}
finish() {
    echo "$failures" >"$host/status"
    exit 0
}
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
sleep_until() {
    local ms=$(($1 - $(now_ms)))
    [ "$ms" -le 0 ] || sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
}

# The host, one request a line.
stty -F /dev/ttyS1 raw -echo
exec 3<>/dev/ttyS1
ask() {
    printf '%s\n' "$*" >&3
    IFS= read -r -t 300 reply <&3 || reply="fail no answer from the host"
    reply=${reply%$'\r'}
    [ "${reply%% *}" = ok ]
}
figure() { echo "${reply#ok }"; }

# The package, as apt installs it on a running system: its postinst reloads udev's rules.
if ! dpkg -i "$host/rzt.deb" >"$host/dpkg.log" 2>&1; then
    result FAIL "dpkg -i $(dpkg-deb -f "$host/rzt.deb" Package Version | tr '\n' ' ')"
    finish
fi
result PASS "installed: $(dpkg-query -W -f '${Package} ${Version}' rzt), Qt $(dpkg-query -W -f '${db:Status-Abbrev}${Version}\n' 'libqt6core6*' | sed -n 's/^ii *//p'), kernel $(uname -r)"

# How much slower the guest runs code than the host: the host's reference job (see
# ftdi_conductor.py) again here.
cp "$host/rzt.deb" /var/tmp/reference
TIMEFORMAT='%3U %3S'
times=$({ time sh "$host/reference.sh" /var/tmp/reference; } 2>&1)
read -r user system <<<"$times"
guest_ms=$((10#${user/./} + 10#${system/./}))
host_ms=$(cat "$host/reference-host-ms")
result INFO "reference job: $guest_ms ms in the guest, $host_ms ms on the host"
ms() { echo "$(($1 / 1000)).$(printf %03d $(($1 % 1000)))"; }

mkdir -p /var/tmp/fb
Xvfb :1 -screen 0 1024x768x24 -nolisten tcp -fbdir /var/tmp/fb >/var/tmp/xvfb.log 2>&1 &
export DISPLAY=:1
for _ in $(seq 200); do [ -S /tmp/.X11-unix/X1 ] && break; sleep 0.1; done
shot() { cp /var/tmp/fb/Xvfb_screen0 "$host/shots/$1.xwd" 2>/dev/null; }
. "$host/x-await.sh"
# A key to the window $1 (an xdotool id), with the input focus on it (no window manager here).
key_to() { xdotool windowfocus --sync "$1" 2>/dev/null; xdotool key "$2"; }
seen() { ask seen "$1"; }
file_dialog() { dialog=$(await "Save to Text File" 1) ; }
saved_as() { [ -f "$1" ] && ! shown "Save to Text File"; }
type_path() {
    shown "Save to Text File" || return 0
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool key ctrl+a
    xdotool type --delay 20 "$1"
    xdotool key Return
}
# The program's CPU time so far, ns, from the scheduler's account of each of its threads.
cpu_ns() {
    local t ns total=0
    for t in /proc/"$1"/task/*/schedstat; do
        read -r ns _ <"$t" 2>/dev/null && total=$((total + ns))
    done
    echo "$total"
}
port_closed() { ! ls -l /proc/"$1"/fd 2>/dev/null | grep -q '/dev/ttyUSB'; }
search_shown() { await "Device Search" "$1" >/dev/null; }
# The retrieval window, once the device has identified: its id in $main.
identified() { main=$(await "Retrive Data" 90); }
# The download of "&All Data": Alt+A again only while the device has no "A" since the mark.
all_data() {
    ask mark
    step '"&All Data": the device receives "A"' 3 10 seen A -- key_to "$main" alt+a
}
# "&Save" (again while the buttons are unavailable, during the download) and the file's path.
save_as() {
    dialog=
    step "Save opens its dialog" 60 1 file_dialog -- key_to "$main" alt+s &&
        step "saved as $1" 3 10 saved_as "$1" -- type_path "$1"
}

rzt >"$host/rzt.log" 2>&1 &
pid=$!
check "started with no device: the search window" "" search_shown 90
[ ! -e /dev/ttyUSB0 ] || result FAIL "a /dev/ttyUSB0 before the converter is plugged in"
# 3 s of watching with no device, the state a pull leads to: what it costs here.
sleep 2
before=$(cpu_ns "$pid")
start=$(now_ms)
sleep_until $((start + 3000))
watching=$((($(cpu_ns "$pid") - before) / 1000))
result INFO "watching with no device: CPU in 3 s $(ms "$watching") ms in the guest"

# Plugged in while the program watches.
start=$(now_ms)
ask plug
for _ in $(seq 300); do [ -e /dev/ttyUSB0 ] && break; sleep 0.1; done
ask first-probe
# A generous bound: the guest runs the program many times slower than a machine would.
soon() { [ "${reply%% *}" = ok ] && [ "$(figure)" -lt 15000 ]; }
check "found through udev: device_add to the first \"?\" (< 15 s)" "$(figure) ms" soon
identified
check "identified: the retrieval window" "$(($(now_ms) - start)) ms after the plug request" [ -n "$main" ]

props=$(udevadm info -q property -n /dev/ttyUSB0 2>&1)
node() { grep -x "$1" <<<"$props" >/dev/null; }
check "the kernel's driver" "$(grep -E '^(ID_USB_DRIVER|ID_VENDOR_ID|ID_MODEL_ID)=' <<<"$props" | tr '\n' ' ')" \
    node ID_USB_DRIVER=ftdi_sio
check "udev rule: ID_MM_DEVICE_IGNORE" "$(grep '^ID_MM_DEVICE_IGNORE=' <<<"$props")" node ID_MM_DEVICE_IGNORE=1
check "udev rule: uaccess tag" "$(grep '^TAGS=' <<<"$props")" grep -q '^TAGS=.*:uaccess:' <<<"$props"
by_id() { [ "$(readlink -f /dev/serial/by-id/*)" = /dev/ttyUSB0 ]; }
check "serial link by id" "$(ls /dev/serial/by-id/ 2>&1 | tr '\n' ' ')" by_id

# A link check every 2 s from the end of the last one, which takes a little over 0.2 s.
spaced() {
    local gap
    [ "${reply%% *}" = ok ] || return 1
    for gap in $(figure); do [ "$gap" -ge 1900 ] && [ "$gap" -le 3000 ] || return 1; done
}
ask mark
ask link-checks 3
check "link checks, ms apart (1900 to 3000)" "$(figure)" spaced

all_data
save_as "$saved/all.csv"
check '"&All Data" saved byte for byte' "$(stat -c %s "$saved/all.csv" 2>/dev/null) bytes" cmp "$saved/all.csv" "$host/all.expected"

# Pulled out while connected: the port is closed at once and the program stays quiet until the
# next link check gives the device up and the search comes back. Qt Serial Port 6.8 reports a
# hung-up line with no error and its read notifier then fires without end: a program that
# waits for an error spins a core until the link check. Under TCG the guest runs the program
# many times slower than this machine does (the search's start alone takes well over 20 ms of
# the guest's CPU), so the 3 s figure is reported, and the bound of 20 ms is put on the first
# half second, in the guest's own time: a spinning program spends all of it.
before=$(cpu_ns "$pid")
ask unplug
start=$(now_ms)
steps=""
for i in 1 2 3 4 5 6; do
    sleep_until $((start + 500 * i))
    steps+=" $((($(cpu_ns "$pid") - before) / 1000000))"
    if [ "$i" = 1 ]; then
        half=$((($(cpu_ns "$pid") - before) / 1000))
        port_closed "$pid" && closed=yes || closed=no
    fi
done
after=$(cpu_ns "$pid")
cpu=$(((after - before) / 1000))
check "pulled while connected: CPU in the first 0.5 s < 20 ms" "$(ms "$half") ms" [ "$half" -lt 20000 ]
check "pulled while connected: the port closed within 0.5 s" "$closed" [ "$closed" = yes ]
result INFO "pulled while connected: CPU in the 3 s after: $(ms "$cpu") ms in the guest (every 0.5 s, ms:$steps); the reference job runs $((guest_ms * 10 / host_ms / 10)).$((guest_ms * 10 / host_ms % 10)) times slower here than on the host"
check "pulled while connected: the search window back" "" search_shown 30
check "pulled while connected: the port closed" "" port_closed "$pid"

start=$(now_ms)
ask plug
ask first-probe
check "plugged in again: device_add to the first \"?\" (< 15 s)" "$(figure) ms" soon
identified
check "plugged in again: identified" "$(($(now_ms) - start)) ms after the plug request" [ -n "$main" ]

# Pulled out one second into a download: what came is kept up to its last whole line, and is
# offered for saving.
all_data
ask pull-after A 1
question() { main=$(await "^ZORV RZT$" 1); }
if check "pulled during a download: the program asks to save" "" step "the question" 1 60 question -- true; then
    step "Save in the question" 3 10 file_dialog -- key_to "$main" Return &&
        step "saved as cut.csv" 3 10 saved_as "$saved/cut.csv" -- type_path "$saved/cut.csv"
fi
size=$(stat -c %s "$saved/cut.csv" 2>/dev/null || echo 0)
whole=$(stat -c %s "$host/all.expected")
cut_short() {
    [ "$size" -gt 80 ] && [ "$size" -lt "$whole" ] && cmp -s -n "$size" "$saved/cut.csv" "$host/all.expected" &&
        [ "$(tail -c 2 "$saved/cut.csv" | od -An -tx1 | tr -d ' ')" = 0d0a ]
}
check "pulled during a download: saved up to a line's end, nothing not received" "$size of $whole bytes" cut_short
check "pulled during a download: the search window back" "" search_shown 30
check "pulled during a download: the port closed" "" port_closed "$pid"
kill "$pid"
wait "$pid"

# The command-line download, with no display, through the same driver.
ask plug
start=$(now_ms)
env -u DISPLAY rzt --download all --output "$saved/cli.csv" --wait 60 >"$host/cli.log" 2>&1
status=$?
check "rzt --download all --output FILE: exit 0" "status $status in $(($(now_ms) - start)) ms" [ "$status" = 0 ]
check "rzt --download all --output FILE: byte for byte" "$(stat -c %s "$saved/cli.csv" 2>/dev/null) bytes" \
    cmp "$saved/cli.csv" "$host/all.expected"
ask unplug
cp "$saved"/* "$host/" 2>/dev/null
finish
