/* Preloaded into Wine for the end-to-end run: lets the Windows program's serial port be the
 * simulated device's pseudo-terminal. Nothing of the program is changed; only what Wine 8.0's
 * serial layer (dlls/ntdll/unix/serial.c) asks of the line is answered as a UART would.
 *
 * 1. Wine's WaitCommEvent reads the modem lines with TIOCMGET when it starts and on every
 *    poll of its wait thread, and ends the wait as cancelled when that fails. A pty fails it
 *    (ENOTTY), so Qt's first WaitCommEvent ends with ERROR_OPERATION_ABORTED, Qt reports a
 *    ResourceError and never starts a read. Here TIOCMGET on a pty answers "CTS, DSR and
 *    carrier up", the modem-line settings succeed, and the interrupt and line-status counters
 *    read as a quiet line whose transmitter is empty once the output queue is.
 *
 * 2. Qt waits for comm events with an OVERLAPPED whose hEvent is NULL, which Wine 8.0 turns
 *    into a blocking call that queues no completion; wine_comm_wait.c (loaded into the
 *    program) mends that on the Windows side. Wine's wait thread then polls TIOCINQ, which a
 *    pty answers truly, so it is passed through.
 *
 * Every other file and every other call goes to the C library unchanged.
 *   cc -shared -fPIC -O2 -o pty_as_uart.so pty_as_uart.c -ldl
 *   LD_PRELOAD=$PWD/pty_as_uart.so wine64 program.exe
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

/* Linux's pty slaves are character devices with majors 136 to 143 (UNIX98 ptys). */
static int is_pty(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int modem_lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;

int ioctl(int fd, unsigned long request, ...) {
    static int (*real_ioctl)(int, unsigned long, ...);
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if (!real_ioctl) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");

    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCGICOUNT:
    case TIOCSERGETLSR:
        if (!is_pty(fd)) break;
        switch (request) {
        case TIOCMGET: *(int *)argument = modem_lines; break;
        case TIOCMSET:
            modem_lines = (*(int *)argument & (TIOCM_DTR | TIOCM_RTS)) | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
            break;
        case TIOCMBIS: modem_lines |= *(int *)argument & (TIOCM_DTR | TIOCM_RTS); break;
        case TIOCMBIC: modem_lines &= ~(*(int *)argument & (TIOCM_DTR | TIOCM_RTS)); break;
        case TIOCGICOUNT: memset(argument, 0, sizeof(struct serial_icounter_struct)); break;
        case TIOCSERGETLSR: {
            int queued = 0;
            real_ioctl(fd, TIOCOUTQ, &queued);
            *(unsigned int *)argument = queued == 0 ? TIOCSER_TEMT : 0;
            break;
        }
        }
        return 0;
    }
    return real_ioctl(fd, request, argument);
}
