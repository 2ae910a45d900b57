#include "PortAccess.h"

#include <QtGlobal>
#include <cerrno>

#ifndef Q_OS_WIN
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString GroupToJoin(const NodeAccess& node) {
    // access() answers for the user's own rights on the node; a port that is busy or locked
    // passes it and refuses only when opened.
    if (!node.deviceNode || !node.exists || node.accessError != EACCES) return QString();
    return node.group;
}

NodeAccess ExamineNode(const QString& portName) {
    NodeAccess node;
#ifndef Q_OS_WIN
    node.deviceNode = true;
    const QByteArray path = portName.toLocal8Bit();
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return node;
    node.exists = true;
    node.accessError = ::access(path.constData(), R_OK | W_OK) == 0 ? 0 : errno;
    // getgrgid_r: the search may run beside other threads that read the group database.
    char buffer[4096];
    group entry {};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        node.group = QString::fromLocal8Bit(found->gr_name);
    else
        node.group = QString::number(st.st_gid);
#else
    Q_UNUSED(portName);
#endif
    return node;
}

QString PortsDeniedText(const QStringList& ports, const QStringList& groups) {
    QStringList quoted;
    for (const QString& group : groups) quoted << QLatin1Char('\'') + group + QLatin1Char('\'');
    const QString which = groups.size() == 1
                              ? QStringLiteral("the %1 group").arg(quoted.front())
                              : QStringLiteral("the %1 groups").arg(quoted.join(QStringLiteral(" and ")));
    return QStringLiteral("\r\n\r\n%1 was found but may not be opened by you. Add yourself to %2 "
                          "(sudo usermod -aG %3 $USER), log in again and restart the software.")
        .arg(ports.join(QStringLiteral(", ")), which, groups.join(QLatin1Char(',')));
}
