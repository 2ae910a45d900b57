#pragma once
// Keeps a second copy of the program from running beside the first. The lock is a file that
// names the process holding it, so a lock left behind by a run that crashed or was killed is
// recognised as stale and taken over.

#include <QLockFile>
#include <QString>
#include <memory>

class SingleInstance {
public:
    explicit SingleInstance(QString lockPath = DefaultLockPath());
    ~SingleInstance();

    // True when this process now holds the lock (or already held it).
    bool TryAcquire();
    bool Held() const { return held_; }
    const QString& LockPath() const { return lockPath_; }

    // One lock per user, in the temporary folder.
    static QString DefaultLockPath();

private:
    QString lockPath_;
    std::unique_ptr<QLockFile> lock_;
    bool held_ = false;
};
