// The serial link against the simulated device on a pseudo-terminal: exchanges, routing of
// received text, identification, the link check, and a port that vanishes.

#include "LinkWindows.h"
#include "SimDevice.h"
#include "TextHelpers.h"
#include "modMain.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <ctime>
#include <dlfcn.h>
#include <map>
#include <vector>
#include <termios.h>

namespace {

// Every set of line settings asked of each descriptor, in order. A pseudo-terminal keeps most
// of them, but its driver always reports 8 data bits and no parity, whatever was asked: those
// two are checked on what was asked.
std::map<int, std::vector<termios>> settingsAsked;

} // namespace

// Every tcsetattr of this program, the serial port library's included, passes here.
extern "C" int tcsetattr(int fd, int actions, const termios* settings) {
    using Real = int (*)(int, int, const termios*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (settings) settingsAsked[fd].push_back(*settings);
    return real(fd, actions, settings);
}

namespace {

double Seconds(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

struct FakeWindows : LinkWindows {
    explicit FakeWindows(modMain& link) : link(link) {}
    modMain& link;
    QStringList identities;
    int handOvers = 0;
    QString received;
    int lost = 0;
    std::function<void()> duringHandOver;

    void ShowIdentity(const QString& identity) override { identities << identity; }
    void FinishSearch() override {
        ++handOvers;
        if (duringHandOver) duringHandOver();
        link.EndIdentification();
    }
    void AppendReceived(const QString& text) override { received += text; }
    void LinkLost() override { ++lost; }
};

const QString Identity = QStringLiteral("RZT-3000 SN 004211  Version 2.05");

} // namespace

class TstLink : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void identityText_data();
    void identityText();
    void identification_data();
    void identification();
    void identificationAfterSeveralProbes();
    void textDuringTheHandOver_data();
    void textDuringTheHandOver();
    void openFirstPortTakesTheFirstThatOpens();
    void lineSettingsOfTheOpenedPort();

    void exchangeOnAClosedPort_data();
    void exchangeOnAClosedPort();
    void replyDuringPauseOrCollection_data();
    void replyDuringPauseOrCollection();
    void collectionOfHalfASecondForWaitValueZero();
    void lateTextGoesToTheRetrievalWindow();
    void downloadEndsAfterTheQuietGap();
    void disconnectSendsXAndCloses();

    void linkCheck_data();
    void linkCheck();
    void linkCheckIsSkippedWhileAnExchangeRuns();

    void unplug_data();
    void unplug();
    void portErrors_data();
    void portErrors();
    void expiredWaitIsNoFault();

private:
    void Connect();
    void OpenPort();

    std::unique_ptr<SimDevice> sim_;
    std::unique_ptr<modMain> link_;
    std::unique_ptr<FakeWindows> windows_;
};

void TstLink::init() {
    sim_ = std::make_unique<SimDevice>();
    QString error;
    QVERIFY2(sim_->plug(&error), qPrintable(error));
    link_ = std::make_unique<modMain>();
    windows_ = std::make_unique<FakeWindows>(*link_);
    link_->SetWindows(windows_.get());
}

void TstLink::cleanup() {
    link_.reset();
    windows_.reset();
    sim_.reset();
}

void TstLink::OpenPort() {
    link_->PortList = {sim_->portName()};
    link_->OpenFirstPort();
    QCOMPARE(link_->PortNum, sim_->portName());
    QVERIFY(link_->Comm.isOpen());
    QCOMPARE(link_->Comm.baudRate(), 19200);
}

// As after the hand-over: not searching, and the first exchange has finished.
void TstLink::Connect() {
    OpenPort();
    link_->PortSearching = false;
    link_->PortStreaming = true;
}

void TstLink::identityText_data() {
    QTest::addColumn<QString>("buffer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ten fields, CR LF") << "0,1,2,3,4,5,6,7,ID,2.05\r\n" << "ID  Version 2.05";
    QTest::newRow("nine fields") << "0,1,2,3,4,5,6,7,ID\r\n" << "ID  Version ";
    QTest::newRow("more fields") << "0,1,2,3,4,5,6,7,ID,2.05,x,y\r\n" << "ID  Version 2.05";
    QTest::newRow("few fields") << "0,1,2\r\n" << "  Version ";
    QTest::newRow("empty line") << "\r\n" << "  Version ";
    QTest::newRow("lone LF keeps the last character") << "0,1,2,3,4,5,6,7,ID,2.05\n"
                                                       << "ID  Version 2.05";
    QTest::newRow("earlier lines are left over")
        << "0,1,2,3,4,5,6,7,OLD,1.00\r\n0,1,2,3,4,5,6,7,NEW,2.00\r\n" << "NEW  Version 2.00";
    QTest::newRow("earlier identity text in front")
        << "OLD  Version 1.000,1,2,3,4,5,6,7,NEW,2.00\r\n" << "NEW  Version 2.00";
    QTest::newRow("high bytes pass through")
        << QString::fromLatin1("0,1,2,3,4,5,6,7,Z\xe9\xff,\x80\r\n")
        << QString::fromLatin1("Z\xe9\xff  Version \x80");
}

void TstLink::identityText() {
    QFETCH(QString, buffer);
    QFETCH(QString, expected);
    QCOMPARE(IdentityText(buffer), expected);
}

void TstLink::identification_data() {
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<QString>("earlierIdentity");
    // What the device was sending as the port was opened (the rest of a download another run
    // stopped halfway), and for how long after the opening it keeps coming.
    QTest::addColumn<QByteArray>("stale");
    QTest::addColumn<int>("staleForMs");
    const QByteArray rest("C,17,00:01.250\r\nC,18,00:01.260\r\n");
    QTest::newRow("whole line") << 0 << 0 << QString() << QByteArray() << 0;
    QTest::newRow("in chunks of 3") << 3 << 20 << QString() << QByteArray() << 0;
    QTest::newRow("CR and LF apart") << 42 << 60 << QString() << QByteArray() << 0;
    QTest::newRow("after an earlier search") << 7 << 10 << QStringLiteral("OLD  Version 1.00")
                                             << QByteArray() << 0;
    QTest::newRow("the rest of a download still coming") << 0 << 0 << QString() << rest << 600;
}

void TstLink::identification() {
    QFETCH(int, chunkSize);
    QFETCH(int, gapMs);
    QFETCH(QString, earlierIdentity);
    QFETCH(QByteArray, stale);
    QFETCH(int, staleForMs);
    SimConfig config = sim_->config();
    config.idPacing = {chunkSize, gapMs};
    sim_->setConfig(config);
    if (staleForMs > 0) {
        sim_->startStream(stale);
        // Nobody reads yet: the line's buffer fills and the rest waits at the device.
        QTRY_VERIFY(sim_->pendingOutput() > 0);
    }
    std::chrono::steady_clock::time_point staleEnd{};
    if (staleForMs > 0) {
        QTimer::singleShot(staleForMs, sim_.get(), [&] {
            sim_->stopStream();
            staleEnd = std::chrono::steady_clock::now();
        });
    }
    OpenPort();
    link_->PortSearching = true;
    link_->PortId = earlierIdentity;
    QString idWhenHandedOver;
    windows_->duringHandOver = [&] { idWhenHandedOver = link_->PortId; };

    link_->timID_Timer(); // the first probe goes out at once
    QTRY_COMPARE_WITH_TIMEOUT(windows_->handOvers, 1, 10000);
    QCOMPARE(idWhenHandedOver, Identity);
    QCOMPARE(link_->PortId, Identity);
    QCOMPARE(windows_->identities, QStringList{Identity});
    QVERIFY(!link_->timID.isActive());
    // The identity was built only once the whole line had come.
    QTest::qWait(300);
    QCOMPARE(windows_->handOvers, 1);
    QVERIFY(sim_->receivedBytes().startsWith('?'));
    QVERIFY(sim_->receivedBytes().count('?') == sim_->receivedBytes().size());
    // Nothing was asked while the earlier data was still coming.
    if (staleForMs > 0) QVERIFY(sim_->received().first().at > staleEnd);
}

void TstLink::identificationAfterSeveralProbes() {
    SimConfig config = sim_->config();
    config.probesBeforeAnswer = 4;
    sim_->setConfig(config);
    sim_->switchOff();
    sim_->switchOn(); // starts the count of ignored probes afresh
    OpenPort();
    link_->PortSearching = true;
    link_->timID_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(windows_->handOvers, 1, 10000);
    QCOMPARE(link_->PortId, Identity);
    const QList<SimRxByte> probes = sim_->received();
    QVERIFY2(probes.size() >= 5, qPrintable(QString::number(probes.size())));
    // About 100 ms apart; generous bounds (the exact figure is the benchmark's).
    for (qsizetype i = 1; i < 5; ++i) {
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(
            probes[i].at - probes[i - 1].at).count();
        QVERIFY2(gap >= 80 && gap < 400, qPrintable(QString::number(gap)));
    }
}

void TstLink::textDuringTheHandOver_data() {
    QTest::addColumn<QByteArray>("arriving");
    QTest::addColumn<QString>("identity");
    QTest::newRow("a second whole line renews the identity")
        << QByteArray("0,1,2,3,4,5,6,7,SECOND,3.00\r\n") << "SECOND  Version 3.00";
    QTest::newRow("a line still arriving is not part of it")
        << QByteArray("0,1,2,3,4,5,6,7,PAR") << "RZT-3000 SN 004211  Version 2.05";
}

void TstLink::textDuringTheHandOver() {
    QFETCH(QByteArray, arriving);
    QFETCH(QString, identity);
    OpenPort();
    link_->PortSearching = true;
    bool searchingDuringPause = false;
    windows_->duringHandOver = [&] {
        // The hand-over's pause lets receive events run: text arriving now is still
        // identification text.
        sim_->send(arriving);
        link_->Wait(10, 0.5);
        searchingDuringPause = link_->PortSearching;
    };
    link_->timID_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(windows_->handOvers, 1, 10000);
    QTest::qWait(200);
    QCOMPARE(windows_->handOvers, 1);
    QVERIFY(searchingDuringPause);
    QVERIFY(!link_->PortSearching);
    QCOMPARE(link_->PortId, identity);
}

void TstLink::openFirstPortTakesTheFirstThatOpens() {
    link_->PortList = {QStringLiteral("/dev/nonexistent-rzt-port"), sim_->portName(),
                       QStringLiteral("/dev/another-missing")};
    link_->OpenFirstPort();
    QCOMPARE(link_->PortNum, sim_->portName());
    QVERIFY(link_->Comm.isOpen());

    link_->PortNum.clear();
    link_->PortList = {QStringLiteral("/dev/nonexistent-rzt-port")};
    link_->OpenFirstPort(); // closes the earlier port first
    QVERIFY(link_->PortNum.isEmpty());
    QVERIFY(!link_->Comm.isOpen());

    link_->PortList.clear();
    link_->OpenFirstPort();
    QVERIFY(link_->PortNum.isEmpty());
}

void TstLink::lineSettingsOfTheOpenedPort() {
    settingsAsked.clear();
    OpenPort();
    const int fd = static_cast<int>(link_->Comm.handle());
    termios line{};
    QCOMPARE(::tcgetattr(fd, &line), 0);
    QCOMPARE(cfgetospeed(&line), speed_t(B19200));
    QCOMPARE(cfgetispeed(&line), speed_t(B19200));
    QCOMPARE(line.c_cflag & CSTOPB, tcflag_t(0));                  // 1 stop bit
    QCOMPARE(line.c_cflag & CRTSCTS, tcflag_t(0));                 // no RTS/CTS
    QCOMPARE(line.c_iflag & (IXON | IXOFF | IXANY), tcflag_t(0)); // no XON/XOFF
    // Raw 8-bit bytes both ways: nothing stripped, translated or held for a line.
    QCOMPARE(line.c_iflag & (ISTRIP | ICRNL | INLCR | IGNCR), tcflag_t(0));
    QCOMPARE(line.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(line.c_oflag & OPOST, tcflag_t(0));

    QVERIFY(settingsAsked.count(fd));
    for (const termios& asked : settingsAsked[fd]) {
        QCOMPARE(asked.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(asked.c_cflag & PARENB, tcflag_t(0));
    }
}

void TstLink::exchangeOnAClosedPort_data() {
    QTest::addColumn<float>("waitValue");
    QTest::addColumn<double>("minimum");
    QTest::newRow("wait value 0.1") << 0.1f << 0.2;
    QTest::newRow("wait value 0.2") << 0.2f << 0.2;
    QTest::newRow("wait value 0") << 0.0f << 0.6;
}

void TstLink::exchangeOnAClosedPort() {
    QFETCH(float, waitValue);
    QFETCH(double, minimum);
    link_->PortReply = QStringLiteral("stale");
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = ProcessCpuSeconds();
    QCOMPARE(link_->SendAndReceive(QStringLiteral("?"), waitValue), qint16(1));
    const double taken = Seconds(clock);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    QCOMPARE(link_->PortReply, QString());
    QVERIFY(link_->PortStreaming);
    QVERIFY2(taken > minimum && taken < minimum + 0.5, qPrintable(QString::number(taken)));
    QVERIFY2(cpu < taken / 3, qPrintable(QStringLiteral("CPU %1 s in %2 s").arg(cpu).arg(taken)));
}

void TstLink::replyDuringPauseOrCollection_data() {
    QTest::addColumn<int>("replyDelayMs");
    QTest::newRow("during the pause") << 0;
    QTest::newRow("during the collection") << 140;
}

void TstLink::replyDuringPauseOrCollection() {
    QFETCH(int, replyDelayMs);
    SimConfig config = sim_->config();
    config.replyDelayMs = replyDelayMs;
    config.lineRate = false;
    sim_->setConfig(config);
    Connect();
    QCOMPARE(link_->SendAndReceive(QStringLiteral("H"), 0.1f), qint16(0));
    QCOMPARE(link_->PortReply, QString::fromLatin1(config.header));
    QCOMPARE(sim_->receivedBytes(), QByteArray("H"));
    QCOMPARE(windows_->received, QString()); // collected, not streamed
}

void TstLink::collectionOfHalfASecondForWaitValueZero() {
    SimConfig config = sim_->config();
    config.replyDelayMs = 450; // too late for a 0.1 s window, in time for 0.5 s
    config.lineRate = false;
    sim_->setConfig(config);
    Connect();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(link_->SendAndReceive(QStringLiteral("H"), 0.0f), qint16(0));
    QVERIFY(Seconds(clock) > 0.6);
    QCOMPARE(link_->PortReply, QString::fromLatin1(config.header));
}

void TstLink::lateTextGoesToTheRetrievalWindow() {
    SimConfig config = sim_->config();
    config.replyDelayMs = 400;
    config.lineRate = false;
    sim_->setConfig(config);
    Connect();
    QCOMPARE(link_->SendAndReceive(QStringLiteral("H"), 0.1f), qint16(1));
    QCOMPARE(link_->PortReply, QString());
    QTRY_COMPARE_WITH_TIMEOUT(windows_->received, QString::fromLatin1(config.header), 5000);
}

void TstLink::downloadEndsAfterTheQuietGap() {
    SimConfig config = sim_->config();
    config.timerData = SimConfig::GeneratedLines('T', 12);
    config.dataPacing = {40, 120}; // gaps shorter than the 0.2 s that ends a download
    config.lineRate = true;
    sim_->setConfig(config);
    Connect();
    QCOMPARE(link_->SendAndReceive(QStringLiteral("H"), 0.1f), qint16(0));
    link_->SendNoWait(QStringLiteral("T"));
    link_->Wait(10, 0.2);
    QCOMPARE(windows_->received, QString::fromLatin1(config.timerData));
    QCOMPARE(sim_->receivedBytes(), QByteArray("HT"));
}

void TstLink::disconnectSendsXAndCloses() {
    Connect();
    QElapsedTimer clock;
    clock.start();
    link_->DisconnectDevice();
    QVERIFY(Seconds(clock) > 0.1);
    QVERIFY(!link_->Comm.isOpen());
    QTRY_COMPARE(sim_->exitCount(), 1);
    QCOMPARE(sim_->receivedBytes(), QByteArray("X"));
}

void TstLink::linkCheck_data() {
    QTest::addColumn<int>("ignoredProbes");
    QTest::addColumn<bool>("deviceOn");
    QTest::addColumn<int>("probesSent");
    QTest::addColumn<bool>("lost");
    QTest::newRow("answered") << 0 << true << 1 << false;
    QTest::newRow("answered only the second time") << 1 << true << 2 << false;
    QTest::newRow("two silences") << 0 << false << 2 << true;
}

void TstLink::linkCheck() {
    QFETCH(int, ignoredProbes);
    QFETCH(bool, deviceOn);
    QFETCH(int, probesSent);
    QFETCH(bool, lost);
    SimConfig config = sim_->config();
    config.probesBeforeAnswer = ignoredProbes;
    sim_->setConfig(config);
    sim_->switchOff();
    if (deviceOn) sim_->switchOn();
    Connect();

    QElapsedTimer clock;
    clock.start();
    link_->timComm_Timer();
    const double taken = Seconds(clock);
    QCOMPARE(sim_->receivedBytes(), QByteArray(probesSent, '?'));
    QCOMPARE(windows_->lost, lost ? 1 : 0);
    QCOMPARE(link_->timComm.isActive(), !lost);
    QCOMPARE(link_->Comm.isOpen(), !lost);
    QVERIFY2(taken > 0.2 * probesSent && taken < 0.2 * probesSent + 0.6,
             qPrintable(QString::number(taken)));
}

void TstLink::linkCheckIsSkippedWhileAnExchangeRuns() {
    SimConfig config = sim_->config();
    config.lineRate = false;
    sim_->setConfig(config);
    Connect();
    // A link check that falls into the pause of a user command's exchange.
    QTimer::singleShot(30, link_.get(), [this] { link_->timComm_Timer(); });
    QCOMPARE(link_->SendAndReceive(QStringLiteral("H"), 0.1f), qint16(0));
    QCOMPARE(link_->PortReply, QString::fromLatin1(config.header));
    QCOMPARE(sim_->receivedBytes(), QByteArray("H"));
    QVERIFY(link_->timComm.isActive()); // it looks again at its next tick
    QCOMPARE(windows_->lost, 0);
}

void TstLink::unplug_data() {
    QTest::addColumn<QString>("state");
    QTest::newRow("identifying") << "identifying";
    QTest::newRow("connected") << "connected";
    QTest::newRow("during an exchange") << "exchange";
}

void TstLink::unplug() {
    QFETCH(QString, state);
    SimConfig config = sim_->config();
    config.probesBeforeAnswer = 1000000; // never identifies
    sim_->setConfig(config);
    OpenPort();
    QSignalSpy errors(&link_->Comm, &QSerialPort::errorOccurred);

    if (state == QLatin1String("identifying")) {
        link_->PortSearching = true;
        link_->timID_Timer();
        QTest::qWait(250);
        sim_->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!link_->Comm.isOpen(), 5000);
    } else if (state == QLatin1String("connected")) {
        link_->PortSearching = false;
        link_->PortStreaming = true;
        sim_->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!link_->Comm.isOpen(), 5000);
        link_->timComm_Timer();
        QCOMPARE(windows_->lost, 1);
    } else {
        link_->PortSearching = false;
        QTimer::singleShot(40, sim_.get(), [this] { sim_->unplug(); });
        QCOMPARE(link_->SendAndReceive(QStringLiteral("H"), 0.1f), qint16(1));
        QTRY_VERIFY_WITH_TIMEOUT(!link_->Comm.isOpen(), 5000);
    }

    // No error storm, and the process is idle afterwards (the probe timer may still run).
    QTest::qWait(200);
    const qsizetype errorCount = errors.count();
    const double cpuBefore = ProcessCpuSeconds();
    QTest::qWait(1000);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    QVERIFY2(errorCount < 50, qPrintable(QString::number(errorCount)));
    QCOMPARE(errors.count(), errorCount);
    QVERIFY2(cpu < 0.1, qPrintable(QStringLiteral("CPU %1 s in 1 s").arg(cpu)));
}

void TstLink::portErrors_data() {
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("gone");
    QTest::newRow("read error") << int(QSerialPort::ReadError) << true;
    QTest::newRow("resource error") << int(QSerialPort::ResourceError) << true;
    // What Qt on Windows passes through from the driver of a converter that was pulled out;
    // a pseudo-terminal never answers with these.
    QTest::newRow("permission error") << int(QSerialPort::PermissionError) << true;
    QTest::newRow("unknown error") << int(QSerialPort::UnknownError) << true;
    QTest::newRow("an unsupported setting is no loss") << int(QSerialPort::UnsupportedOperationError) << false;
}

void TstLink::portErrors() {
    QFETCH(int, error);
    QFETCH(bool, gone);
    OpenPort();
    link_->PortSearching = true;
    link_->timID.start();
    QSignalSpy closing(&link_->Comm, &QIODevice::aboutToClose);
    // A vanished port reports its error again and again.
    for (int i = 0; i < 3; ++i)
        emit link_->Comm.errorOccurred(static_cast<QSerialPort::SerialPortError>(error));
    QTest::qWait(100);
    QCOMPARE(closing.count(), gone ? 1 : 0);
    QCOMPARE(link_->Comm.isOpen(), !gone);
    QCOMPARE(windows_->lost, gone ? 1 : 0);
}

void TstLink::expiredWaitIsNoFault() {
    sim_->switchOff();
    Connect();
    QSignalSpy errors(&link_->Comm, &QSerialPort::errorOccurred);
    QCOMPARE(link_->SendAndReceive(QStringLiteral("?"), 0.1f), qint16(1));
    QVERIFY(errors.contains(QVariantList{QVariant::fromValue(QSerialPort::TimeoutError)}));
    QCOMPARE(link_->Comm.error(), QSerialPort::NoError);
    QVERIFY(link_->Comm.isOpen());
    sim_->switchOn();
    QCOMPARE(link_->SendAndReceive(QStringLiteral("?"), 0.1f), qint16(0));
    QCOMPARE(windows_->lost, 0);
}

QTEST_GUILESS_MAIN(TstLink)
#include "tst_link.moc"
