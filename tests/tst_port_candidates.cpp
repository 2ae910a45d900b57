// Where the search's candidate ports come from, and how the search window names a port.

#include "IniRegStore.h"
#include "PortCandidates.h"
#include "clsReg.h"
#include "search/PortAccess.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

class TstPortCandidates : public QObject {
    Q_OBJECT
private slots:
    void portLabel_data();
    void portLabel();
    void ftdiRecordsInTheSettingsStore();
    void fixedPort();
    void groupToJoin_data();
    void groupToJoin();
    void portsDeniedText();
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

void TstPortCandidates::fixedPort() {
    FixedPortSource source(QStringLiteral("/dev/ttyACM0"));
    QCOMPARE(source.Candidates(), QStringList{QStringLiteral("/dev/ttyACM0")});
}

void TstPortCandidates::groupToJoin_data() {
    QTest::addColumn<bool>("deviceNode");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("accessError");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("join");
    QTest::newRow("refuses this user") << true << true << EACCES << "dialout" << "dialout";
    QTest::newRow("refuses this user, another group") << true << true << EACCES << "uucp" << "uucp";
    QTest::newRow("group without a name") << true << true << EACCES << "987" << "987";
    // Allowed, so it refused because it is busy: in use, or locked by another program.
    QTest::newRow("busy") << true << true << 0 << "dialout" << "";
    QTest::newRow("read-only file system") << true << true << EROFS << "dialout" << "";
    QTest::newRow("gone") << true << false << ENOENT << "" << "";
    QTest::newRow("Windows COM port") << false << false << EACCES << "" << "";
}

void TstPortCandidates::groupToJoin() {
    QFETCH(bool, deviceNode);
    QFETCH(bool, exists);
    QFETCH(int, accessError);
    QFETCH(QString, group);
    QFETCH(QString, join);
    QCOMPARE(GroupToJoin(NodeAccess{deviceNode, exists, accessError, group}), join);
}

void TstPortCandidates::portsDeniedText() {
    QCOMPARE(PortsDeniedText({QStringLiteral("/dev/ttyUSB0")}, {QStringLiteral("uucp")}),
             QStringLiteral("\r\n\r\n/dev/ttyUSB0 was found but may not be opened by you. Add yourself "
                            "to the 'uucp' group (sudo usermod -aG uucp $USER), log in again and "
                            "restart the software."));
    QVERIFY(PortsDeniedText({QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB1")},
                            {QStringLiteral("dialout"), QStringLiteral("uucp")})
                .contains(QStringLiteral("/dev/ttyUSB0, /dev/ttyUSB1 was found but may not be opened by you. "
                                         "Add yourself to the 'dialout' and 'uucp' groups "
                                         "(sudo usermod -aG dialout,uucp $USER)")));
}

QTEST_GUILESS_MAIN(TstPortCandidates)
#include "tst_port_candidates.moc"
