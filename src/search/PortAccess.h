#pragma once
// Why a candidate port refused to open, as far as the user can do something about it. Only a
// device node that this user lacks the rights to is worth a word: a busy port (in use, or
// locked by another program) says nothing, and neither does a Windows COM port, which refuses
// the same way when it is merely in use.

#include <QString>
#include <QStringList>

struct NodeAccess {
    bool deviceNode = false; // a device file (POSIX), not a Windows COM port
    bool exists = false;
    int accessError = 0;     // errno of access(R_OK | W_OK); 0 when allowed
    QString group;           // the node's group: its name, or its number when it has none
};

// The group to join for the port to open, or empty text when joining one would not help.
QString GroupToJoin(const NodeAccess& node);

// What the system says about the port's node. Nothing (not a device node) on Windows.
NodeAccess ExamineNode(const QString& portName);

// The hint for the ports this user may not open, with the groups that would let them in.
QString PortsDeniedText(const QStringList& ports, const QStringList& groups);
