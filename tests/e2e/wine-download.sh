#!/usr/bin/env bash
# `rzt.exe --download` under Wine, typed into Windows' own command interpreter (cmd, from batch
# files), on the bed of wine-search.sh: the FTDI driver's records name COM9, Wine's com9 is the
# simulated device's pseudo-terminal, no --port. No display at all.
#   tests/e2e/wine-download.sh        (after scripts/windows and the native rzt-sim)
# Checks: "all" saved to a file equal to what "&Save" writes for the same data, and the
# messages and the exit status 0 seen by cmd; the same bytes through `--output -` redirected by
# cmd to a file (binary, no CR doubled); exit status 2 for a port with nothing behind it;
# and, reported only, a second rzt.exe while the first holds COM9 (5 on Windows; Wine 8.0 does
# not keep a COM port to one program). Then, as far as Wine's console allows, the
# messages on a console that cmd runs on (a pseudo-terminal) and Ctrl+C. Leaves its files and
# the device's log in build/e2e-download.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$PWD/build/e2e-download
rm -rf "$out"
mkdir -p "$out"
. tests/e2e/wine-bed.sh

# The comm-wait stand-in (the bed's plain DLL) goes in through a watcher (wine_inject.c): the
# windowless program loads no Qt plugins. Without it, nothing names the process Ctrl+C is for.
x86_64-w64-mingw32-gcc-posix -municode -O2 -Wall -Wextra -o "$out/wine_inject.exe" tests/e2e/wine_inject.c
x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -o "$out/wine_ctrl_c.exe" tests/e2e/wine_ctrl_c.c
"$wineserver" -p 2>"$out/wineserver.log"
touch "$out/inject.log"
if [ -n "$comm_wait" ]; then
    LD_PRELOAD=$preload "$wine" "$out/wine_inject.exe" rzt.exe "$(dos "$out/wine_comm_wait.dll")" 600 \
        >"$out/inject.log" 2>&1 &
    sleep 2
fi

exe_dos=$(dos "$exe")
bat() { # NAME, lines of the batch file
    local name=$1; shift
    printf '%s\r\n' "@echo off" "$@" > "$out/$name.bat"
}
run() { # NAME: runs the batch file in cmd, its console output in NAME.txt
    LD_PRELOAD=$preload timeout 120 "$wine" cmd /c "$(dos "$out/$1.bat")" >"$out/$1.txt" 2>&1 || true
    tr -d '\r' < "$out/$1.txt" | grep -v -e ':fixme:' -e ':err:' -e '^$' | sed 's/^/  | /'
}

echo "== all to a file, from cmd"
bat all "\"$exe_dos\" --download all --output \"$(dos "$out/all.csv")\" --wait 30" "echo exit status %ERRORLEVEL%"
run all
grep -q "exit status 0" "$out/all.txt" || fail "cmd did not see exit status 0"
grep -q "Save Data Complete" "$out/all.txt" || fail "no messages in cmd's console"
cmp "$out/all.csv" "$out/device/all.expected" || fail "the saved file differs from what \"&Save\" writes"
echo "  saved: $(stat -c %s "$out/all.csv") bytes, equal to what \"&Save\" writes"

# A folder named outside the ANSI code page (as C:\Users\Łukasz is on a Western European
# Windows). cmd reads batch files in the OEM code page, so the name comes in through the
# environment, as %USERPROFILE% brings it on Windows.
echo "== all to a folder named outside the code page"
export RZT_E2E_FOLDER="Łukasz 数据"
mkdir "$out/$RZT_E2E_FOLDER"
bat unicode "\"$exe_dos\" --download all --output \"$(dos "$out")\\%RZT_E2E_FOLDER%\\all.csv\" --wait 30" "echo exit status %ERRORLEVEL%"
run unicode
grep -q "exit status 0" "$out/unicode.txt" || fail "cmd did not see exit status 0"
cmp "$out/$RZT_E2E_FOLDER/all.csv" "$out/device/all.expected" || fail "not saved under the name given"
[ "$(ls "$out/$RZT_E2E_FOLDER")" = all.csv ] || fail "other files in the folder: $(ls "$out/$RZT_E2E_FOLDER")"
# Redirected by cmd to a file: the message is UTF-8 and names the folder as given.
grep -qF "$(dos "$out")\\$RZT_E2E_FOLDER\\all.csv" "$out/unicode.txt" || fail "the message does not name the folder as given"
echo "  saved under $RZT_E2E_FOLDER, equal to what \"&Save\" writes; the message names it"

echo "== all to standard output, redirected by cmd"
bat stdout "\"$exe_dos\" --download all --output - --wait 30 > \"$(dos "$out/stdout.csv")\"" "echo exit status %ERRORLEVEL%"
run stdout
grep -q "exit status 0" "$out/stdout.txt" || fail "cmd did not see exit status 0"
cmp "$out/stdout.csv" "$out/device/all.expected" || fail "standard output differs from what \"&Save\" writes"
echo "  standard output: $(stat -c %s "$out/stdout.csv") bytes, equal"

echo "== a port with nothing behind it"
bat none "\"$exe_dos\" --download timer --output \"$(dos "$out/none.csv")\" --port COM5 --wait 2" "echo exit status %ERRORLEVEL%"
run none
grep -q "exit status 2" "$out/none.txt" || fail "cmd did not see exit status 2"

echo "== COM9 held by another rzt.exe"
echo off > "$out/sim.in"
bat holder "\"$exe_dos\" --download timer --output \"$(dos "$out/held.csv")\" --wait 15" "echo holder's exit status %ERRORLEVEL%"
LD_PRELOAD=$preload "$wine" cmd /c "$(dos "$out/holder.bat")" >"$out/holder.txt" 2>&1 &
holderpid=$!
for _ in $(seq 100); do grep -q "found on Port" "$out/holder.txt" 2>/dev/null && break; sleep 0.1; done
bat busy "\"$exe_dos\" --download timer --output \"$(dos "$out/busy.csv")\" --wait 5" "echo exit status %ERRORLEVEL%"
run busy
wait "$holderpid" || true
tr -d '\r' < "$out/holder.txt" | grep -v -e ':fixme:' -e ':err:' | sed 's/^/  holder | /'
# Windows opens a COM port for one program at a time; Wine 8.0 lets a second one open it too,
# so there the second run does not see the port as held. Reported, not failed.
if grep -q "exit status 5" "$out/busy.txt"; then echo "  the second run saw the port held: 5"
else echo "  NOT SHOWN under Wine: the second run opened COM9 as well ($(grep -o 'exit status [0-9]*' "$out/busy.txt"))"; fi
echo on > "$out/sim.in"

# As far as Wine's console goes: cmd on a pseudo-terminal (Wine's console on a Unix terminal),
# rzt.exe with no redirection, so that it has to attach to cmd's console; then Ctrl+C on that
# console during a download (wine_ctrl_c.c: Wine leaves a Ctrl+C typed on the terminal to the
# terminal). Reported, not failed, as far as it is Wine's console; but a name outside the code
# page must show on it as typed, since the messages go to a console as Unicode.
echo "== cmd on a terminal, no redirection, Ctrl+C during the download"
console=0
bat console "\"$exe_dos\" --download all --output \"$(dos "$out/console.csv")\" --wait 30" "echo exit status %ERRORLEVEL%"
python3 - "$out" "$wine" "$exe_dos" "$(dos "$out/console.csv")" "$(dos "$out")" "$preload" <<'PY' || console=$?
import codecs, fcntl, os, pty, re, select, struct, subprocess, sys, termios, time
out, wine, exe, target, out_dos, preload = sys.argv[1:]
decoder = codecs.getincrementaldecoder("utf-8")(errors="replace")  # Wine's console writes UTF-8
open(out + "/console.csv", "wb").write(b"OLD,1\r\n")
pid, fd = pty.fork()
if pid == 0:
    os.environ["LD_PRELOAD"] = preload
    # Wide enough that no message is wrapped, which would split what the patterns look for.
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 400, 0, 0))
    os.execv(wine, [wine, "cmd"])
seen = ""
def plain():  # what the terminal shows, less Wine's cursor and title sequences
    shown = seen.replace("\x1b[1C", " ")  # Wine draws a space as a step of the cursor
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", "", shown).replace("\r", "")
def until(pattern, seconds):
    global seen
    end = time.time() + seconds
    while time.time() < end and not re.search(pattern, plain()[mark:]):
        r, _, _ = select.select([fd], [], [], 0.1)
        if r:
            try:
                seen += decoder.decode(os.read(fd, 4096))
            except OSError:
                return False
    return bool(re.search(pattern, plain()[mark:]))
def step(title, text, pattern, seconds):
    global mark
    mark = len(plain())
    os.write(fd, text.encode())
    ok = until(pattern, seconds)
    print(f"  -- {title}: {'seen' if ok else 'NOT seen'} /{pattern}/")
    for line in plain()[mark:].split("\n"):
        if line.strip() and ":fixme:" not in line:
            print("  tty | " + line.rstrip())
    return ok
mark = 0
until(r">", 20)
time.sleep(3)  # Wine's console takes the terminal raw only a moment after the first prompt
step("typed at the prompt (cmd does not wait for a windowed program)",
     f'"{exe}" --download timer --output "{target}" --wait 30\r', r"Save Data Complete.*bytes", 30)
named = step("a folder named outside the code page, its name on the console",
     f'"{exe}" --download timer --output "{out_dos}\\%RZT_E2E_FOLDER%\\timer.csv" --wait 30\r',
     re.escape(os.environ["RZT_E2E_FOLDER"]), 30)
step("start /wait (Wine 8.0's start came back at once, the messages unseen)",
     f'start /wait "" "{exe}" --download all --output "{target}" --wait 30\r', r"Save Data Complete", 20)
step("a batch file: cmd waits", f'"{out_dos}\\console.bat"\r', r"exit status \d+", 40)
mark = len(plain())
os.write(fd, f'"{out_dos}\\console.bat"\r'.encode())
loading = until(r"Loading Data", 30)
print("  -- the batch file again, the download under way: " + ("seen" if loading else "NOT seen"))
time.sleep(0.5)
# Ctrl+C on that console: the newest rzt.exe, by the watcher's log.
injected = open(out + "/inject.log").read().split()
mark = len(plain())
if injected:
    newest = injected[-2].rstrip(":")
    sent = subprocess.run([wine, out + "/wine_ctrl_c.exe", newest], capture_output=True,
                          env=dict(os.environ, LD_PRELOAD=preload)).returncode
    print(f"  -- Ctrl+C sent to the console of process {newest}: {'yes' if sent == 0 else 'NO'}")
else:
    print("  -- Ctrl+C not sent: no watcher (wine_comm_wait left out) to name the process")
ok = until(r"exit status \d+|Terminate", 15 if injected else 40)
if "Terminate" in plain()[mark:]:
    os.write(fd, b"N\r")
    until(r"exit status \d+", 10)
print("  -- after Ctrl+C: " + ("an exit status" if ok else "NO exit status"))
for line in plain()[mark:].split("\n"):
    if line.strip() and ":fixme:" not in line:
        print("  tty | " + line.rstrip()[-200:])
os.write(fd, b"exit\r")
until(r"$^", 2)
open(out + "/console.txt", "w").write(seen)
sys.exit(0 if named else 3)
PY
[ "$console" != 3 ] || fail "the folder named outside the code page did not show on the console as typed"
[ "$console" = 0 ] || echo "  (the console part ended with status $console)"
cmp -s "$out/console.csv" "$out/device/all.expected" && echo "  console.csv afterwards: the whole download of the batch file's first run" \
    || echo "  console.csv afterwards: $(head -c 60 "$out/console.csv" | tr '\r\n' '  ')..."
echo "status" > "$out/sim.in"; echo "log" > "$out/sim.in"; sleep 0.5
echo "  X received by the device: $(grep -Ec '^rzt-sim: [0-9.]+ "X"' "$out/sim.out") times"
cat "$out/inject.log" | tr -d '\r' | sed 's/^/  /'
echo PASS
