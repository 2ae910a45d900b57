// Where the search's candidate ports come from, and how the search window names a port.

#include "IniRegStore.h"
#include "PortCandidates.h"
#include "clsReg.h"

#include <QTemporaryDir>
#include <QtTest>

class TstPortCandidates : public QObject {
    Q_OBJECT
private slots:
    void portLabel_data();
    void portLabel();
    void ftdiRecordsInTheSettingsStore();
    void fixedPort();
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

QTEST_GUILESS_MAIN(TstPortCandidates)
#include "tst_port_candidates.moc"
