#pragma once
// Why a candidate port refused to open, as far as the user can do something about it. Only a
// device node that this user lacks the rights to is worth a word: a busy port (in use, or
// locked by another program) says nothing, and neither does a Windows COM port, which refuses
// the same way when it is merely in use.

#include <QString>
#include <QStringList>
#include <functional>

struct NodeAccess {
    bool deviceNode = false;  // a device file (POSIX), not a Windows COM port
    bool exists = false;
    int accessError = 0;      // errno of access(R_OK | W_OK); 0 when allowed
    QString group;            // the node's group: its name, or its number when it has none
    bool groupReadWrite = false; // the node's mode lets its group read and write it
    bool rootGroup = false;   // the group is root's own (gid 0)
    bool inGroup = false;     // this process has the group already
};

// True when the node is there and this user lacks the rights to it.
bool Refused(const NodeAccess& node);

// The group to join for the port to open, or empty text when joining one would not help: the
// group may not read and write the node either, it is root's, or the user is in it already.
QString GroupToJoin(const NodeAccess& node);

// The device node a port name means, as Qt reads it: a bare name is a node in /dev.
QString NodePath(const QString& portName);

// What the system says about the port's node. Nothing (not a device node) on Windows.
NodeAccess ExamineNode(const QString& portName);

// The hint for the ports this user may not open, with the groups that would let them in.
QString PortsDeniedText(const QStringList& ports, const QStringList& groups);
// The hint for the ports this user may not open and no group would help with.
QString PortsClosedText(const QStringList& ports);

// The search window's hint for the ports that refused this user. Looking at a node takes a
// stat and a group look-up, which may go to a network directory: it is done when the set of
// refused ports changes, not at every scan.
class RefusedPortsHint {
public:
    using Examiner = std::function<NodeAccess(const QString&)>;
    explicit RefusedPortsHint(Examiner examine = ExamineNode) : examine_(std::move(examine)) {}

    // The ports the last open attempts refused for want of permission. True when the hint's
    // text has changed (empty once no port refuses).
    bool Update(const QStringList& refused);
    const QString& Text() const { return text_; }
    void Reset();

private:
    Examiner examine_;
    QStringList refused_;
    QString text_;
};
