// Where the search's candidate ports come from, and how the search window names a port.

#include "IniRegStore.h"
#include "PortCandidates.h"
#include "clsReg.h"
#include "search/PortAccess.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

Q_DECLARE_METATYPE(NodeAccess)

class TstPortCandidates : public QObject {
    Q_OBJECT
private slots:
    void portLabel_data();
    void portLabel();
    void ftdiRecordsInTheSettingsStore();
    void fixedPort_data();
    void fixedPort();
    void groupToJoin_data();
    void groupToJoin();
    void refusedPortsHint();
};

void TstPortCandidates::portLabel_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("label");
    QTest::newRow("COM5") << "COM5" << "5";
    QTest::newRow("two digits") << "COM12" << "12";
    QTest::newRow("lower case") << "com3" << "3";
    QTest::newRow("device path") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
    QTest::newRow("pseudo-terminal") << "/dev/pts/7" << "/dev/pts/7";
    QTest::newRow("COM with more") << "COM5x" << "COM5x";
    QTest::newRow("empty") << "" << "";
}

void TstPortCandidates::portLabel() {
    QFETCH(QString, port);
    QFETCH(QString, label);
    QCOMPARE(PortLabel(port), label);
}

void TstPortCandidates::ftdiRecordsInTheSettingsStore() {
    // The same records the FTDI driver keeps, planted in the portable store: the scan goes
    // through clsReg exactly as on Windows.
    QTemporaryDir dir;
    clsReg reg(std::make_unique<IniRegStore>(dir.filePath(QStringLiteral("store.ini"))));
    const QString first = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\");
    const struct {
        QString root;
        QString record;
        QString friendlyName;
    } records[] = {
        {first, QStringLiteral("VID_0403+PID_6001+A1A"), QStringLiteral("USB Serial Port (COM12)")},
        {first, QStringLiteral("VID_0403+PID_6001+B2A"), QStringLiteral("USB Serial Converter")},
        {first, QStringLiteral("VID_0403+PID_6001+C3A"), QStringLiteral("usb serial port (com7)")},
        {QStringLiteral("Enum\\FTDIBUS\\"), QStringLiteral("VID_0403+PID_6001+D4A"),
         QStringLiteral("USB Serial Port (COM7)")},
    };
    for (const auto& r : records) {
        reg.WriteRegistry(clsReg::LocalMachine, r.root + r.record + QStringLiteral("\\0000"),
                          QStringLiteral("FriendlyName"), 1, r.friendlyName);
    }
    FtdiRegistrySource source(reg);
    QCOMPARE(source.Candidates(),
             (QStringList{QStringLiteral("COM12"), QStringLiteral("COM7"), QStringLiteral("COM7")}));

    QTemporaryDir empty;
    clsReg none(std::make_unique<IniRegStore>(empty.filePath(QStringLiteral("store.ini"))));
    FtdiRegistrySource nothing(none);
    QCOMPARE(nothing.Candidates(), QStringList());
}

void TstPortCandidates::fixedPort_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("candidates");
#ifdef Q_OS_WIN
    QTest::newRow("COM port") << "COM7" << QStringList{QStringLiteral("COM7")};
#else
    QTest::newRow("node") << "/dev/null" << QStringList{QStringLiteral("/dev/null")};
    QTest::newRow("bare name of a node in /dev") << "null" << QStringList{QStringLiteral("null")};
    // Never tried, so no lock file is made and synced for it at every scan.
    QTest::newRow("no such node") << "/dev/ttyRZT-none" << QStringList();
    QTest::newRow("bare name, no such node") << "ttyRZT-none" << QStringList();
#endif
}

void TstPortCandidates::fixedPort() {
    QFETCH(QString, port);
    QFETCH(QStringList, candidates);
    QCOMPARE(FixedPortSource(port).Candidates(), candidates);
}

void TstPortCandidates::groupToJoin_data() {
    QTest::addColumn<NodeAccess>("node");
    QTest::addColumn<QString>("join");
    const auto node = [](int error, const char* group, bool groupReadWrite, bool in = false) {
        return NodeAccess{true, true, error, QString::fromLatin1(group), groupReadWrite,
                          qstrcmp(group, "root") == 0, in};
    };
    QTest::newRow("0660 root:dialout") << node(EACCES, "dialout", true) << "dialout";
    QTest::newRow("0660 root:uucp") << node(EACCES, "uucp", true) << "uucp";
    QTest::newRow("group without a name") << node(EACCES, "987", true) << "987";
    // Joining helps nobody: the group may not read and write, it is root's, or the user has it.
    QTest::newRow("0600 root:root") << node(EACCES, "root", false) << "";
    QTest::newRow("0660 root:root") << node(EACCES, "root", true) << "";
    QTest::newRow("0600 root:dialout") << node(EACCES, "dialout", false) << "";
    QTest::newRow("in the group already") << node(EACCES, "dialout", true, true) << "";
    // Allowed, so it refused because it is busy: in use, or locked by another program.
    QTest::newRow("busy") << node(0, "dialout", true) << "";
    QTest::newRow("read-only file system") << node(EROFS, "dialout", true) << "";
    QTest::newRow("gone") << NodeAccess{true, false, ENOENT, {}, false, false, false} << "";
    QTest::newRow("Windows COM port") << NodeAccess{false, false, EACCES, {}, false, false, false} << "";
}

void TstPortCandidates::groupToJoin() {
    QFETCH(NodeAccess, node);
    QFETCH(QString, join);
    QCOMPARE(GroupToJoin(node), join);
}

void TstPortCandidates::refusedPortsHint() {
    const QHash<QString, NodeAccess> nodes{
        {QStringLiteral("/dev/ttyUSB0"), {true, true, EACCES, QStringLiteral("dialout"), true, false, false}},
        {QStringLiteral("/dev/ttyUSB1"), {true, true, EACCES, QStringLiteral("uucp"), true, false, false}},
        {QStringLiteral("/dev/ttyUSB2"), {true, true, EACCES, QStringLiteral("root"), false, true, false}},
        {QStringLiteral("/dev/ttyUSB3"), {true, true, 0, QStringLiteral("dialout"), true, false, false}},
    };
    QStringList looked;
    RefusedPortsHint hint([&](const QString& port) {
        looked << port;
        return nodes.value(port);
    });
    const QString join0 = QStringLiteral(
        "\r\n\r\n/dev/ttyUSB0 was found but may not be opened by you. Add yourself to the "
        "'dialout' group (sudo usermod -aG dialout $USER), log in again and restart the software.");
    const QString closed2 = QStringLiteral(
        "\r\n\r\n/dev/ttyUSB2 was found but may not be opened by you. The software's package "
        "lets in the user logged in at the machine (its udev rule); otherwise ask the machine's "
        "administrator for access.");
    const struct {
        QStringList refused;
        bool changed;
        QString text;
        int looks; // nodes looked at so far
    } steps[] = {
        {{QStringLiteral("/dev/ttyUSB0")}, true, join0, 1},
        {{QStringLiteral("/dev/ttyUSB0")}, false, join0, 1}, // the next scan: nothing looked at
        {{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB1")}, true,
         QStringLiteral("\r\n\r\n/dev/ttyUSB0, /dev/ttyUSB1 were found but may not be opened by "
                        "you. Add yourself to the 'dialout' and 'uucp' groups (sudo usermod -aG "
                        "dialout,uucp $USER), log in again and restart the software."), 3},
        {{QStringLiteral("/dev/ttyUSB2")}, true, closed2, 4},
        {{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB2")}, true, join0 + closed2, 6},
        {{QStringLiteral("/dev/ttyUSB3")}, true, QString(), 7}, // only busy: the hint goes
        {{}, false, QString(), 7},
        {{QStringLiteral("/dev/ttyUSB0")}, true, join0, 8},
        {{}, true, QString(), 8}, // the refusal has gone
    };
    for (const auto& step : steps) {
        const QString at = step.refused.join(QLatin1Char(' '));
        QVERIFY2(hint.Update(step.refused) == step.changed, qPrintable(at));
        QCOMPARE(hint.Text(), step.text);
        QVERIFY2(looked.size() == step.looks, qPrintable(at + QStringLiteral(": ") + looked.join(QLatin1Char(' '))));
    }
}

QTEST_GUILESS_MAIN(TstPortCandidates)
#include "tst_port_candidates.moc"
