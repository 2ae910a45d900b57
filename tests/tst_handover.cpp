// From start to the retrieval window and back, through the simulated device on a
// pseudo-terminal: port found, identification, "Device Found", hand-over, a lost device and
// its return.

#include "EndToEnd.h"
#include "PushButton.h"
#include "RichTextBox.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

const QString Identity = QStringLiteral("RZT-3000 SN 004211  Version 2.05");

} // namespace

class TstHandOver : public EndToEnd {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void foundIdentifiedAndHandedOver();
    void aDeviceSwitchedOffIsSearchedForAgain();
    void anUnpluggedDeviceIsFoundAgainWhenPluggedIn();
    void exitDuringDeviceFoundEndsBeforeTheRetrievalWindow();

private:
    void StartAndWaitForRetrieval();
};

void TstHandOver::init() {
    SimConfig config;
    config.probesBeforeAnswer = 3;
    QVERIFY(SetUp(config));
    MakeSearchWindow();
}

void TstHandOver::cleanup() {
    TearDown();
}

void TstHandOver::StartAndWaitForRetrieval() {
    QVERIFY(find_->Load(nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(find_->RetrievalWindow() && find_->RetrievalWindow()->isVisible(),
                             15000);
}

void TstHandOver::foundIdentifiedAndHandedOver() {
    QVERIFY(find_->Load(nullptr));
    const QString port = sim_->portName();

    // Found within a tick or two; the instructions name the port.
    QTRY_COMPARE_WITH_TIMEOUT(find_->lblPort->text(), port, 3000);
    const QString found = find_->txt->Text();
    QVERIFY2(found.contains(QStringLiteral("The RZT Device was found on Port # ") + port +
                            QStringLiteral(".\r\n\r\n")),
             qPrintable(found));
    QVERIFY(found.contains(QStringLiteral("press the 'OPTN' button and then press 'YES'.")));
    QVERIFY(found.endsWith(QStringLiteral("Do not disconnect the device until you exit the software.")));
    QVERIFY(!find_->timUSB.isActive());
    QVERIFY(find_->timID.isActive() || link_->PortId == Identity);

    // The device answers: "Device Found" for a little over a second. The pause runs in a
    // nested event loop, so a timer (which fires inside it) watches the window.
    QElapsedTimer clock;
    clock.start();
    qint64 foundAt = -1, shownAt = -1;
    QString foundText, idWhenFound;
    bool probingWhenFound = true, searchingWhenFound = false;
    QTimer watch;
    watch.setInterval(10);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (foundAt < 0 && find_->txt->Text().contains(QStringLiteral("Device Found"))) {
            foundAt = clock.elapsed();
            foundText = find_->txt->Text();
            idWhenFound = find_->lblID->text();
            probingWhenFound = find_->timID.isActive();
            searchingWhenFound = link_->PortSearching;
        }
        if (shownAt < 0 && find_->RetrievalWindow() && find_->RetrievalWindow()->isVisible()) {
            shownAt = clock.elapsed();
        }
    });
    watch.start();
    QTRY_VERIFY_WITH_TIMEOUT(shownAt >= 0, 8000);
    QVERIFY(foundAt >= 0);
    QCOMPARE(foundText, QStringLiteral("\r\n\r\nDevice Found\r\n"));
    QCOMPARE(idWhenFound, Identity);
    QVERIFY(!probingWhenFound);
    QVERIFY(searchingWhenFound);
    QVERIFY2(shownAt - foundAt >= 950, qPrintable(QString::number(shownAt - foundAt)));
    QVERIFY2(shownAt - foundAt < 3000, qPrintable(QString::number(shownAt - foundAt)));

    // Handed over: the search window hidden and emptied, its labels kept.
    frmMain* main = find_->RetrievalWindow();
    QVERIFY(!find_->isVisible());
    QVERIFY(!link_->PortSearching);
    QCOMPARE(find_->txt->Text(), QString());
    QCOMPARE(find_->lblPort->text(), port);
    QCOMPARE(find_->lblID->text(), Identity);
    QCOMPARE(main->lblId->text(), Identity);
    QCOMPARE(main->lblStatus->text(), QStringLiteral("Ready"));
    QCOMPARE(main->txt->Text(), QString());
    QVERIFY(link_->timComm.isActive());
    QVERIFY(link_->Comm.isOpen());
    // Only probes went out so far.
    const QByteArray sent = sim_->receivedBytes();
    QCOMPARE(sent.count('?'), sent.size());
}

void TstHandOver::aDeviceSwitchedOffIsSearchedForAgain() {
    StartAndWaitForRetrieval();
    frmMain* main = find_->RetrievalWindow();
    main->txt->SetText(QStringLiteral("unsaved readings\r\n"));

    sim_->switchOff();
    // The next link check (about 2 s) gives it up after two silent probes.
    QTRY_VERIFY_WITH_TIMEOUT(find_->isVisible(), 8000);
    QVERIFY(!main->isVisible());
    QVERIFY(!link_->timComm.isActive());
    QVERIFY(link_->PortSearching);

    // The same port opens again at once and the device is asked anew.
    QTRY_VERIFY_WITH_TIMEOUT(find_->timID.isActive(), 3000);
    sim_->switchOn();
    QTRY_VERIFY_WITH_TIMEOUT(main->isVisible(), 15000);
    QCOMPARE(find_->RetrievalWindow(), main); // the same window, shown again
    QVERIFY(!find_->isVisible());
    QCOMPARE(main->lblStatus->text(), QStringLiteral("Ready"));
    QCOMPARE(main->lblId->text(), Identity);
    QCOMPARE(main->txt->Text(), QString());
    QVERIFY(link_->timComm.isActive());
}

void TstHandOver::anUnpluggedDeviceIsFoundAgainWhenPluggedIn() {
    StartAndWaitForRetrieval();
    frmMain* main = find_->RetrievalWindow();
    QSignalSpy errors(&link_->Comm, &QSerialPort::errorOccurred);

    sim_->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(find_->isVisible(), 8000);
    QVERIFY(!main->isVisible());
    QTest::qWait(600); // a few discovery ticks with no port
    QVERIFY(!link_->Comm.isOpen());
    QVERIFY(find_->timUSB.isActive());
    QVERIFY2(errors.count() < 50, qPrintable(QString::number(errors.count())));

    QString error;
    QVERIFY2(sim_->plug(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(main->isVisible(), 15000);
    QCOMPARE(find_->lblPort->text(), sim_->portName());
    QCOMPARE(main->lblId->text(), Identity);
    QVERIFY(link_->Comm.isOpen());
}

void TstHandOver::exitDuringDeviceFoundEndsBeforeTheRetrievalWindow() {
    QVERIFY(find_->Load(nullptr));
    QSignalSpy ending(link_.get(), &modMain::programEnding);
    // Click Exit while "Device Found" shows: the pause runs in a nested event loop, where
    // this timer still fires.
    QTimer watch;
    watch.setInterval(10);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (ending.isEmpty() && find_->txt->Text().contains(QStringLiteral("Device Found"))) {
            QTest::mouseClick(find_->cmdExit, Qt::LeftButton);
        }
    });
    watch.start();
    QTRY_COMPARE_WITH_TIMEOUT(ending.count(), 1, 8000);
    QTest::qWait(1500);
    QVERIFY(!find_->RetrievalWindow());
    QVERIFY(!link_->Comm.isOpen());
    QVERIFY(!sim_->receivedBytes().contains('X'));
}

QTEST_MAIN(TstHandOver)
#include "tst_handover.moc"
