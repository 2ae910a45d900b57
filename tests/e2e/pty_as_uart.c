/* Preloaded into Wine for the end-to-end run: makes a pseudo-terminal answer the serial-line
 * ioctls a UART driver answers, so that Wine's serial layer treats it as a working COM port.
 *
 * Wine's WaitCommEvent (dlls/ntdll/unix/serial.c) reads the modem lines with TIOCMGET on every
 * poll and cancels the wait when that fails. A pty fails it with ENOTTY, so Qt's first
 * WaitCommEvent ends cancelled, Qt reports a ResourceError and never reads. Here TIOCMGET on
 * a pty answers "CTS, DSR and carrier up" and the line-setting calls succeed as no-ops.
 * Every other file and every other call goes to the C library unchanged.
 *
 *   cc -shared -fPIC -O2 -o pty_as_uart.so pty_as_uart.c -ldl
 *   LD_PRELOAD=$PWD/pty_as_uart.so wine64 program.exe
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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
        case TIOCMSET: modem_lines = (*(int *)argument & (TIOCM_DTR | TIOCM_RTS)) | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR; break;
        case TIOCMBIS: modem_lines |= *(int *)argument & (TIOCM_DTR | TIOCM_RTS); break;
        case TIOCMBIC: modem_lines &= ~(*(int *)argument & (TIOCM_DTR | TIOCM_RTS)); break;
        case TIOCGICOUNT: memset(argument, 0, sizeof(struct serial_icounter_struct)); break;
        case TIOCSERGETLSR: {
            /* The transmitter is empty once the pty's output queue is. */
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
