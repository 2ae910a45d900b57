/* Test scaffolding for the end-to-end run of `rzt.exe --download` under Wine: presses Ctrl+C
 * on the console of a given process, as a user at that console would. Wine's console on a
 * terminal leaves Ctrl+C to the terminal, which makes it a Unix signal for the terminal's own
 * process group, not the console event Windows programs receive; this sends the event itself.
 *   wine_ctrl_c.exe PID       (a Windows process id)
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: wine_ctrl_c PID\n");
        return 1;
    }
    FreeConsole();
    if (!AttachConsole((DWORD)strtoul(argv[1], NULL, 10))) {
        fprintf(stderr, "wine_ctrl_c: cannot attach to the console of %s (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    SetConsoleCtrlHandler(NULL, TRUE); /* not this program itself */
    const BOOL sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    return sent ? 0 : 2;
}
