#include "PortLine.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#endif

bool PortHungUp(const QSerialPort& port) {
#ifdef Q_OS_UNIX
    if (!port.isOpen()) return false;
    pollfd fd{static_cast<int>(port.handle()), POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&fd, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return false;
    if (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
    // Readable with nothing queued: the next read returns end of file.
    int queued = 0;
    return (fd.revents & POLLIN) && ::ioctl(fd.fd, FIONREAD, &queued) == 0 && queued == 0;
#else
    Q_UNUSED(port);
    return false;
#endif
}

bool PortInputWaiting(const QSerialPort& port) {
    if (!port.isOpen()) return false;
    if (port.bytesAvailable() > 0) return true;
#ifdef Q_OS_UNIX
    int queued = 0;
    return ::ioctl(static_cast<int>(port.handle()), FIONREAD, &queued) == 0 && queued > 0;
#elif defined(Q_OS_WIN)
    DWORD errors = 0;
    COMSTAT status{};
    return ::ClearCommError(port.handle(), &errors, &status) && status.cbInQue > 0;
#else
    return false;
#endif
}
