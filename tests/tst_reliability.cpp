// The whole program against the simulated device on a pseudo-terminal, under faults: the
// cable pulled in every state of the link, and device text no well-behaved device sends
// (8-bit and NUL bytes, odd field counts, megabytes without a line end, a stream that never
// stops).

#include "EndToEnd.h"
#include "PushButton.h"
#include "RichTextBox.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>
#include <algorithm>
#include <ctime>
#include <functional>

namespace {

const QString Identity = QStringLiteral("RZT-3000 SN 004211  Version 2.05");
const QString Ready = QStringLiteral("Ready");
const QString Received = QStringLiteral("Data Received");
const QString Loading = QStringLiteral("Loading Data");

// Repeatable noise: every byte value may occur except the excluded ones.
QByteArray RandomBytes(quint32 seed, qsizetype size, const QByteArray& excluded = {}) {
    QRandomGenerator random(seed);
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const char byte = static_cast<char>(random.bounded(256));
        if (!excluded.contains(byte)) bytes.append(byte);
    }
    return bytes;
}

// The text a download leaves on screen: every CR LF becomes LF, whatever follows the last
// CR LF is dropped, and without any CR LF nothing is left.
QString Rewritten(const QByteArray& received) {
    QString text = QString::fromLatin1(received);
    const qsizetype last = text.lastIndexOf(QStringLiteral("\r\n"));
    if (last < 0) return QString();
    text.truncate(last);
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Ticks every 10 ms and remembers how late the latest tick came: a measure of how long the
// window went without handling events.
class Heartbeat {
public:
    std::function<void()> onTick;

    Heartbeat() {
        timer_.setInterval(10);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            worst_ = std::max(worst_, now - last_ - timer_.interval());
            last_ = now;
            if (onTick) onTick();
        });
    }
    void Start() {
        clock_.start();
        last_ = 0;
        worst_ = 0;
        timer_.start();
    }
    void Stop() { timer_.stop(); }
    qint64 WorstLatenessMs() const { return worst_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
};

bool IsHangUp(QSerialPort::SerialPortError error) {
    return error == QSerialPort::ReadError || error == QSerialPort::WriteError ||
           error == QSerialPort::ResourceError;
}

qsizetype CountErrors(const QSignalSpy& spy, qsizetype from, bool hangUpsOnly) {
    qsizetype n = 0;
    for (qsizetype i = from; i < spy.count(); ++i) {
        const auto error = spy.at(i).at(0).value<QSerialPort::SerialPortError>();
        if (error == QSerialPort::NoError) continue;
        if (!hangUpsOnly || IsHangUp(error)) ++n;
    }
    return n;
}

} // namespace

class TstReliability : public EndToEnd {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void unplugged_data();
    void unplugged();

    void identification_data();
    void identification();
    void downloadOfAnyBytes_data();
    void downloadOfAnyBytes();
    void tenMebibytesWithoutALineEnd();
    void endlessStream_data();
    void endlessStream();

private:
    frmMain* Main() const { return find_->RetrievalWindow(); }
    bool RetrievalReady() const;
    bool SearchingAgain() const;
    bool StartAndWaitForRetrieval();
};

void TstReliability::init() {
    QVERIFY(SetUp());
    MakeSearchWindow();
}

void TstReliability::cleanup() {
    QVERIFY(TearDown());
}

bool TstReliability::RetrievalReady() const {
    return Main() && Main()->isVisible() && Main()->lblStatus->text() == Ready &&
           !find_->isVisible();
}

bool TstReliability::SearchingAgain() const {
    return find_->isVisible() && !(Main() && Main()->isVisible()) && find_->timUSB.isActive() &&
           link_->PortSearching && !link_->Comm.isOpen() && find_->lblPort->text().isEmpty() &&
           find_->txt->Text().contains(QStringLiteral("Monitoring USB Ports for RZT Device."));
}

bool TstReliability::StartAndWaitForRetrieval() {
    if (!find_->Load(nullptr)) return false;
    if (!QTest::qWaitFor([this] { return RetrievalReady(); }, 15000)) return false;
    sim_->clearReceived(); // the identification's probes
    return true;
}

// ---------------------------------------------------------------------------------------------
// The cable pulled out

void TstReliability::unplugged_data() {
    QTest::addColumn<QString>("state");
    QTest::newRow("watching, the port refuses to open") << "refused";
    QTest::newRow("identifying, the device never answers") << "identifying";
    QTest::newRow("identifying, half a line received") << "half a line";
    QTest::newRow("Device Found pause") << "device found";
    QTest::newRow("connected") << "connected";
    QTest::newRow("downloading") << "downloading";
    QTest::newRow("save dialog open") << "save dialog";
}

void TstReliability::unplugged() {
    QFETCH(QString, state);
    QSignalSpy errors(&link_->Comm, &QSerialPort::errorOccurred);
    qsizetype errorsAtUnplug = 0;
    auto unplug = [&] {
        errorsAtUnplug = errors.count();
        sim_->unplug();
    };

    if (state == QLatin1String("refused")) {
        // Another program holds the port: the search finds it but cannot open it, and has no
        // advice to give (no group membership makes a busy port open).
        QSerialPort holder(sim_->portName());
        if (!holder.open(QIODevice::ReadWrite)) QSKIP("the simulated port cannot be held open");
        QVERIFY(find_->Load(nullptr));
        const bool refused = QTest::qWaitFor([this] { return !link_->PortsDenied().isEmpty(); }, 3000);
        if (!refused) QSKIP("a port held by another program still opens here");
        QTest::qWait(600); // a few more refused attempts
        QVERIFY(!link_->Comm.isOpen());
        QVERIFY2(!find_->txt->Text().contains(QStringLiteral("may not be opened")),
                 qPrintable(find_->txt->Text()));
        unplug();
        holder.close();
    } else if (state == QLatin1String("identifying")) {
        SetDevice([](SimConfig& c) { c.probesBeforeAnswer = 1000000; });
        QVERIFY(find_->Load(nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(find_->timID.isActive(), 5000);
        QTRY_VERIFY(sim_->receivedBytes().count('?') >= 3);
        unplug();
    } else if (state == QLatin1String("half a line")) {
        SetDevice([](SimConfig& c) {
            c.lineRate = false;
            c.idPacing = {16, 400};
        });
        QVERIFY(find_->Load(nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(!link_->PortId.isEmpty(), 5000);
        QVERIFY(!link_->PortId.endsWith(QLatin1Char('\n')));
        unplug();
    } else if (state == QLatin1String("device found")) {
        QVERIFY(find_->Load(nullptr));
        // The pause runs in a nested event loop, where this timer still fires.
        bool pulled = false, searching = false;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!pulled && find_->txt->Text().contains(QStringLiteral("Device Found"))) {
                pulled = true;
                searching = link_->PortSearching;
                unplug();
            }
        });
        watch.start();
        QTRY_VERIFY_WITH_TIMEOUT(pulled, 10000);
        QVERIFY(searching);
    } else if (state == QLatin1String("connected")) {
        QVERIFY(StartAndWaitForRetrieval());
        unplug();
    } else if (state == QLatin1String("downloading")) {
        SetDevice([](SimConfig& c) { c.timerData = SimConfig::GeneratedLines('T', 2000); });
        QVERIFY(StartAndWaitForRetrieval());
        QString statusAtUnplug;
        QTimer::singleShot(700, this, [&] {
            statusAtUnplug = Main()->lblStatus->text();
            unplug();
        });
        QTest::mouseClick(Main()->cmd(0), Qt::LeftButton);
        QCOMPARE(statusAtUnplug, Loading);
        QCOMPARE(Main()->lblStatus->text(), Received);
        QVERIFY(!Main()->txt->Text().isEmpty());
    } else if (state == QLatin1String("save dialog")) {
        QVERIFY(StartAndWaitForRetrieval());
        QTest::mouseClick(Main()->cmd(0), Qt::LeftButton);
        QCOMPARE(Main()->lblStatus->text(), Received);
        const QString path = dir_->filePath(QStringLiteral("readings.csv"));
        dialogs_->saveAnswers.enqueue(path);
        bool searchingWhileOpen = false;
        dialogs_->whileSaveDialogOpen = [&] {
            unplug();
            searchingWhileOpen = QTest::qWaitFor([this] { return SearchingAgain(); }, 10000);
        };
        QTest::mouseClick(Main()->cmd(5), Qt::LeftButton);
        QVERIFY(searchingWhileOpen);
        // What was shown is saved all the same.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const SimConfig config = sim_->config();
        QCOMPARE(file.readAll(), config.header + config.timerData);
        QCOMPARE(Main()->lblStatus->text(), QStringLiteral("Save Data Complete"));
    } else {
        QFAIL("unknown state");
    }

    // Back to searching, with the port closed.
    QTRY_VERIFY_WITH_TIMEOUT(SearchingAgain(), 10000);
    QVERIFY(!link_->timID.isActive());
    QVERIFY(!link_->timComm.isActive());

    // Quiet: no stream of port errors, next to no CPU.
    const qsizetype errorsBeforeIdle = errors.count();
    const double cpuBefore = ProcessCpuSeconds();
    QTest::qWait(1000);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const qsizetype hangUps = CountErrors(errors, errorsAtUnplug, true);
    const qsizetype idleErrors = CountErrors(errors, errorsBeforeIdle, false);
    qInfo("%s: %lld hang-up errors, %lld errors in 1 s of searching, CPU %.3f s", qPrintable(state),
          static_cast<long long>(hangUps), static_cast<long long>(idleErrors), cpu);
    QVERIFY2(hangUps <= 10, qPrintable(QString::number(hangUps)));
    QVERIFY2(idleErrors <= 12, qPrintable(QString::number(idleErrors)));
    QVERIFY2(cpu < 0.1, qPrintable(QStringLiteral("CPU %1 s in 1 s").arg(cpu)));
    QVERIFY(SearchingAgain());

    // Plugged in again: found and identified anew.
    sim_->setConfig(SimConfig());
    QString error;
    QVERIFY2(sim_->plug(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(RetrievalReady(), 15000);
    QCOMPARE(Main()->lblId->text(), Identity);
    QCOMPARE(find_->lblPort->text(), sim_->portName());
    QCOMPARE(Main()->txt->Text(), QString());
    QVERIFY(link_->Comm.isOpen());
    QVERIFY(link_->timComm.isActive());
    QVERIFY(!find_->timUSB.isActive());
}

// ---------------------------------------------------------------------------------------------
// Device text no well-behaved device sends

void TstReliability::identification_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("identity");

    QTest::newRow("no field") << QByteArray("\r\n") << QByteArray("  Version ");
    QTest::newRow("one field") << QByteArray("RZT\r\n") << QByteArray("  Version ");
    QTest::newRow("nine fields") << QByteArray("0,1,2,3,4,5,6,7,RZT-3000 SN 1\r\n")
                                 << QByteArray("RZT-3000 SN 1  Version ");
    QTest::newRow("ten fields") << QByteArray("0,1,2,3,4,5,6,7,RZT-3000 SN 1,2.06\r\n")
                                << QByteArray("RZT-3000 SN 1  Version 2.06");
    QByteArray fifty;
    for (int i = 0; i < 50; ++i)
        fifty += (i ? "," : "") + QByteArray::number(i * 7);
    QTest::newRow("fifty fields") << fifty + "\r\n" << QByteArray("56  Version 63");

    // Every byte value but the comma and LF, in ten fields.
    QList<QByteArray> fields;
    for (quint32 i = 0; i < 10; ++i)
        fields << RandomBytes(1000 + i, 3 + i, ",\n");
    QTest::newRow("8-bit and NUL bytes")
        << fields.join(',') + "\r\n" << fields[8] + "  Version " + fields[9];

    // Lines of noise ahead of the real one, all in one piece: only the last line counts.
    QByteArray noise = RandomBytes(77, 120);
    noise.replace('\n', 'n');
    noise[40] = '\n';
    noise[90] = '\n';
    QTest::newRow("noise lines before the last")
        << noise + "\r\n" + fields.join(',') + "\r\n" << fields[8] + "  Version " + fields[9];
}

void TstReliability::identification() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, identity);
    SetDevice([&](SimConfig& c) { c.idLine = line; });
    QVERIFY(StartAndWaitForRetrieval());
    const QString expected = QString::fromLatin1(identity);
    QCOMPARE(link_->PortId, expected);
    QCOMPARE(Main()->lblId->text(), expected);
    QCOMPARE(find_->lblID->text(), expected);
    QVERIFY(link_->timComm.isActive());
}

void TstReliability::downloadOfAnyBytes_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("gapMs");
    QTest::newRow("8 KiB in pieces of 61 bytes") << RandomBytes(5, 8 * 1024) << 61 << 3;
    QTest::newRow("256 KiB as fast as it goes") << RandomBytes(6, 256 * 1024) << 0 << 0;
}

void TstReliability::downloadOfAnyBytes() {
    QFETCH(QByteArray, data);
    QFETCH(int, chunk);
    QFETCH(int, gapMs);
    SetDevice([&](SimConfig& c) {
        c.lineRate = false;
        c.timerData = data;
        c.dataPacing = {chunk, gapMs};
    });
    QVERIFY(StartAndWaitForRetrieval());
    const QByteArray sent = sim_->config().header + data;

    // The text box's buffer as it stands just before the line ends are rewritten: the longest
    // text it held.
    QString longest;
    Heartbeat look;
    look.onTick = [&] {
        if (Main()->txt->Text().size() > longest.size()) longest = Main()->txt->Text();
    };
    look.Start();
    QTest::mouseClick(Main()->cmd(0), Qt::LeftButton);
    look.Stop();

    QCOMPARE(longest.size(), sent.size());
    const QString expected = QString::fromLatin1(sent);
    const auto differs = std::mismatch(longest.cbegin(), longest.cend(), expected.cbegin());
    QVERIFY2(differs.first == longest.cend(),
             qPrintable(QStringLiteral("first difference at offset %1")
                            .arg(differs.first - longest.cbegin())));
    QVERIFY(Main()->txt->Text() == Rewritten(sent));
    QCOMPARE(Main()->lblStatus->text(), Received);
    QCOMPARE(sim_->receivedBytes(), QByteArray("HT"));
}

void TstReliability::tenMebibytesWithoutALineEnd() {
    constexpr qsizetype Size = 10 * 1024 * 1024;
    QByteArray pattern;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n') pattern.append(static_cast<char>(b));
    }
    QByteArray data;
    data.reserve(Size);
    while (data.size() < Size)
        data.append(pattern);
    data.truncate(Size);
    SetDevice([&](SimConfig& c) {
        c.lineRate = false;
        c.header = "RZT-3000 HEADER";
        c.timerData = data;
        c.dataPacing = {0, 0};
    });
    QVERIFY(StartAndWaitForRetrieval());

    qsizetype longest = 0;
    Heartbeat heartbeat;
    heartbeat.onTick = [&] { longest = std::max(longest, Main()->txt->Text().size()); };
    QElapsedTimer clock;
    heartbeat.Start();
    clock.start();
    QTest::mouseClick(Main()->cmd(0), Qt::LeftButton);
    const qint64 taken = clock.elapsed();
    heartbeat.Stop();

    qInfo("10 MiB without a line end: %lld ms, worst heartbeat lateness %lld ms",
          static_cast<long long>(taken), static_cast<long long>(heartbeat.WorstLatenessMs()));
    QCOMPARE(longest, Size + 15);
    QCOMPARE(Main()->txt->Text(), QString());
    QCOMPARE(Main()->txt->SelStart(), 0);
    QCOMPARE(Main()->lblStatus->text(), Received);
    QVERIFY2(heartbeat.WorstLatenessMs() < 2000,
             qPrintable(QString::number(heartbeat.WorstLatenessMs())));
}

void TstReliability::endlessStream_data() {
    QTest::addColumn<bool>("lineRate");
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("at line rate, Exit") << true << false;
    QTest::newRow("flat out, Exit") << false << false;
    QTest::newRow("flat out, close box") << false << true;
}

void TstReliability::endlessStream() {
    QFETCH(bool, lineRate);
    QFETCH(bool, closeBox);
    SetDevice([&](SimConfig& c) { c.lineRate = lineRate; });
    QVERIFY(StartAndWaitForRetrieval());
    const SimConfig config = sim_->config();
    const qsizetype reply = config.header.size() + config.timerData.size();

    QSignalSpy ending(link_.get(), &modMain::programEnding);
    QElapsedTimer clock;
    clock.start();
    qint64 endedAt = -1, leftAt = -1;
    connect(link_.get(), &modMain::programEnding, this, [&] { endedAt = clock.elapsed(); });

    // The device goes on sending after its readings, without end.
    QTimer::singleShot(300, sim_.get(), [this] { sim_->startStream("S,0001,STREAM,00:00.00\r\n"); });
    QString statusBefore;
    qsizetype shownBefore = 0;
    QByteArray wireBefore;
    bool linkCheckOn = true, exitAvailable = true;
    QTimer::singleShot(2000, this, [&] {
        statusBefore = Main()->lblStatus->text();
        shownBefore = Main()->txt->Text().size();
        wireBefore = sim_->receivedBytes();
        linkCheckOn = link_->timComm.isActive();
        // The Exit button is unavailable during a download like every other button, so its
        // click is handed to the window's click handler directly.
        exitAvailable = Main()->cmd(6)->isEnabled();
        leftAt = clock.elapsed();
        if (closeBox)
            Main()->close();
        else
            Main()->cmd_Click(6);
    });
    Heartbeat heartbeat;
    heartbeat.Start();
    QTest::mouseClick(Main()->cmd(0), Qt::LeftButton); // returns once the program ends
    heartbeat.Stop();

    qInfo("stream: %lld characters shown after 2 s, left in %lld ms, worst heartbeat lateness "
          "%lld ms",
          static_cast<long long>(shownBefore), static_cast<long long>(endedAt - leftAt),
          static_cast<long long>(heartbeat.WorstLatenessMs()));
    // Still downloading after 2 s, with no link check in between.
    QCOMPARE(statusBefore, Loading);
    QVERIFY2(shownBefore > reply, qPrintable(QString::number(shownBefore)));
    QCOMPARE(wireBefore, QByteArray("HT"));
    QVERIFY(!linkCheckOn);
    QVERIFY(!exitAvailable);
    // And leaving still works at once.
    QCOMPARE(ending.count(), 1);
    QVERIFY(endedAt >= leftAt && leftAt >= 0);
    QVERIFY2(endedAt - leftAt < 2000, qPrintable(QString::number(endedAt - leftAt)));
    QVERIFY(!link_->Comm.isOpen());
    QTRY_COMPARE(sim_->exitCount(), 1);
    QCOMPARE(sim_->receivedBytes(), QByteArray("HTX"));
    QVERIFY2(heartbeat.WorstLatenessMs() < 2000,
             qPrintable(QString::number(heartbeat.WorstLatenessMs())));
}

QTEST_MAIN(TstReliability)
#include "tst_reliability.moc"
