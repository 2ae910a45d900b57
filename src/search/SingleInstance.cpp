#include "SingleInstance.h"

#include <QDir>
#include <QRegularExpression>

SingleInstance::SingleInstance(QString lockPath) : lockPath_(std::move(lockPath)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::TryAcquire() {
    if (held_) return true;
    lock_ = std::make_unique<QLockFile>(lockPath_);
    // A running instance may hold the lock for days: only a lock whose process is gone is
    // stale (tryLock checks the process named in the file), never one that is merely old.
    lock_->setStaleLockTime(0);
    held_ = lock_->tryLock(0);
    if (!held_) lock_.reset();
    return held_;
}

QString SingleInstance::DefaultLockPath() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) user = qEnvironmentVariable("USERNAME");
    user.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    const QString name =
        user.isEmpty() ? QStringLiteral("zorv-rzt.lock") : QStringLiteral("zorv-rzt-%1.lock").arg(user);
    return QDir(QDir::tempPath()).filePath(name);
}
