// The simulated device, driven from the computer's side of its port with plain POSIX calls
// and with QSerialPort, the way the program will meet it.

#include "PortLine.h"
#include "SimDevice.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The computer's end of the cable, opened without touching the line settings: whatever the
// program sees through its serial port API, it sees here without any help.
class RawPort {
public:
    explicit RawPort(const QString& name)
        : fd_(::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~RawPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    bool hungUp() const { return hungUp_; }

    bool write(const QByteArray& bytes) {
        return ::write(fd_, bytes.constData(), bytes.size()) == bytes.size();
    }

    // Reads until nothing has come for quietMs, `enough` says so, or limitMs have passed.
    // Blocks in poll(); the time of every read goes to *arrivals.
    QByteArray read(int quietMs, int limitMs = 10000, QList<Clock::time_point>* arrivals = nullptr,
                    const std::function<bool(const QByteArray&)>& enough = {}) {
        QByteArray got;
        const auto limit = Clock::now() + std::chrono::milliseconds(limitMs);
        while (!hungUp_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(limit - Clock::now());
            pollfd pfd{fd_, POLLIN, 0};
            if (left.count() <= 0 ||
                ::poll(&pfd, 1, static_cast<int>(std::min<qint64>(quietMs, left.count()))) <= 0)
                break;
            char buffer[8192];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, n);
                if (arrivals) arrivals->append(Clock::now());
                if (enough && enough(got)) break;
            } else if (n == 0 || errno == EIO || (pfd.revents & (POLLHUP | POLLERR))) {
                hungUp_ = true; // the far end is gone: end of file or EIO, depending on the system
            }
        }
        return got;
    }

    QByteArray readBytes(qsizetype count, int limitMs = 10000,
                         QList<Clock::time_point>* arrivals = nullptr) {
        return read(limitMs, limitMs, arrivals,
                    [count](const QByteArray& got) { return got.size() >= count; });
    }

private:
    int fd_;
    bool hungUp_ = false;
};

QByteArray allByteValues() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}

SimConfig fastConfig() {
    SimConfig config;
    config.lineRate = false;
    return config;
}

} // namespace

class tst_SimDevice : public QObject {
    Q_OBJECT
private slots:
    void identification_data();
    void identification();
    void replies_data();
    void replies();
    void programBytesArriveUnaltered();
    void replyTiming_data();
    void replyTiming();
    void offDeviceIsSilentUntilSwitchedOn();
    void switchOffCutsTransferShort();
    void unplugHangsUpRawReader();
    void unplugReachesSerialPort();
    void recordsWhatAndWhenWhileCallerBlocks();
    void unreadOutputDoesNotStallDevice();
    void neverEndingStream_data();
    void neverEndingStream();
};

void tst_SimDevice::identification_data() {
    QTest::addColumn<SimPacing>("pacing");
    QTest::addColumn<int>("ignoredProbes");
    QTest::addColumn<bool>("lineRate");

    QTest::newRow("whole, fast") << SimPacing{} << 0 << false;
    QTest::newRow("whole, line rate") << SimPacing{} << 0 << true;
    QTest::newRow("7-byte pieces 40 ms apart") << SimPacing{7, 40} << 0 << false;
    QTest::newRow("after 3 ignored probes") << SimPacing{} << 3 << false;
    QTest::newRow("after 2 ignored probes, pieces, line rate") << SimPacing{10, 20} << 2 << true;
}

void tst_SimDevice::identification() {
    QFETCH(SimPacing, pacing);
    QFETCH(int, ignoredProbes);
    QFETCH(bool, lineRate);

    SimConfig config;
    config.idPacing = pacing;
    config.probesBeforeAnswer = ignoredProbes;
    config.lineRate = lineRate;
    SimDevice device(config);
    QVERIFY(device.plug());
    RawPort port(device.portName());
    QVERIFY(port.isOpen());

    for (int probe = 0; probe < ignoredProbes; ++probe) {
        QVERIFY(port.write("?"));
        QCOMPARE(port.read(150), QByteArray());
    }

    QVERIFY(port.write("?"));
    QList<Clock::time_point> arrivals;
    const QByteArray line = port.read(300, 5000, &arrivals);
    QCOMPARE(line, config.idLine);
    QCOMPARE(device.receivedBytes(), QByteArray(ignoredProbes + 1, '?'));

    if (pacing.chunkSize > 0 && pacing.gapMs > 0) {
        const auto pieces = (config.idLine.size() + pacing.chunkSize - 1) / pacing.chunkSize;
        const double gaps = (pieces - 1) * pacing.gapMs / 1000.0;
        QVERIFY2(arrivals.size() >= 3, "the pieces came together");
        QVERIFY(secondsBetween(arrivals.first(), arrivals.last()) >= 0.8 * gaps);
    }
}

void tst_SimDevice::replies_data() {
    QTest::addColumn<SimConfig>("config");
    QTest::addColumn<char>("command");
    QTest::addColumn<QByteArray>("expected");

    const SimConfig defaults = fastConfig();
    QTest::newRow("T") << defaults << 'T' << defaults.timerData;
    QTest::newRow("R") << defaults << 'R' << defaults.rpmData;
    QTest::newRow("C") << defaults << 'C' << defaults.chronoData;
    QTest::newRow("A: T, R and C in turn")
        << defaults << 'A' << defaults.timerData + defaults.rpmData + defaults.chronoData;

    SimConfig own = fastConfig();
    own.allData = QByteArray("1,2,3\r\n");
    QTest::newRow("A: its own text") << own << 'A' << QByteArray("1,2,3\r\n");

    // CR, LF, ^C, ^S, ^Q, DEL and the rest: a line discipline left cooked would change some.
    SimConfig binary = fastConfig();
    binary.timerData = allByteValues();
    binary.dataPacing = {16, 5};
    QTest::newRow("T: every byte value, in pieces") << binary << 'T' << allByteValues();

    SimConfig many = fastConfig();
    many.rpmData = SimConfig::GeneratedLines('R', 400);
    QTest::newRow("R: 400 generated lines") << many << 'R' << many.rpmData;
}

void tst_SimDevice::replies() {
    QFETCH(SimConfig, config);
    QFETCH(char, command);
    QFETCH(QByteArray, expected);

    SimDevice device(config);
    QVERIFY(device.plug());
    RawPort port(device.portName());
    QVERIFY(port.isOpen());

    QVERIFY(port.write("H"));
    QCOMPARE(port.read(250), config.header);
    QVERIFY(port.write(QByteArray(1, command)));
    QCOMPARE(port.read(250), expected);
}

void tst_SimDevice::programBytesArriveUnaltered() {
    SimDevice device(fastConfig());
    QVERIFY(device.plug());
    device.switchOff(); // only recording, no replies in the way
    RawPort port(device.portName());
    QVERIFY(port.isOpen());

    QVERIFY(port.write(allByteValues()));
    QTRY_COMPARE(device.receivedBytes(), allByteValues());
    QCOMPARE(port.read(150), QByteArray()); // nothing echoed
}

void tst_SimDevice::replyTiming_data() {
    QTest::addColumn<bool>("lineRate");
    QTest::addColumn<SimPacing>("pacing");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<double>("atLeast");
    QTest::addColumn<double>("atMost");

    // 1,920 bytes of data: one second at 19200 bit/s 8N1.
    QTest::newRow("line rate") << true << SimPacing{32, 0} << 0 << 0.9 << 2.5;
    QTest::newRow("line rate, in one piece") << true << SimPacing{} << 0 << 0.9 << 2.5;
    QTest::newRow("fast") << false << SimPacing{32, 0} << 0 << 0.0 << 0.2;
    QTest::newRow("fast, 16 pieces 40 ms apart") << false << SimPacing{120, 40} << 0 << 0.5 << 2.0;
    QTest::newRow("fast, 300 ms before the reply") << false << SimPacing{} << 300 << 0.28 << 1.5;
}

void tst_SimDevice::replyTiming() {
    QFETCH(bool, lineRate);
    QFETCH(SimPacing, pacing);
    QFETCH(int, delayMs);
    QFETCH(double, atLeast);
    QFETCH(double, atMost);

    SimConfig config;
    config.lineRate = lineRate;
    config.dataPacing = pacing;
    config.replyDelayMs = delayMs;
    config.chronoData = QByteArray(1920 / 30, 'x').repeated(30);
    SimDevice device(config);
    QVERIFY(device.plug());
    RawPort port(device.portName());
    QVERIFY(port.isOpen());

    const auto sent = Clock::now();
    QVERIFY(port.write("C"));
    QList<Clock::time_point> arrivals;
    QCOMPARE(port.readBytes(config.chronoData.size(), 6000, &arrivals), config.chronoData);
    const double took = secondsBetween(sent, arrivals.last());
    QVERIFY2(took >= atLeast && took <= atMost, QByteArray::number(took).constData());
}

void tst_SimDevice::offDeviceIsSilentUntilSwitchedOn() {
    SimConfig config = fastConfig();
    config.probesBeforeAnswer = 1;
    SimDevice device(config);
    QVERIFY(device.plug());
    RawPort port(device.portName());
    QVERIFY(port.isOpen());
    QSignalSpy commands(&device, &SimDevice::commandReceived);

    QVERIFY(port.write("?"));
    QCOMPARE(port.read(150), QByteArray()); // ignored probe
    QVERIFY(port.write("?"));
    QCOMPARE(port.read(250), config.idLine);

    device.switchOff();
    QVERIFY(!device.isOn());
    QVERIFY(port.write("?HTX"));
    QCOMPARE(port.read(400), QByteArray());
    QTRY_COMPARE(device.receivedBytes(), QByteArray("???HTX"));
    QCOMPARE(device.exitCount(), 0);
    QTRY_COMPARE(commands.size(), 2);

    // Switched on again the user has to start the link mode afresh: one probe goes unanswered.
    device.switchOn();
    QVERIFY(port.write("?"));
    QCOMPARE(port.read(150), QByteArray());
    QVERIFY(port.write("?"));
    QCOMPARE(port.read(250), config.idLine);
}

void tst_SimDevice::switchOffCutsTransferShort() {
    SimConfig config; // line rate: 4,000 bytes take about two seconds
    config.timerData = SimConfig::GeneratedLines('T', 100);
    SimDevice device(config);
    QVERIFY(device.plug());
    RawPort port(device.portName());
    QVERIFY(port.isOpen());

    QVERIFY(port.write("T"));
    QByteArray got = port.read(1000, 300);
    device.switchOff();
    got += port.read(500);
    QVERIFY(!got.isEmpty());
    QVERIFY2(got.size() < config.timerData.size() / 2, QByteArray::number(got.size()).constData());
    QVERIFY(config.timerData.startsWith(got));
}

void tst_SimDevice::unplugHangsUpRawReader() {
    SimDevice device(fastConfig());
    QSignalSpy plugged(&device, &SimDevice::plugged);
    QSignalSpy unplugged(&device, &SimDevice::unplugged);
    QVERIFY(device.plug());
    const QString firstName = device.portName();
    RawPort first(firstName);
    QVERIFY(first.isOpen());
    QVERIFY(first.write("?"));
    QCOMPARE(first.read(250), device.config().idLine);

    device.unplug();
    QVERIFY(!device.isPlugged());
    QVERIFY(device.portName().isEmpty());
    QCOMPARE(first.read(2000, 2000), QByteArray());
    QVERIFY(first.hungUp());
    QVERIFY(!first.write("?"));
    QTRY_COMPARE(unplugged.size(), 1);

    QVERIFY(device.plug());
    QVERIFY(!device.portName().isEmpty());
    RawPort second(device.portName());
    QVERIFY(second.isOpen());
    QVERIFY(second.write("?"));
    QCOMPARE(second.read(250), device.config().idLine);
    QTRY_COMPARE(plugged.size(), 2);
    QCOMPARE(plugged.at(0).at(0).toString(), firstName);
    QCOMPARE(plugged.at(1).at(0).toString(), device.portName());
}

// An unplug hangs the port's line up, as a pulled converter does: Qt reports that as an error
// in some releases and not at all in others, so the line itself is asked.
void tst_SimDevice::unplugReachesSerialPort() {
    SimDevice device(fastConfig());
    for (int round = 0; round < 2; ++round) {
        // The second round may well get the first round's name back.
        QVERIFY(device.plug());
        QSerialPort port(device.portName());
        port.setBaudRate(QSerialPort::Baud19200);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QVERIFY(!PortHungUp(port));

        // An answer waiting unread is no hang-up; with it still unread, the unplug is one.
        port.write("?");
        QVERIFY(port.waitForBytesWritten(1000));
        QThread::msleep(300);
        QVERIFY(!PortHungUp(port));
        device.unplug();
        QTRY_VERIFY(PortHungUp(port));
        port.close();
        QVERIFY(!PortHungUp(port));
    }
}

void tst_SimDevice::recordsWhatAndWhenWhileCallerBlocks() {
    SimDevice device(fastConfig());
    QVERIFY(device.plug());
    RawPort port(device.portName());
    QVERIFY(port.isOpen());
    QSignalSpy commands(&device, &SimDevice::commandReceived);

    const auto start = Clock::now();
    QVERIFY(port.write("?"));
    // Like the program's collection window: this thread lets nothing run meanwhile.
    QThread::msleep(300);
    // The answer came while we were not looking.
    QCOMPARE(port.read(0), device.config().idLine);
    QVERIFY(port.write("X"));
    QThread::msleep(100);
    QVERIFY(port.write("T"));
    QCOMPARE(port.read(250), device.config().timerData);
    const auto end = Clock::now();

    const QList<SimRxByte> rx = device.received();
    QCOMPARE(rx.size(), 3);
    QCOMPARE(rx[0].byte, '?');
    QCOMPARE(rx[1].byte, 'X');
    QCOMPARE(rx[2].byte, 'T');
    // Stamped on arrival, not when asked; the margins allow for a busy machine being late
    // with a stamp.
    QVERIFY(rx[0].at >= start && rx[0].at < start + 250ms);
    QVERIFY(rx[1].at - rx[0].at >= 200ms);
    QVERIFY(rx[2].at - rx[1].at >= 50ms);
    QVERIFY(rx[2].at <= end);
    QCOMPARE(device.exitCount(), 1);

    QTRY_COMPARE(commands.size(), 3);
    QCOMPARE(commands.at(0).at(0).value<char>(), '?');
    QCOMPARE(commands.at(1).at(0).value<char>(), 'X');
    QCOMPARE(commands.at(2).at(0).value<char>(), 'T');

    device.clearReceived();
    QVERIFY(device.received().isEmpty());
    QCOMPARE(device.exitCount(), 0);
}

void tst_SimDevice::unreadOutputDoesNotStallDevice() {
    SimDevice device(fastConfig());
    QVERIFY(device.plug());
    RawPort port(device.portName());
    QVERIFY(port.isOpen());

    QByteArray bulk = SimConfig::GeneratedLines('A', 200);
    bulk.truncate(20 * 1024);
    QCOMPARE(bulk.size(), 20 * 1024);
    const auto before = Clock::now();
    device.send(bulk);
    QVERIFY(Clock::now() - before < 1s);
    QVERIFY(device.pendingOutput() > 0); // more than the pseudo-terminal holds

    // Still listening with the queue full.
    QVERIFY(port.write("X"));
    QTRY_COMPARE(device.exitCount(), 1);

    QCOMPARE(port.readBytes(bulk.size(), 5000), bulk);
    QCOMPARE(port.read(100), QByteArray());
    QCOMPARE(device.pendingOutput(), 0);
}

void tst_SimDevice::neverEndingStream_data() {
    QTest::addColumn<bool>("lineRate");
    QTest::addColumn<int>("readFirst");
    QTest::addColumn<int>("mostAfterStop");

    // Fast: the pseudo-terminal's buffer and the device's small backlog still arrive after
    // the stop. At line rate only what had already crossed the line.
    QTest::newRow("fast") << false << 200'000 << 64 * 1024;
    QTest::newRow("line rate") << true << 600 << 200;
}

void tst_SimDevice::neverEndingStream() {
    QFETCH(bool, lineRate);
    QFETCH(int, readFirst);
    QFETCH(int, mostAfterStop);

    SimConfig config;
    config.lineRate = lineRate;
    SimDevice device(config);
    QVERIFY(device.plug());
    RawPort port(device.portName());
    QVERIFY(port.isOpen());

    const QByteArray pattern = "0123456789,\r\n";
    device.startStream(pattern);
    QByteArray got = port.readBytes(readFirst, 10000);
    QVERIFY(got.size() >= readFirst);
    device.stopStream();
    const QByteArray tail = port.read(300);
    QVERIFY2(tail.size() <= mostAfterStop, QByteArray::number(tail.size()).constData());
    got += tail;

    // Pieces need not end with the pattern, but nothing is lost or repeated.
    QCOMPARE(got, pattern.repeated(got.size() / pattern.size() + 1).left(got.size()));
    QVERIFY(port.write("?"));
    QCOMPARE(port.read(250), device.config().idLine);
}

QTEST_GUILESS_MAIN(tst_SimDevice)
#include "tst_simdevice.moc"
