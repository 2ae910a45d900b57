#include "SaveFile.h"

#include "SystemError.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <utility>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <QDir>
#include <QRandomGenerator>
#include <string>
#include <windows.h>
#else
#include <QSaveFile>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN

int SystemFlush(qintptr handle) {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) ? 0 : static_cast<int>(GetLastError());
}

// Not shared with anyone while it is written; it takes the target's place once complete.
void* SystemCreateBeside(const wchar_t* name) {
    return CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

CreateBeside createBeside = SystemCreateBeside;

bool FlushUnsupported(int error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

// The full name with the prefix that lifts the system's length limit on paths, as Qt's own
// file engine opens files.
std::wstring LongName(const QString& path) {
    // The name as the system reads it: whole, and without the dots and spaces it drops from a
    // name's end. The \\?\ form below takes names literally, and would make "run.csv." a file
    // of its own beside "run.csv".
    const std::wstring given = QDir::toNativeSeparators(path).toStdWString();
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    QString name = length > 0 && length < full.size()
                       ? QString::fromWCharArray(full.data(), static_cast<qsizetype>(length))
                       : QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (name.startsWith(QLatin1String("\\\\?\\")) || name.startsWith(QLatin1String("\\\\.\\"))) {
        // already in the system's own form
    } else if (name.startsWith(QLatin1String("\\\\"))) {
        name = QStringLiteral("\\\\?\\UNC\\") + name.mid(2);
    } else {
        name = QStringLiteral("\\\\?\\") + name;
    }
    return name.toStdWString();
}

// The temporary file, written with the system's own calls: each failure's number is read
// straight after the call that failed. (Qt's temporary file asks the system about the name
// after a refused create, which replaces the refusal's number with "file not found".)
class PendingFile {
public:
    explicit PendingFile(const QString& path) : path_(path) {}
    ~PendingFile() { Cancel(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool Open() {
        const QFileInfo info(path_);
        if (info.isDir()) return Fail(0); // told as a folder
        target_ = LongName(info.isSymLink() ? info.symLinkTarget() : path_);

        // The target must be one the save may replace. Another program holding it open
        // without sharing (a spreadsheet) is the commonest refusal: told now, as the system
        // words it, before anything is written.
        const HANDLE probe = CreateFileW(target_.c_str(), GENERIC_WRITE | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
        } else if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND) {
            return Fail(error);
        }

        for (int attempt = 0; attempt < 16; ++attempt) {
            std::wstring name = target_ + L".";
            for (int i = 0; i < 6; ++i)
                name += L"abcdefghijklmnopqrstuvwxyz0123456789"[QRandomGenerator::global()->bounded(36)];
            handle_ = createBeside(name.c_str());
            if (handle_ != INVALID_HANDLE_VALUE) {
                temp_ = name;
                return true;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            // A folder of that name also refuses with access denied.
            if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES)
                continue;
            return Fail(error);
        }
        return Fail(ERROR_FILE_EXISTS);
    }

    bool Write(const char* data, qsizetype size) {
        DWORD written = 0;
        if (!WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr))
            return Fail(GetLastError());
        return written == static_cast<DWORD>(size) || Fail(0);
    }

    qintptr Handle() const { return reinterpret_cast<qintptr>(handle_); }

    bool Commit() {
        const HANDLE handle = std::exchange(handle_, INVALID_HANDLE_VALUE);
        if (!CloseHandle(handle)) return Fail(GetLastError());
        if (!MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING))
            return Fail(GetLastError());
        temp_.clear();
        return true;
    }

    // The temporary file goes; the target stays untouched.
    void Cancel() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
        if (!temp_.empty()) DeleteFileW(temp_.c_str());
        temp_.clear();
    }

    int Error() const { return error_; }
    QString Reason() const { return QString(); }

private:
    bool Fail(DWORD error) {
        error_ = static_cast<int>(error);
        return false;
    }

    QString path_;
    std::wstring target_;
    std::wstring temp_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    int error_ = 0;
};

#else

int SystemFlush(qintptr handle) {
    while (::fsync(static_cast<int>(handle)) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

bool FlushUnsupported(int error) {
    return error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP;
}

// Qt's save file; errno is intact right after each of its calls.
class PendingFile {
public:
    explicit PendingFile(const QString& path) : file_(path) {}

    // Unbuffered: each write reaches the system at once, so its count tells whether the disk
    // took the block.
    bool Open() {
        ClearSystemError();
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return Fail();
        // The file that is replaced keeps its mode: the new file would get one of its own, and
        // root, whom a read-only file does not stop, would turn a 0444 file into a 0644 one.
        struct stat old {};
        if (::stat(QFile::encodeName(file_.fileName()).constData(), &old) == 0 && S_ISREG(old.st_mode))
            ::fchmod(file_.handle(), old.st_mode & 07777);
        return true;
    }

    bool Write(const char* data, qsizetype size) {
        ClearSystemError();
        return file_.write(data, size) == size || Fail();
    }

    qintptr Handle() const { return file_.handle(); }

    // A replacing that fails (a mount point) removes the temporary file and leaves the
    // target as it was.
    bool Commit() {
        ClearSystemError();
        return file_.commit() || Fail();
    }

    void Cancel() { file_.cancelWriting(); }

    int Error() const { return error_; }
    QString Reason() const { return file_.errorString(); }

private:
    bool Fail() {
        error_ = LastSystemErrorNumber();
        return false;
    }

    QSaveFile file_;
    int error_ = 0;
};

#endif

FlushToDisk flushToDisk = SystemFlush;

// The number and text of a failed step. The system's error number is what the user can look
// up. A few failures are Qt's own checks with no system call behind them.
SaveOutcome Failure(SaveOutcome::Step step, int systemError, const QString& reason,
                    const QString& path) {
    SaveOutcome outcome;
    outcome.failed = step;
    if (systemError == 0 && QFileInfo(path).isDir()) systemError = SystemErrorIsFolder;
    if (systemError != 0) {
        outcome.number = systemError;
        outcome.description = SystemErrorText(systemError);
    } else {
        outcome.number = SystemErrorWriteFault;
        outcome.description = reason;
        if (outcome.description.isEmpty())
            outcome.description = SystemErrorText(SystemErrorWriteFault);
    }
    return outcome;
}

} // namespace

void SetFlushToDisk(FlushToDisk flush) {
    flushToDisk = flush ? flush : SystemFlush;
}

#ifdef Q_OS_WIN
void SetCreateBeside(CreateBeside create) {
    createBeside = create ? create : SystemCreateBeside;
}
#endif

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
    PendingFile file(path);
    if (!file.Open()) return Failure(SaveOutcome::Step::Open, file.Error(), file.Reason(), path);

    // A single large write that the disk takes only in part comes back with the part's count
    // and no error, and the replacing would then install the short file. Moderate blocks, each
    // checked in full, catch that: a block taken short is a failed write.
    QByteArray buffer(SaveBlockBytes, Qt::Uninitialized);
    for (;;) {
        const qsizetype block = fill(buffer.data(), SaveBlockBytes);
        if (block <= 0) break;
        if (!file.Write(buffer.constData(), block)) {
            SaveOutcome outcome = Failure(SaveOutcome::Step::Write, file.Error(), file.Reason(), path);
            file.Cancel();
            return outcome;
        }
        if (block < SaveBlockBytes) break;
    }

    // The data must be on the disk before it replaces the target: a write-back error (a full
    // network share, failing media) must not cost the old file. A drive that cannot flush at
    // all says so, and the data is then as safe as that drive makes it.
    if (const int flushError = flushToDisk(file.Handle());
        flushError != 0 && !FlushUnsupported(flushError)) {
        SaveOutcome outcome = Failure(SaveOutcome::Step::Close, flushError, QString(), path);
        file.Cancel();
        return outcome;
    }

    if (!file.Commit()) return Failure(SaveOutcome::Step::Close, file.Error(), file.Reason(), path);
    return SaveOutcome();
}
