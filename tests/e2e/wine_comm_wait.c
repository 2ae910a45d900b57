/* Loaded into the Windows program under Wine 8.0 for the end-to-end run (a Windows DLL, built
 * with MinGW-w64); nothing of the program is changed.
 *
 * Qt's Windows serial port waits for received bytes with WaitCommEvent(handle, &mask, &ov)
 * where ov.hEvent is NULL, because its completions come through an I/O completion port the
 * handle is bound to (CreateIoCompletionPort); only when that packet arrives does Qt start its
 * ReadFile. Windows queues the packet. Wine 8.0 (dlls/ntdll/unix/serial.c,
 * IOCTL_SERIAL_WAIT_ON_MASK) takes a NULL event for a synchronous call: it blocks the caller
 * on an event of its own until its wait thread sees a byte, and queues nothing. So the program
 * would never read. (Later Wines make this wait a real asynchronous request.)
 *
 * Here Qt6SerialPort.dll's imports of WaitCommEvent, ReadFile and CreateIoCompletionPort point at
 * the wrappers below. CreateIoCompletionPort is watched to learn each handle's port and key.
 * A WaitCommEvent with no event on such a handle is given an event of ours, which Wine 8.0
 * completes asynchronously; a thread waits for it and queues the packet Windows would have
 * queued, with Wine's own status and byte count, then clears the event again.
 *
 * Qt also starts a ReadFile (from QSerialPort::readData) while that wait is out. Its timeouts
 * (ReadIntervalTimeout MAXDWORD, no totals) mean "return at once with what is there": on
 * Windows a read that finds nothing ends at once with 0 bytes. Wine 8.0 keeps it pending until
 * bytes come, so every arrival would end the read and the wait together, which Windows never
 * does that way. So a read on a bound handle with those timeouts and an empty input queue is
 * ended here at once with 0 bytes and its packet, as Windows does.
 *
 * Nothing here orders or holds back the packets: Qt's notifier must cope with two completions
 * that meet, as it must on Windows (Qt Serial Port 6.4.2 without the QTBUG-108450 fix does not).
 *
 * Every other call goes straight through.
 *
 * The DLL is loaded through Qt's generic-plugin list (QT_QPA_GENERIC_PLUGINS), which
 * QGuiApplication loads before any window exists, so the hooks are in before any port opens.
 */
#include <windows.h>
#include <winternl.h>

typedef BOOL(WINAPI *WaitCommEventFn)(HANDLE, LPDWORD, LPOVERLAPPED);
typedef HANDLE(WINAPI *CreateIoCompletionPortFn)(HANDLE, HANDLE, ULONG_PTR, DWORD);
typedef BOOL(WINAPI *ReadFileFn)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef NTSTATUS(NTAPI *NtSetIoCompletionFn)(HANDLE, ULONG_PTR, ULONG_PTR, NTSTATUS, SIZE_T);

static WaitCommEventFn realWaitCommEvent;
static CreateIoCompletionPortFn realCreateIoCompletionPort;
static ReadFileFn realReadFile;
static NtSetIoCompletionFn ntSetIoCompletion;

/* Handles bound to a completion port; Qt opens one serial port at a time. */
enum { maxBindings = 16 };
static struct Binding {
    HANDLE file, port;
    ULONG_PTR key;
} bindings[maxBindings];
static CRITICAL_SECTION lock;

static HANDLE WINAPI bindCompletionPort(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads) {
    HANDLE result = realCreateIoCompletionPort(file, port, key, threads);
    if (result && file != INVALID_HANDLE_VALUE) {
        EnterCriticalSection(&lock);
        int free = -1;
        for (int i = 0; i < maxBindings; ++i) {
            if (bindings[i].file == file || (free < 0 && !bindings[i].file)) free = i;
            if (bindings[i].file == file) break;
        }
        if (free >= 0) bindings[free] = (struct Binding){file, result, key};
        LeaveCriticalSection(&lock);
    }
    return result;
}

static BOOL findBinding(HANDLE file, struct Binding *out) {
    BOOL found = FALSE;
    EnterCriticalSection(&lock);
    for (int i = 0; i < maxBindings && !found; ++i)
        if (bindings[i].file == file) {
            *out = bindings[i];
            found = TRUE;
        }
    LeaveCriticalSection(&lock);
    return found;
}

struct PendingWait {
    struct Binding binding;
    OVERLAPPED *overlapped;
    HANDLE event;
};

/* The packet Windows queues when the wait ends: the request's own status and byte count. */
static void queueCompletion(struct PendingWait *wait) {
    OVERLAPPED *ov = wait->overlapped;
    ov->hEvent = NULL;
    ntSetIoCompletion(wait->binding.port, wait->binding.key, (ULONG_PTR)ov, (NTSTATUS)ov->Internal,
                      ov->InternalHigh);
    CloseHandle(wait->event);
    HeapFree(GetProcessHeap(), 0, wait);
}

static DWORD WINAPI awaitCommEvent(void *argument) {
    struct PendingWait *wait = argument;
    WaitForSingleObject(wait->event, INFINITE);
    queueCompletion(wait);
    return 0;
}

static BOOL WINAPI waitCommEvent(HANDLE file, LPDWORD mask, LPOVERLAPPED ov) {
    struct Binding binding;
    if (!ov || ov->hEvent || !findBinding(file, &binding)) return realWaitCommEvent(file, mask, ov);

    struct PendingWait *wait = HeapAlloc(GetProcessHeap(), 0, sizeof *wait);
    HANDLE event = wait ? CreateEventW(NULL, TRUE, FALSE, NULL) : NULL;
    if (!event) {
        if (wait) HeapFree(GetProcessHeap(), 0, wait);
        return realWaitCommEvent(file, mask, ov);
    }
    *wait = (struct PendingWait){binding, ov, event};
    ov->hEvent = event;
    if (realWaitCommEvent(file, mask, ov)) {
        queueCompletion(wait); /* Windows queues a packet for a wait that ends at once, too */
        return TRUE;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        ov->hEvent = NULL;
        CloseHandle(event);
        HeapFree(GetProcessHeap(), 0, wait);
        SetLastError(error);
        return FALSE;
    }
    HANDLE thread = CreateThread(NULL, 0, awaitCommEvent, wait, 0, NULL);
    if (thread) CloseHandle(thread);
    else awaitCommEvent(wait); /* cannot happen in practice; blocking is what Wine did anyway */
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

static BOOL WINAPI readFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED ov) {
    struct Binding binding;
    COMMTIMEOUTS timeouts;
    COMSTAT status;
    DWORD errors;
    if (ov && !ov->hEvent && findBinding(file, &binding) && GetCommTimeouts(file, &timeouts) &&
        timeouts.ReadIntervalTimeout == MAXDWORD && !timeouts.ReadTotalTimeoutMultiplier &&
        !timeouts.ReadTotalTimeoutConstant && ClearCommError(file, &errors, &status) &&
        status.cbInQue == 0) {
        ov->Internal = 0;
        ov->InternalHigh = 0;
        if (done) *done = 0;
        ntSetIoCompletion(binding.port, binding.key, (ULONG_PTR)ov, 0, 0);
        return TRUE;
    }
    return realReadFile(file, buffer, size, done, ov);
}

/* Points the named imports of `module` from kernel32 at `replacement`, returning the original. */
static void *patchImport(HMODULE module, const char *name, void *replacement) {
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    void *original = NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *imp = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress);
         dir.VirtualAddress && imp->Name; ++imp) {
        if (lstrcmpiA((const char *)(base + imp->Name), "KERNEL32.dll") != 0) continue;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + imp->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (lstrcmpA((const char *)byName->Name, name) != 0) continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof(void *), PAGE_READWRITE, &protection);
            original = (void *)slots->u1.Function;
            slots->u1.Function = (ULONG_PTR)replacement;
            VirtualProtect(&slots->u1.Function, sizeof(void *), protection, &protection);
        }
    }
    return original;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *reserved) {
    (void)instance;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    HMODULE serialPort = GetModuleHandleW(L"Qt6SerialPort.dll");
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!serialPort || !ntdll) return TRUE;
    InitializeCriticalSection(&lock);
    ntSetIoCompletion = (NtSetIoCompletionFn)(void *)GetProcAddress(ntdll, "NtSetIoCompletion");
    if (!ntSetIoCompletion) return TRUE;
    realCreateIoCompletionPort = (CreateIoCompletionPortFn)patchImport(
        serialPort, "CreateIoCompletionPort", (void *)bindCompletionPort);
    realWaitCommEvent = (WaitCommEventFn)patchImport(serialPort, "WaitCommEvent", (void *)waitCommEvent);
    realReadFile = (ReadFileFn)patchImport(serialPort, "ReadFile", (void *)readFile);
    OutputDebugStringA(realWaitCommEvent && realCreateIoCompletionPort && realReadFile
                           ? "wine_comm_wait: WaitCommEvent hooked\n"
                           : "wine_comm_wait: imports not found\n");
    return TRUE;
}
