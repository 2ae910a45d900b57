#include "SaveFile.h"

#include "SystemError.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cstring>

namespace {

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

    ClearSystemError();
    if (!file.commit()) {
        const int systemError = LastSystemErrorNumber();
        return Failure(SaveOutcome::Step::Close, systemError, file, path);
    }
    return SaveOutcome();
}
