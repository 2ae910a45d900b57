// Stopwatch slots and the wait every pause of the program is made of.

#include "Stopwatch.h"
#include "TextHelpers.h"
#include "TestSupport.h"
#include "modMain.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <ctime>

class TstLinkTiming : public QObject {
    Q_OBJECT
private slots:
    void slotsOutsideTheRangeChangeNothing_data();
    void slotsOutsideTheRangeChangeNothing();
    void readingsGrowFromTheSameStart();
    void elapsedIsRoundedToTenThousandths();
    void startResetsElapsed();
    void waitEndsJustPastItsLimit_data();
    void waitEndsJustPastItsLimit();
    void waitLetsEventsRun();
    void restartingTheSlotExtendsTheWait();
    void waitDoesNotSpin();
    void endingStopsRunningAndLaterWaits();
    void getField_data();
    void getField();
    void getFolderPath_data();
    void getFolderPath();
    void versionText_data();
    void versionText();
    void exchangeOnAPortNotOpen_data();
    void exchangeOnAPortNotOpen();
};

void TstLinkTiming::slotsOutsideTheRangeChangeNothing_data() {
    QTest::addColumn<int>("slot");
    QTest::newRow("0") << 0;
    QTest::newRow("11") << 11;
    QTest::newRow("-1") << -1;
}

void TstLinkTiming::slotsOutsideTheRangeChangeNothing() {
    QFETCH(int, slot);
    Stopwatch watch;
    watch.StartTimer(1);
    QTest::qWait(20);
    watch.StartTimer(slot);
    watch.StopTimer(slot);
    QCOMPARE(watch.TimeElapsed(slot), 0.0);
    QCOMPARE(watch.LastElapsed(slot), 0.0);
    // Slot 1 kept its own start: a bogus slot must not reach into the array.
    QVERIFY(watch.TimeElapsed(1) >= 0.015);
    QElapsedTimer clock;
    clock.start();
    watch.Wait(slot, 5.0); // would never end if it waited on a reading that stays 0
    QVERIFY(clock.elapsed() < 1000);
}

void TstLinkTiming::readingsGrowFromTheSameStart() {
    Stopwatch watch;
    watch.StartTimer(1);
    QTest::qWait(30);
    const double first = watch.TimeElapsed(1);
    watch.StopTimer(1);
    QTest::qWait(30);
    const double second = watch.TimeElapsed(1);
    QVERIFY2(first >= 0.025, qPrintable(QString::number(first)));
    QVERIFY2(second >= first + 0.025, qPrintable(QStringLiteral("%1 %2").arg(first).arg(second)));
}

void TstLinkTiming::elapsedIsRoundedToTenThousandths() {
    Stopwatch watch;
    watch.StartTimer(3);
    QTest::qWait(7);
    const double elapsed = watch.TimeElapsed(3);
    const double scaled = elapsed * 10000.0;
    QVERIFY(elapsed > 0.0);
    QCOMPARE(scaled, std::round(scaled));
}

void TstLinkTiming::startResetsElapsed() {
    Stopwatch watch;
    watch.StartTimer(2);
    QTest::qWait(20);
    QVERIFY(watch.TimeElapsed(2) > 0.0);
    watch.StartTimer(2);
    QCOMPARE(watch.LastElapsed(2), 0.0);
    QVERIFY(watch.TimeElapsed(2) < 0.015);
}

void TstLinkTiming::waitEndsJustPastItsLimit_data() {
    QTest::addColumn<int>("slot");
    QTest::addColumn<double>("limit");
    QTest::newRow("pause 0.1 s on slot 1") << 1 << 0.1;
    QTest::newRow("quiet gap 0.2 s on slot 10") << 10 << 0.2;
    QTest::newRow("zero") << 5 << 0.0;
}

void TstLinkTiming::waitEndsJustPastItsLimit() {
    QFETCH(int, slot);
    QFETCH(double, limit);
    Stopwatch watch;
    QElapsedTimer clock;
    clock.start();
    watch.Wait(slot, limit);
    const double taken = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    // Strictly greater than the limit, as its own slot reads it...
    QVERIFY2(watch.LastElapsed(slot) > limit, qPrintable(QString::number(watch.LastElapsed(slot))));
    QVERIFY(taken > limit);
    // ...and not much later (the overshoot itself is measured by the benchmark).
    QVERIFY2(taken < limit + 0.5, qPrintable(QString::number(taken)));
}

void TstLinkTiming::waitLetsEventsRun() {
    Stopwatch watch;
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    bool singleShotRan = false;
    QTimer::singleShot(0, [&] { singleShotRan = true; });
    watch.Wait(1, 0.2);
    QVERIFY(singleShotRan);
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
}

void TstLinkTiming::restartingTheSlotExtendsTheWait() {
    // A download's quiet gap: every received chunk restarts the slot from inside the wait.
    Stopwatch watch;
    int restarts = 0;
    QTimer chunk;
    chunk.setInterval(50);
    connect(&chunk, &QTimer::timeout, [&] {
        watch.StopTimer(10);
        watch.StartTimer(10);
        if (++restarts == 6) chunk.stop();
    });
    QElapsedTimer clock;
    clock.start();
    chunk.start();
    watch.Wait(10, 0.2);
    const qint64 taken = clock.elapsed();
    QCOMPARE(restarts, 6);
    // The last chunk came at ~300 ms, so the wait ends ~200 ms after that.
    QVERIFY2(taken >= 480, qPrintable(QString::number(taken)));
    QVERIFY2(taken < 1500, qPrintable(QString::number(taken)));
}

void TstLinkTiming::waitDoesNotSpin() {
    Stopwatch watch;
    const double cpuBefore = ProcessCpuSeconds();
    watch.Wait(1, 1.0);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    // A polling loop would burn the whole second; a blocked one uses next to nothing.
    QVERIFY2(cpu < 0.25, qPrintable(QStringLiteral("CPU %1 s during a 1 s wait").arg(cpu)));
}

void TstLinkTiming::endingStopsRunningAndLaterWaits() {
    Stopwatch watch;
    QSignalSpy ending(&watch, &Stopwatch::ending);
    QTimer::singleShot(50, [&] { watch.EndWaits(); });
    QElapsedTimer clock;
    clock.start();
    watch.Wait(10, 30.0);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(ending.count(), 1);
    clock.restart();
    watch.Wait(1, 30.0);
    QVERIFY(clock.elapsed() < 500);
    watch.EndWaits();
    QCOMPARE(ending.count(), 1);
}

void TstLinkTiming::getField_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first") << "a,b" << 0 << "a";
    QTest::newRow("beyond the last piece") << "a,b" << 2 << "";
    QTest::newRow("empty piece") << "a,,c" << 1 << "";
    QTest::newRow("after an empty piece") << "a,,c" << 2 << "c";
    QTest::newRow("no delimiter") << "abc" << 0 << "abc";
    QTest::newRow("empty text") << "" << 0 << "";
    QTest::newRow("trailing empty piece") << "a," << 1 << "";
    QTest::newRow("negative index") << "a,b" << -1 << "";
    QTest::newRow("identity field") << "0,1,2,3,4,5,6,7,RZT-3000,2.05" << 8 << "RZT-3000";
    QTest::newRow("version field") << "0,1,2,3,4,5,6,7,RZT-3000,2.05" << 9 << "2.05";
}

void TstLinkTiming::getField() {
    QFETCH(QString, text);
    QFETCH(int, index);
    QFETCH(QString, expected);
    QCOMPARE(GetField(text, QStringLiteral(","), index), expected);
}

void TstLinkTiming::getFolderPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("separators");
    QTest::addColumn<QString>("expected");
    const QString win = QStringLiteral("\\/");
    const QString unix = QStringLiteral("/");
    QTest::newRow("windows nested") << "C:\\A\\B\\c.txt" << win << "C:\\A\\B";
    QTest::newRow("windows drive root") << "C:\\run.csv" << win << "C:";
    QTest::newRow("windows no separator") << "run.csv" << win << "";
    QTest::newRow("windows leading only") << "\\run.csv" << win << "";
    QTest::newRow("windows forward slash") << "C:/Data/run.csv" << win << "C:/Data";
    QTest::newRow("windows mixed, last wins") << "C:\\Data/sub\\run.csv" << win << "C:\\Data/sub";
    QTest::newRow("linux nested") << "/home/ann/data/run.csv" << unix << "/home/ann/data";
    QTest::newRow("linux top folder") << "/run.csv" << unix << "";
    QTest::newRow("linux backslash is a name character") << "/home/a\\b.csv" << unix << "/home";
    QTest::newRow("linux relative") << "data/run.csv" << unix << "data";
    QTest::newRow("non-ascii folder") << QString::fromUtf8("/home/jos\u00e9/M\u00fcller/r.csv") << unix
                                      << QString::fromUtf8("/home/jos\u00e9/M\u00fcller");
    QTest::newRow("empty") << "" << unix << "";
}

void TstLinkTiming::getFolderPath() {
    QFETCH(QString, path);
    QFETCH(QString, separators);
    QFETCH(QString, expected);
    QCOMPARE(GetFolderPath(path, separators), expected);
}

void TstLinkTiming::versionText_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("expected");
    QTest::newRow("program") << 1 << 1 << 132 << "1.01.0132";
    QTest::newRow("pads, never cuts") << 10 << 123 << 12345 << "10.123.12345";
    QTest::newRow("minor 12 revision 5") << 1 << 12 << 5 << "1.12.0005";
    QTest::newRow("zeros") << 0 << 0 << 0 << "0.00.0000";
}

void TstLinkTiming::versionText() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, expected);
    QCOMPARE(VersionText(major, minor, revision), expected);
}

// Runs on Windows too, where a wait on a port that is not open crashes some versions of Qt
// Serial Port: the exchange must not wait on the port then, only sleep out its window.
void TstLinkTiming::exchangeOnAPortNotOpen_data() {
    QTest::addColumn<bool>("triedToOpen");
    QTest::newRow("never opened") << false;
    QTest::newRow("refused to open") << true;
}

void TstLinkTiming::exchangeOnAPortNotOpen() {
    QFETCH(bool, triedToOpen);
    modMain link;
#ifdef Q_OS_WIN
    link.PortList = {QStringLiteral("COM201")};
#else
    link.PortList = {QStringLiteral("/dev/rzt-no-such-port")};
#endif
    if (triedToOpen) link.OpenFirstPort();
    QVERIFY(!link.Comm.isOpen());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(link.SendAndReceive(QStringLiteral("?"), 0.1f), qint16(1));
    QVERIFY2(clock.elapsed() >= 200 && clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(link.PortReply, QString());
}

QTEST_GUILESS_MAIN(TstLinkTiming)
#include "tst_link_timing.moc"
