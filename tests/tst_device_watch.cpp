// The search lists the serial ports again only when the serial devices may have changed. The
// mocked-udev cases need the umockdev preload (ctest runs them under umockdev-wrapper).

#include "DeviceWatch.h"
#include "SimDevice.h"
#include "TestDialogs.h"
#include "UdevBed.h"
#include "modMain.h"
#include "search/frmFind.h"

#include <QLabel>
#include <QtTest>

namespace {

class CountingSource : public PortSource {
public:
    QStringList Candidates() override {
        ++asked;
        return answer;
    }
    QStringList answer;
    int asked = 0;
};

class ScriptedWatch : public DeviceChangeWatch {
public:
    explicit ScriptedWatch(bool& changed) : changed_(changed) {}
    bool TakeChange() override { return std::exchange(changed_, false); }

private:
    bool& changed_;
};

} // namespace

class TstDeviceWatch : public QObject {
    Q_OBJECT
private slots:
    void asksAgainOnlyOnAChange();
    void mockedConvertersComeAndGo();
    void searchFindsAConverterAtTheNextTick();
};

void TstDeviceWatch::asksAgainOnlyOnAChange() {
    auto inner = std::make_unique<CountingSource>();
    CountingSource& counted = *inner;
    bool changed = false;
    counted.answer = {QStringLiteral("/dev/ttyUSB0")};
    WatchedPortSource source(std::move(inner), std::make_unique<ScriptedWatch>(changed));

    QCOMPARE(source.Candidates(), counted.answer); // the first call always asks
    counted.answer = {QStringLiteral("/dev/ttyUSB1")};
    for (int i = 0; i < 5; ++i) QCOMPARE(source.Candidates(), QStringList{"/dev/ttyUSB0"});
    QCOMPARE(counted.asked, 1);

    changed = true;
    QCOMPARE(source.Candidates(), QStringList{"/dev/ttyUSB1"});
    counted.answer.clear();
    changed = true;
    QCOMPARE(source.Candidates(), QStringList()); // an empty answer is handed on as it is
    QCOMPARE(counted.asked, 3);
}

void TstDeviceWatch::mockedConvertersComeAndGo() {
    UdevBed bed;
    if (!bed.Preloaded()) QSKIP("needs the umockdev preload (umockdev-wrapper)");
    SimDevice sim;
    QVERIFY(sim.plug());
    WatchedPortSource source(std::make_unique<FtdiSerialPortSource>(), MakeSerialDeviceWatch());
    QCOMPARE(source.Candidates(), QStringList());
    const int idle = source.Scans();
    for (int i = 0; i < 4; ++i) source.Candidates();
    QCOMPARE(source.Scans(), idle); // nothing changed, nothing listed

    const QString ftdi = UdevBed::FreeName(0);
    QVERIFY(bed.Plug(UdevBed::FreeName(1), sim.portName(), UdevBed::Ch340));
    QVERIFY(bed.Plug(ftdi, sim.portName()));
    QCOMPARE(source.Candidates(), QStringList{UdevBed::Node(ftdi)}); // at once, no waiting

    bed.Unplug(ftdi);
    QCOMPARE(source.Candidates(), QStringList());
    const int after = source.Scans();
    source.Candidates();
    QCOMPARE(source.Scans(), after);
}

void TstDeviceWatch::searchFindsAConverterAtTheNextTick() {
    UdevBed bed;
    if (!bed.Preloaded()) QSKIP("needs the umockdev preload (umockdev-wrapper)");
    SimConfig silent;
    silent.probesBeforeAnswer = 1 << 30;
    SimDevice sim(silent);
    QVERIFY(sim.plug());
    modMain link;
    TestDialogs dialogs;
    frmFind find(link, dialogs);
    QVERIFY(find.Load(nullptr)); // the platform's own candidate source
    QTest::qWait(600);           // a few empty ticks
    QVERIFY(find.lblPort->text().isEmpty());

    const QString name = UdevBed::FreeName(0);
    QVERIFY(bed.Plug(name, sim.portName()));
    // The next tick, with room for a loaded machine.
    QTRY_COMPARE_WITH_TIMEOUT(find.lblPort->text(), UdevBed::Node(name), 1500);
    link.EndProgram();
}

QTEST_MAIN(TstDeviceWatch)
#include "tst_device_watch.moc"
