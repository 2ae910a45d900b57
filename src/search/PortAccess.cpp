#include "PortAccess.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <vector>

#ifndef Q_OS_WIN
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool Refused(const NodeAccess& node) {
    // access() answers for the user's own rights on the node; a port that is busy or locked
    // passes it and refuses only when opened.
    return node.deviceNode && node.exists && node.accessError == EACCES;
}

QString GroupToJoin(const NodeAccess& node) {
    // Joining root's group would hand out far more than a serial port; a group that may not
    // read and write the node, or one the user is in already, lets nobody in.
    if (!Refused(node) || !node.groupReadWrite || node.rootGroup || node.inGroup) return QString();
    return node.group;
}

QString NodePath(const QString& portName) {
    const bool path = portName.startsWith(QLatin1Char('/')) || portName.startsWith(QLatin1String("./")) ||
                      portName.startsWith(QLatin1String("../"));
    return path ? portName : QStringLiteral("/dev/") + portName;
}

NodeAccess ExamineNode(const QString& portName) {
    NodeAccess node;
#ifndef Q_OS_WIN
    node.deviceNode = true;
    const QByteArray path = NodePath(portName).toLocal8Bit();
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return node;
    node.exists = true;
    node.accessError = ::access(path.constData(), R_OK | W_OK) == 0 ? 0 : errno;
    node.groupReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    node.rootGroup = st.st_gid == 0;
    // The groups access() goes by: this process's, not the group database's (a group joined
    // since login counts only after logging in again).
    node.inGroup = ::getegid() == st.st_gid;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        node.inGroup = node.inGroup || std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
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

namespace {

QString FoundText(const QStringList& ports) {
    return QStringLiteral("\r\n\r\n%1 %2 found but may not be opened by you.")
        .arg(ports.join(QStringLiteral(", ")),
             ports.size() == 1 ? QStringLiteral("was") : QStringLiteral("were"));
}

} // namespace

QString PortsDeniedText(const QStringList& ports, const QStringList& groups) {
    QStringList quoted;
    for (const QString& group : groups) quoted << QLatin1Char('\'') + group + QLatin1Char('\'');
    const QString which = groups.size() == 1
                              ? QStringLiteral("the %1 group").arg(quoted.front())
                              : QStringLiteral("the %1 groups").arg(quoted.join(QStringLiteral(" and ")));
    return FoundText(ports) +
           QStringLiteral(" Add yourself to %1 (sudo usermod -aG %2 $USER), log in again and "
                          "restart the software.")
               .arg(which, groups.join(QLatin1Char(',')));
}

QString PortsClosedText(const QStringList& ports) {
    return FoundText(ports) +
           QStringLiteral(" The software's package lets in the user logged in at the machine "
                          "(its udev rule); otherwise ask the machine's administrator for access.");
}

bool RefusedPortsHint::Update(const QStringList& refused) {
    if (refused == refused_) return false;
    refused_ = refused;
    QStringList joinable, groups, closed;
    for (const QString& port : refused) {
        const NodeAccess node = examine_(port);
        if (!Refused(node)) continue; // busy, gone, or a COM port: nothing to say
        const QString group = GroupToJoin(node);
        if (group.isEmpty()) {
            closed << port;
            continue;
        }
        joinable << port;
        if (!groups.contains(group)) groups << group;
    }
    QString text;
    if (!joinable.isEmpty()) text += PortsDeniedText(joinable, groups);
    if (!closed.isEmpty()) text += PortsClosedText(closed);
    if (text == text_) return false;
    text_ = text;
    return true;
}

void RefusedPortsHint::Reset() {
    refused_.clear();
    text_.clear();
}
