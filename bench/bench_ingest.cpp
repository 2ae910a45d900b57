// A large download at full speed through the real receive path: the simulated device sends
// "All Data" as fast as the pseudo-terminal takes it, the link's receive handler hands every
// chunk to the retrieval window, the window rewrites the line ends and saves the file. Prints
// the rate, whether the text box holds exactly what was sent, the worst stall of the event
// loop in each step, and the peak memory; then, in the same run, the rate of a plain reader
// draining the same burst from the same port, and the same burst through the real binary as a
// script runs it, `rzt --download all --output -`, with no display. Asserts nothing.
//
//   bench_ingest [--mib=N] [--shots=FOLDER] [--label=TEXT] [--linger=SECONDS] [--no-reference]
//     --mib: the size of the burst (default 20); a plain number, the shortening argument that
//            ./scripts/bench gives every benchmark, changes nothing here
//     --shots: pictures of the window halfway through the download and after it, with a
//              selection (they cost time: the figures of such a run are not the ones to quote)
//     --label: printed first, and with the summary line at the end
//     --linger: keeps the window's events running this long after the save, stalls measured
//               (time for a screen reader to read the downloaded text)
//     --no-reference: leaves out the plain readers of the same burst

#include "BenchSupport.h"
#include "Dialogs.h"
#include "LinkWindows.h"
#include "RichTextBox.h"
#include "SimDevice.h"
#include "TextView.h"
#include "clsReg.h"
#include "modMain.h"
#include "retrieve/RetrieveText.h"
#include "retrieve/frmMain.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QScrollBar>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace bench;

namespace {

constexpr double LineRate = 1920.0; // bytes a second at 19200 bit/s, 8N1

class ScriptedDialogs : public Dialogs {
public:
    QString answer;
    void Message(QWidget*, const QString& text, Icon) override {
        std::printf("  message: %s\n", qPrintable(text));
    }
    Answer SaveOrDiscard(QWidget*, const QString&) override { return Answer::Discard; }
    QString SaveFileName(QWidget*, const SaveRequest&) override { return answer; }
};

// Readings as the device sends them: whole CR LF lines of all three kinds, `bytes` and the
// rest of the line it ends in.
QByteArray DeviceLines(qsizetype bytes) {
    const QByteArray block = SimConfig::GeneratedLines('A', 3000);
    QByteArray text;
    text.reserve(bytes + block.size());
    while (text.size() < bytes)
        text += block;
    text.truncate(text.indexOf("\r\n", bytes - 2) + 2);
    return text;
}

// Routes streamed text to the window as the search window does, and checks on the way that
// every chunk lands in the text box's buffer as the very bytes that were sent.
struct Router : LinkWindows {
    frmMain* main = nullptr;
    QByteArray expected; // everything the box should hold: the header, then the data
    qsizetype chunks = 0;
    bool exact = true;
    Clock::time_point first{}, last{};
    double uiCpuFirst = 0, uiCpuLast = 0;
    QString shots; // folder for pictures; empty: none

    void ShowIdentity(const QString&) override {}
    void FinishSearch() override {}
    void LinkLost() override {}
    void AppendReceived(const QString& text) override {
        const auto now = Clock::now();
        if (chunks == 0) {
            first = now;
            uiCpuFirst = ThreadCpu();
            // What the download put there before the data: the reply to "H".
            const QString& before = main->txt->Text();
            exact = exact && before.size() <= expected.size() &&
                    QStringView(before) == QLatin1StringView(expected.left(before.size()));
        }
        ++chunks;
        const qsizetype from = main->txt->Text().size();
        main->AppendReceived(text);
        const QString& buffer = main->txt->Text();
        const qsizetype added = buffer.size() - from;
        exact = exact && added == text.size() && buffer.size() <= expected.size() &&
                QStringView(buffer).mid(from) ==
                    QLatin1StringView(expected.constData() + from, added);
        last = Clock::now();
        uiCpuLast = ThreadCpu();
        if (!shots.isEmpty() && from < expected.size() / 2 && buffer.size() >= expected.size() / 2) {
            main->txt->FlushRender();
            main->grab().save(shots + QStringLiteral("/ingest-halfway.png"));
        }
    }
};

// A 10 ms single-shot timer, armed again each time it fires: how late each firing is, and when
// it was due.
class Heartbeat : public QObject {
public:
    struct Beat {
        Clock::time_point due;
        double lateMs;
    };
    std::vector<Beat> beats;

    Heartbeat() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const auto now = Clock::now();
            beats.push_back({due_, std::chrono::duration<double, std::milli>(now - due_).count()});
            Arm();
        });
    }
    void Start() { Arm(); }
    void Stop() { timer_.stop(); }
    // The worst lateness of the beats due in [from, to).
    Stats Within(Clock::time_point from, Clock::time_point to) const {
        std::vector<double> late;
        for (const Beat& beat : beats)
            if (beat.due >= from && beat.due < to) late.push_back(beat.lateMs);
        return Summarise(late);
    }

private:
    void Arm() {
        due_ = Clock::now() + std::chrono::milliseconds(10);
        timer_.start(10);
    }
    QTimer timer_;
    Clock::time_point due_{};
};

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void RunEvents(int msecs) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < msecs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// The reference: the bytes drained from the port by read(2) alone, as fast as they come.
double PosixReader(SimDevice& sim, const QByteArray& data, bool* exact) {
    const int fd = ::open(sim.portName().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    QByteArray got;
    got.reserve(data.size());
    std::vector<char> buffer(65536);
    const auto start = Clock::now();
    sim.send(data);
    while (got.size() < data.size()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) break;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) got.append(buffer.data(), n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    const double seconds = Seconds(Clock::now() - start);
    ::close(fd);
    *exact = got == data;
    return static_cast<double>(got.size()) / seconds / 1e6;
}

// The reference through Qt's serial port: readyRead, readAll, append.
double QtReader(SimDevice& sim, const QByteArray& data, bool* exact) {
    QSerialPort port(sim.portName());
    if (!port.open(QIODevice::ReadWrite)) return -1;
    QByteArray got;
    got.reserve(data.size());
    QObject::connect(&port, &QSerialPort::readyRead, [&] { got += port.readAll(); });
    const auto start = Clock::now();
    sim.send(data);
    QElapsedTimer guard;
    guard.start();
    while (got.size() < data.size() && guard.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double seconds = Seconds(Clock::now() - start);
    *exact = got == data;
    return static_cast<double>(got.size()) / seconds / 1e6;
}

void PrintStall(const char* step, const Stats& s, bool counts = true) {
    std::printf("  %-40s worst %7.1f ms  median %5.2f ms  (%zu beats)%s\n", step, s.max, s.median,
                s.count, counts ? (s.max <= 100.0 ? "" : "   <-- over 100 ms") : "");
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    double mib = 20.0;
    double linger = 0;
    bool reference = true;
    QString shots;
    QByteArray label;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith("--mib=")) mib = arg.mid(6).toDouble();
        if (arg.startsWith("--shots=")) shots = QString::fromLocal8Bit(arg.mid(8));
        if (arg.startsWith("--label=")) label = arg.mid(8);
        if (arg.startsWith("--linger=")) linger = arg.mid(9).toDouble();
        if (arg == "--no-reference") reference = false;
    }
    QTemporaryDir temporary;
    qputenv("XDG_CONFIG_HOME", (temporary.path() + QStringLiteral("/config")).toUtf8());

    const QByteArray data = DeviceLines(static_cast<qsizetype>(mib * 1024 * 1024));
    SimConfig config;
    config.lineRate = false;
    config.allData = data;
    SimDevice sim(config);
    QString error;
    if (!sim.plug(&error)) {
        std::fprintf(stderr, "cannot start the simulated device: %s\n", qPrintable(error));
        return 1;
    }

    modMain link;
    link.Reg = std::make_unique<clsReg>();
    ScriptedDialogs dialogs;
    frmMain window(link, dialogs);
    Router router;
    router.main = &window;
    router.shots = shots;
    router.expected = config.header + data;
    link.SetWindows(&router);
    link.PortList = {sim.portName()};
    link.OpenFirstPort();
    if (link.PortNum != sim.portName()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(sim.portName()));
        return 1;
    }
    link.PortSearching = false;
    link.PortId = QStringLiteral("RZT-3000 SN 004211  Version 2.05");
    window.show();
    window.FillForm();
    (void)QTest::qWaitForWindowExposed(&window);
    RunEvents(200);

    const double rssBefore = CurrentRssMb();
    const pid_t simThread = FindThread("rzt-sim device");
    const double simCpuBefore = OtherThreadCpu(simThread);
    const double cpuBefore = ProcessCpu();
    if (!label.isEmpty()) std::printf("== %s\n", label.constData());
    std::printf("%.1f MiB of readings (%lld lines), sent with no line-rate pacing\n",
                static_cast<double>(data.size()) / (1024.0 * 1024.0),
                static_cast<long long>(data.count('\n')));
    std::printf("  resident before the download: %.0f MB (the simulator holds a copy of the data)\n\n",
                rssBefore);

    Heartbeat heartbeat;
    heartbeat.Start();
    sim.clearReceived();
    const auto clickAt = Clock::now();
    window.cmd_Click(3); // All Data: returns once the device has been quiet for the quiet gap
    const auto doneAt = Clock::now();
    const QString status = window.lblStatus->text();
    RunEvents(400); // the display catches up with the rewritten text
    const auto shownAt = Clock::now();

    if (!shots.isEmpty()) {
        TextView* view = window.txt->PlainView();
        view->verticalScrollBar()->setValue(view->Lines().LineCount() / 2);
        const qsizetype start = view->Lines().LineStart(view->TopLine() + 2) + 7;
        view->SetSelection(start, view->Lines().LineStart(view->TopLine() + 4) + 12);
        window.grab().save(shots + QStringLiteral("/ingest-done.png"));
    }
    Clock::time_point letterAt = clickAt;
    for (const SimRxByte& rx : sim.received())
        if (rx.byte == 'A') letterAt = rx.at;

    dialogs.answer = temporary.filePath(QStringLiteral("ingest.csv"));
    const auto saveAt = Clock::now();
    window.cmd_Click(5);
    const auto savedAt = Clock::now();
    const QString saveStatus = window.lblStatus->text();
    RunEvents(100 + static_cast<int>(linger * 1000));
    const auto lingered = Clock::now();
    heartbeat.Stop();
    const double cpu = ProcessCpu() - cpuBefore;
    const double simCpu = OtherThreadCpu(simThread) - simCpuBefore;
    const double peak = PeakRssMb();

    const double bytes = static_cast<double>(data.size());
    const double receiving = Seconds(router.last - letterAt);
    const double rate = bytes / receiving / 1e6;
    std::printf("Through the retrieval window (\"%s\", then \"%s\"):\n", qPrintable(status),
                qPrintable(saveStatus));
    std::printf("  receiving: %lld chunks, %.0f bytes each on average\n",
                static_cast<long long>(router.chunks), bytes / static_cast<double>(router.chunks));
    std::printf("  letter sent to last chunk shown  %7.3f s = %6.1f MB/s = %.0f x line rate  (target >= 10 MB/s: %s)\n",
                receiving, rate, rate * 1e6 / LineRate, Verdict(rate >= 10.0));
    std::printf("  receive handler on the UI thread: %.1f us a chunk\n",
                (router.uiCpuLast - router.uiCpuFirst) * 1e6 / static_cast<double>(router.chunks));
    std::printf("  quiet gap, line ends and status     %7.3f s (the 0.2 s gap is part of the protocol)\n",
                Seconds(doneAt - router.last));
    std::printf("  whole All Data command              %7.3f s; save command %.3f s\n",
                Seconds(doneAt - clickAt), Seconds(savedAt - saveAt));
    std::printf("  CPU %.2f s in all, of which the simulator's thread %.2f s\n", cpu, simCpu);

    // Byte-exactness: the box's buffer, chunk by chunk; the rewritten text; the saved file.
    const QString converted = ConvertLineEnds(QString::fromLatin1(router.expected));
    const bool textExact = window.txt->Text() == converted;
    const bool fileExact = FileBytes(dialogs.answer) == router.expected;
    std::printf("  text box buffer == bytes sent, every chunk: %s; after the line-end rewrite: %s; "
                "saved file == bytes sent: %s\n",
                router.exact ? "yes" : "NO", textExact ? "yes" : "NO", fileExact ? "yes" : "NO");

    std::printf("\nEvent loop stalls (lateness of a 10 ms heartbeat), by step:\n");
    PrintStall("header exchange (\"H\", 0.1 s collection)", heartbeat.Within(clickAt, letterAt), false);
    const Stats receive = heartbeat.Within(letterAt, router.last);
    const auto gapEnd = router.last + std::chrono::milliseconds(200);
    const Stats gap = heartbeat.Within(router.last, gapEnd);
    const Stats convert = heartbeat.Within(gapEnd, shownAt);
    const Stats save = heartbeat.Within(saveAt, savedAt + std::chrono::milliseconds(50));
    PrintStall("receiving", receive);
    PrintStall("quiet gap", gap);
    PrintStall("line-end rewrite and its display", convert);
    PrintStall("saving", save);
    const double worst = std::max({receive.max, gap.max, convert.max, save.max});
    std::printf("  worst while receiving, rewriting and saving: %.1f ms (target <= 100 ms: %s)\n",
                worst, Verdict(worst <= 100.0));
    const Stats after = heartbeat.Within(savedAt + std::chrono::milliseconds(50), lingered);
    if (linger > 0) PrintStall("after the save (a reader may read it all)", after, false);
    std::printf("  (the header exchange's collection window lets no events run by design; it is "
                "shown apart)\n");
    std::printf("  stalls over 30 ms, due at (s from the letter):");
    for (const Heartbeat::Beat& beat : heartbeat.beats)
        if (beat.lateMs > 30.0)
            std::printf(" %.3f (%.0f ms)", Seconds(beat.due - letterAt), beat.lateMs);
    std::printf("\n  last chunk at %.3f s, All Data returned at %.3f s, save from %.3f s to %.3f s\n",
                Seconds(router.last - letterAt), Seconds(doneAt - letterAt),
                Seconds(saveAt - letterAt), Seconds(savedAt - letterAt));

    std::printf("\nMemory: peak resident %.0f MB (target <= 200 MB: %s); %.0f MB before the download\n",
                peak, Verdict(peak <= 200.0), rssBefore);

    std::printf("\nsummary%s%s: accessibility %s; \"%s\" %.3f s after the click; worst stall "
                "%.1f ms (receiving %.1f, rewrite %.1f, saving %.1f%s)\n",
                label.isEmpty() ? "" : " - ", label.constData(),
                QAccessible::isActive() ? "active" : "not active", qPrintable(status),
                Seconds(doneAt - clickAt), worst, receive.max,
                convert.max, save.max,
                linger > 0 ? qPrintable(QStringLiteral(", after it %1").arg(after.max, 0, 'f', 1)) : "");
    if (!reference) return 0;

    // The reference, same port, same burst.
    link.SetWindows(nullptr);
    link.timComm.stop();
    link.Comm.close();
    bool posixExact = false, qtExact = false;
    const double posix = PosixReader(sim, data, &posixExact);
    const double qt = QtReader(sim, data, &qtExact);
    std::printf("\nReference, the same %.1f MiB from the same port:\n",
                bytes / (1024.0 * 1024.0));
    std::printf("  read(2) loop            %7.1f MB/s  exact: %s\n", posix, posixExact ? "yes" : "NO");
    std::printf("  QSerialPort readAll     %7.1f MB/s  exact: %s\n", qt, qtExact ? "yes" : "NO");
    std::printf("  retrieval window        %7.1f MB/s  = %.2f of the read(2) loop, %.2f of QSerialPort\n",
                rate, rate / posix, rate / qt);

    // The same burst through the command line: the real binary, no display, the file on its
    // standard output. It finds the device first (a probe and the hand-over's 1 s pause), so
    // the time is taken from the request letter on, as for the window.
    QProcess rzt;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    rzt.setProcessEnvironment(env);
    sim.clearReceived();
    rzt.start(QStringLiteral(RZT_BINARY),
              {QStringLiteral("--download"), QStringLiteral("all"), QStringLiteral("--output"),
               QStringLiteral("-"), QStringLiteral("--port"), sim.portName()});
    const bool ended = rzt.waitForStarted(10000) && rzt.waitForFinished(600000);
    const auto exitAt = Clock::now();
    const QByteArray piped = rzt.readAllStandardOutput();
    const QList<QByteArray> said = rzt.readAllStandardError().trimmed().split('\n');
    Clock::time_point cliLetterAt = exitAt;
    for (const SimRxByte& rx : sim.received())
        if (rx.byte == 'A') cliLetterAt = rx.at;
    const double windowSeconds = Seconds(savedAt - letterAt);
    const double cliSeconds = Seconds(exitAt - cliLetterAt);
    const double lineSeconds = bytes / LineRate;
    std::printf("\nThrough rzt --download all --output - (exit status %d%s):\n", rzt.exitCode(),
                ended ? "" : ", did not end");
    for (const QByteArray& line : said)
        if (line.contains("Data Received")) std::printf("  its own summary: %s\n", line.constData());
    std::printf("  letter sent to the program's exit   %7.3f s = %6.1f MB/s = %.0f x line rate "
                "(line rate alone: %.0f s = %.1f h)\n",
                cliSeconds, bytes / cliSeconds / 1e6, lineSeconds / cliSeconds, lineSeconds,
                lineSeconds / 3600.0);
    std::printf("  the window, letter sent to file saved %5.3f s: the command line takes %.2f x "
                "the window's time\n",
                windowSeconds, cliSeconds / windowSeconds);
    std::printf("  standard output == the window's saved file: %s (%lld bytes)\n",
                piped == FileBytes(dialogs.answer) ? "yes" : "NO", static_cast<long long>(piped.size()));
    return 0;
}
