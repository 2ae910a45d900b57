#include "SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

void MarkProgramRunning() {
#ifdef Q_OS_WIN
    // Never closed: Windows lets go of it as the process ends, however it ends.
    static const HANDLE mark = CreateMutexW(nullptr, FALSE, RunningMarkName);
    Q_UNUSED(mark);
#endif
}

SingleInstance::SingleInstance(QString lockPath) : lockPath_(std::move(lockPath)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::TryAcquire() {
    if (held_) return true;
    if (lockPath_.isEmpty()) return true;
    lock_ = std::make_unique<QLockFile>(lockPath_);
    // A running instance may hold the lock for days: only a lock whose process is gone is
    // stale (tryLock checks the process named in the file), never one that is merely old.
    lock_->setStaleLockTime(0);
    held_ = lock_->tryLock(0);
    if (held_) return true;
    // Refused only for a lock that names a live process; anything else in its place (a folder,
    // an unreadable file) is no running instance.
    qint64 pid = 0;
    QString host, application;
    const bool running = lock_->error() == QLockFile::LockFailedError &&
                         lock_->getLockInfo(&pid, &host, &application) && pid > 0;
    lock_.reset();
    return !running;
}

QString SingleInstance::DefaultLockPath() {
#ifdef Q_OS_WIN
    // Qt's runtime location there is the home folder, where a lock left by a crash would sit
    // among the user's own files; the user's temporary folder is theirs alone as well.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
#else
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
    if (folder.isEmpty()) return QString();
    return QDir(folder).filePath(QStringLiteral("zorv-rzt.lock"));
}
