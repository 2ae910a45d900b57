#include "SaveFile.h"

#include "SystemError.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

int SystemFlush(int handle) {
#ifdef Q_OS_WIN
    // The C runtime's descriptor over the file's own handle (Qt makes one for handle()); a bad
    // descriptor would stop the program in _get_osfhandle instead of failing the save.
    if (handle < 0) return ERROR_INVALID_HANDLE;
    const auto native = reinterpret_cast<HANDLE>(_get_osfhandle(handle));
    if (native == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    return FlushFileBuffers(native) ? 0 : static_cast<int>(GetLastError());
#else
    while (::fsync(handle) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
#endif
}

FlushToDisk flushToDisk = SystemFlush;

// The number and text of a failed step. Qt reports file failures by its own codes, but the
// system's error number is what the user can look up, and it is still intact right after the
// call that failed. A few failures are Qt's own checks with no system call behind them.
SaveOutcome Failure(SaveOutcome::Step step, int systemError, const QSaveFile& file,
                    const QString& path) {
    SaveOutcome outcome;
    outcome.failed = step;
    if (systemError == 0 && QFileInfo(path).isDir()) systemError = SystemErrorIsFolder;
    if (systemError != 0) {
        outcome.number = systemError;
        outcome.description = SystemErrorText(systemError);
    } else {
        outcome.number = SystemErrorWriteFault;
        outcome.description = file.errorString();
        if (outcome.description.isEmpty())
            outcome.description = SystemErrorText(SystemErrorWriteFault);
    }
    return outcome;
}

} // namespace

void SetFlushToDisk(FlushToDisk flush) {
    flushToDisk = flush ? flush : SystemFlush;
}

SaveOutcome WriteWholeFile(const QString& path, const QByteArray& bytes) {
    qsizetype offset = 0;
    return WriteWholeFile(path, [&](char* buffer, qsizetype capacity) {
        const qsizetype n = std::min(capacity, bytes.size() - offset);
        std::memcpy(buffer, bytes.constData() + offset, static_cast<std::size_t>(n));
        offset += n;
        return n;
    });
}

SaveOutcome WriteWholeFile(const QString& path, const BlockSource& fill) {
    QSaveFile file(path);

    ClearSystemError();
    // Unbuffered: each write below reaches the system at once, so its count tells whether the
    // disk took the block.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const int systemError = LastSystemErrorNumber();
        return Failure(SaveOutcome::Step::Open, systemError, file, path);
    }

    // A single large write that the disk takes only in part comes back with the part's count
    // and no error, and commit() would then install the short file. Moderate blocks, each
    // checked in full, catch that: a block taken short is a failed write.
    QByteArray buffer(SaveBlockBytes, Qt::Uninitialized);
    for (;;) {
        const qsizetype block = fill(buffer.data(), SaveBlockBytes);
        if (block <= 0) break;
        ClearSystemError();
        const qint64 written = file.write(buffer.constData(), block);
        const int systemError = LastSystemErrorNumber();
        if (written != block) {
            SaveOutcome outcome = Failure(SaveOutcome::Step::Write, systemError, file, path);
            file.cancelWriting(); // the temporary file goes; the target stays untouched
            return outcome;
        }
        if (block < SaveBlockBytes) break;
    }

    // QSaveFile's own flush before it renames ignores a failure, and a write-back error (a full
    // network share, failing media) would then still replace the target.
    if (const int flushError = flushToDisk(file.handle()); flushError != 0) {
        SaveOutcome outcome = Failure(SaveOutcome::Step::Close, flushError, file, path);
        file.cancelWriting();
        return outcome;
    }

    // A replacing that fails (the target in use, a mount point) removes the temporary file and
    // leaves the target as it was.
    ClearSystemError();
    if (!file.commit()) {
        const int systemError = LastSystemErrorNumber();
        return Failure(SaveOutcome::Step::Close, systemError, file, path);
    }
    return SaveOutcome();
}
