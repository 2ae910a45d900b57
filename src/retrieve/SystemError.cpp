#include "SystemError.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#endif

#ifdef Q_OS_WIN

const int SystemErrorIsFolder = ERROR_DIRECTORY;
const int SystemErrorWriteFault = ERROR_WRITE_FAULT;

void ClearSystemError() {
    SetLastError(ERROR_SUCCESS);
}

int LastSystemErrorNumber() {
    return static_cast<int>(GetLastError());
}

QString SystemErrorText(int number) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(number), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text;
    if (length > 0 && buffer) text = QString::fromWCharArray(buffer, static_cast<qsizetype>(length));
    if (buffer) LocalFree(buffer);
    // The system's texts end in CR LF, which would break the message's two-line layout.
    return text.trimmed();
}

#else

const int SystemErrorIsFolder = EISDIR;
const int SystemErrorWriteFault = EIO;

void ClearSystemError() {
    errno = 0;
}

int LastSystemErrorNumber() {
    return errno;
}

QString SystemErrorText(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
}

#endif
