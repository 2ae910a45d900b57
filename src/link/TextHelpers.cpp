#include "TextHelpers.h"

#include <QStringList>

QString GetField(const QString& text, const QString& delimiter, qint32 index) {
    if (index < 0 || delimiter.isEmpty()) return index == 0 ? text : QString();
    const QStringList pieces = text.split(delimiter, Qt::KeepEmptyParts, Qt::CaseSensitive);
    return index < pieces.size() ? pieces.at(index) : QString();
}

QString GetFolderPath(const QString& path, const QString& separators) {
    for (qsizetype i = path.size() - 1; i >= 1; --i) {
        if (separators.contains(path.at(i))) return path.left(i);
    }
    return QString();
}

QString GetFolderPath(const QString& path) {
#ifdef Q_OS_WIN
    return GetFolderPath(path, QStringLiteral("\\/"));
#else
    return GetFolderPath(path, QStringLiteral("/"));
#endif
}

QString VersionText(int major, int minor, int revision) {
    return QStringLiteral("%1.%2.%3")
        .arg(major)
        .arg(minor, 2, 10, QLatin1Char('0'))
        .arg(revision, 4, 10, QLatin1Char('0'));
}

QString ProgramVersionText() {
    return VersionText(VersionMajor, VersionMinor, VersionRevision);
}

QString IdentityText(const QString& buffer) {
    QString line = buffer;
    if (line.endsWith(QLatin1Char('\n'))) line.chop(1);
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    const qsizetype previousEnd = line.lastIndexOf(QLatin1Char('\n'));
    if (previousEnd >= 0) line = line.mid(previousEnd + 1);
    const QString comma = QStringLiteral(",");
    return GetField(line, comma, 8) + QStringLiteral("  Version ") + GetField(line, comma, 9);
}
