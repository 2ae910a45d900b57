#pragma once
// Keeps a second copy of the program from running beside the first. The lock is a file that
// names the process holding it, so a lock left behind by a run that crashed or was killed is
// recognised as stale and taken over.

#include <QLockFile>
#include <QString>
#include <memory>

// Windows: a mark every run holds until it ends, the windowless download too, in every user's
// session alike. The setup program and the uninstaller look for it and stop before they remove
// anything, since a running program's files cannot be replaced. Nothing elsewhere.
inline constexpr const wchar_t* RunningMarkName = L"Global\\ZORV-RZT-running";
void MarkProgramRunning();

class SingleInstance {
public:
    explicit SingleInstance(QString lockPath = DefaultLockPath());
    ~SingleInstance();

    // False only when a running instance holds the lock. A lock that cannot be made at all (no
    // folder for it, no room, no rights) must not keep the user from the program, which then
    // runs without one.
    bool TryAcquire();
    bool Held() const { return held_; }
    const QString& LockPath() const { return lockPath_; }

    // The lock in a folder of the user's own that no other user can write to (the runtime
    // folder; on Windows the temporary folder); empty when the platform offers none.
    static QString DefaultLockPath();

private:
    QString lockPath_;
    std::unique_ptr<QLockFile> lock_;
    bool held_ = false;
};
