/* Test scaffolding for the end-to-end run of `rzt.exe --download` under Wine 8.0 (a Windows
 * console program, built with MinGW-w64); nothing of the program is changed.
 *
 * The windowed program gets wine_comm_wait.c into its process as a Qt generic plugin, which
 * QGuiApplication loads. The download from the command line runs with no GUI application at
 * all, so no plugin is ever loaded, and Wine 8.0 has no AppInit_DLLs. This watcher stands in
 * for the plugin list: it looks for processes of the given name, and as soon as one has
 * Qt6SerialPort.dll mapped (it is a static import, so that is before main() runs, long before
 * the first port opens) it loads the DLL into it with LoadLibraryW on a remote thread, whose
 * DllMain then hooks Qt6SerialPort's imports as it does from the plugin.
 *
 *   wine_inject.exe NAME.exe C:\path\to\dll SECONDS
 * Watches for SECONDS, injecting into every new process of that name; prints one line each.
 */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <wchar.h>

enum { maxDone = 256 };
static DWORD done[maxDone];
static int doneCount;

static BOOL Done(DWORD pid) {
    for (int i = 0; i < doneCount; ++i)
        if (done[i] == pid) return TRUE;
    return FALSE;
}

static BOOL HasSerialPort(DWORD pid) {
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
    if (modules == INVALID_HANDLE_VALUE) return FALSE;
    MODULEENTRY32W module = {.dwSize = sizeof module};
    BOOL found = FALSE;
    for (BOOL more = Module32FirstW(modules, &module); more && !found; more = Module32NextW(modules, &module))
        found = _wcsicmp(module.szModule, L"Qt6SerialPort.dll") == 0;
    CloseHandle(modules);
    return found;
}

static BOOL Inject(DWORD pid, const wchar_t *dll) {
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (!process) return FALSE;
    const SIZE_T bytes = (wcslen(dll) + 1) * sizeof(wchar_t);
    void *remote = VirtualAllocEx(process, NULL, bytes, MEM_COMMIT, PAGE_READWRITE);
    BOOL ok = remote && WriteProcessMemory(process, remote, dll, bytes, NULL);
    HANDLE thread = NULL;
    if (ok) {
        LPTHREAD_START_ROUTINE load =
            (LPTHREAD_START_ROUTINE)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
        thread = CreateRemoteThread(process, NULL, 0, load, remote, 0, NULL);
        ok = thread != NULL;
    }
    if (thread) {
        WaitForSingleObject(thread, 10000);
        DWORD loaded = 0;
        GetExitCodeThread(thread, &loaded);
        ok = loaded != 0;
        CloseHandle(thread);
    }
    CloseHandle(process);
    return ok;
}

int wmain(int argc, wchar_t **argv) {
    if (argc != 4) {
        fwprintf(stderr, L"usage: wine_inject NAME.exe DLL SECONDS\n");
        return 1;
    }
    const ULONGLONG end = GetTickCount64() + (ULONGLONG)_wtoi(argv[3]) * 1000;
    while (GetTickCount64() < end) {
        HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {.dwSize = sizeof entry};
        for (BOOL more = Process32FirstW(processes, &entry); more;
             more = Process32NextW(processes, &entry)) {
            if (_wcsicmp(entry.szExeFile, argv[1]) != 0 || Done(entry.th32ProcessID)) continue;
            if (!HasSerialPort(entry.th32ProcessID)) continue;
            if (doneCount < maxDone) done[doneCount++] = entry.th32ProcessID;
            const BOOL ok = Inject(entry.th32ProcessID, argv[2]);
            wprintf(L"wine_inject: %ls into %lu: %ls\n", argv[2], entry.th32ProcessID, ok ? L"loaded" : L"FAILED");
            fflush(stdout);
        }
        CloseHandle(processes);
        Sleep(2);
    }
    return 0;
}
