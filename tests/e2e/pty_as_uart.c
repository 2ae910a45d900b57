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
 * 2. Qt waits for comm events with an OVERLAPPED whose hEvent is NULL (its completions go to a
 *    completion port). Wine 8.0's serial_DeviceIoControl takes a NULL event for a synchronous
 *    call: it makes an event of its own and blocks the caller until its wait thread sees an
 *    event. So QSerialPort::open() holds Qt's main thread until a byte arrives, and the
 *    program never sends the "?" the device waits for. Wine's wait thread polls TIOCINQ for
 *    EV_RXCHAR; here a thread other than the main one that has found the pty empty for 10 ms
 *    is told one byte waits, which releases the main thread 10 ms at a time at most. Calls from
 *    the main thread (ClearCommError, Qt's own queue counts) get the truth.
 *
 * What this cannot mend: the WaitCommEvent that Wine 8.0 completes synchronously posts no
 * packet to the completion port, and Qt starts its ReadFile only from that packet. So with
 * this shim the program finds the port and writes, but never reads; reading needs a Wine whose
 * WaitCommEvent is a real asynchronous request (as in Wine's later serial.c).
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
#include <time.h>
#include <unistd.h>

/* Linux's pty slaves are character devices with majors 136 to 143 (UNIX98 ptys). */
static int is_pty(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static int modem_lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
static __thread double empty_since; /* when this thread first found the pty empty */

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
    case TIOCINQ:
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
        case TIOCINQ: {
            int status = real_ioctl(fd, TIOCINQ, argument);
            if (status != 0 || *(int *)argument != 0 || gettid() == getpid()) {
                empty_since = 0;
                return status;
            }
            const double t = now();
            if (empty_since == 0) empty_since = t;
            if (t - empty_since >= 0.010) {
                empty_since = 0;
                *(int *)argument = 1;
            }
            return 0;
        }
        }
        return 0;
    }
    return real_ioctl(fd, request, argument);
}
