#include "OutputTarget.h"

#include "retrieve/SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

OutputTarget Refused(int number, const QString& subject) {
    OutputTarget target;
    target.refused.failed = SaveOutcome::Step::Open;
    target.refused.number = number;
    target.refused.description = SystemErrorText(number);
    target.subject = subject;
    return target;
}

#ifndef Q_OS_WIN
// A link in a folder every user may write to and only owners may delete from (/tmp, a shared
// drop folder) is followed only when it is the user's own, as the kernel's protected_symlinks
// rule does for opens: otherwise a job run as root would replace whatever another user's link
// points at. Every link the path names is looked at. Returns the refused link, or nothing.
QString ForeignLinkInSharedFolder(const QString& path) {
    const QStringList parts = QFileInfo(path).absoluteFilePath().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString prefix;
    for (const QString& part : parts) {
        const QString parent = prefix.isEmpty() ? QStringLiteral("/") : prefix;
        prefix += QLatin1Char('/') + part;
        struct stat link {};
        if (::lstat(QFile::encodeName(prefix).constData(), &link) != 0) return QString();
        if (!S_ISLNK(link.st_mode)) continue;
        struct stat folder {};
        if (::stat(QFile::encodeName(parent).constData(), &folder) != 0) continue;
        const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
        if (shared && link.st_uid != ::geteuid()) return prefix;
    }
    return QString();
}
#endif

} // namespace

OutputTarget ExamineOutput(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
#ifndef Q_OS_WIN
    // The system's own refusal of such a link.
    if (const QString link = ForeignLinkInSharedFolder(path); !link.isEmpty())
        return Refused(EACCES, QDir::toNativeSeparators(link));
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) == 0 &&
        (S_ISFIFO(target.st_mode) || S_ISCHR(target.st_mode))) {
        OutputTarget direct;
        direct.direct = true;
        direct.subject = shown;
        return direct;
    }
#endif
    if (info.isDir()) return Refused(SystemErrorIsFolder, shown);
    // The save writes beside the file a link leads to, so that is the folder that must take
    // a new file.
    const QString folder = QFileInfo(info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath()).absolutePath();
#ifdef Q_OS_WIN
    if (!QFileInfo(folder).isDir()) return Refused(ERROR_PATH_NOT_FOUND, shown);
#else
    // Asked as the save will be made: with the effective user's rights.
    if (::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        const int error = errno;
        // A folder that is there but refuses is what must change; a missing one is told as
        // the save tells it.
        if (error == EACCES || error == EROFS || error == EPERM)
            return Refused(error, QDir::toNativeSeparators(folder));
        return Refused(error, shown);
    }
#endif
    OutputTarget ok;
    ok.subject = shown;
    return ok;
}
