// What the program costs while it waits: the real search and retrieval windows, offscreen,
// against the simulated device, in the three waiting states: watching for the port (no
// device), identifying (the port is open, the device does not answer yet) and connected (link
// checks every 2 s, answered). Prints the CPU share of one core for each, with the simulator's
// own thread apart (it runs in this process), and, as the reference, the same state waited
// out by polling the event loop in a loop. Asserts nothing.
//
//   bench_idle [seconds-per-state]   (default 30; the polling reference runs at most 3 s)

#include "BenchSupport.h"
#include "Dialogs.h"
#include "SimDevice.h"
#include "modMain.h"
#include "retrieve/frmMain.h"
#include "search/frmFind.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace bench;

namespace {

class NoDialogs : public Dialogs {
public:
    void Message(QWidget*, const QString& text, Icon) override {
        std::printf("  message: %s\n", qPrintable(text));
    }
    Answer SaveOrDiscard(QWidget*, const QString&) override { return Answer::Discard; }
    QString SaveFileName(QWidget*, const SaveRequest&) override { return {}; }
};

class SimPorts : public PortSource {
public:
    explicit SimPorts(SimDevice& sim) : sim_(sim) {}
    QStringList Candidates() override {
        return sim_.portName().isEmpty() ? QStringList() : QStringList{sim_.portName()};
    }

private:
    SimDevice& sim_;
};

bool WaitFor(const std::function<bool()>& condition, int msecs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > msecs) return false;
        QTest::qWait(20);
    }
    return true;
}

struct Cpu {
    double process = 0, ui = 0, sim = 0, wall = 0;
};

// CPU used while `wait` runs.
Cpu Measure(pid_t simThread, const std::function<void()>& wait) {
    const double process = ProcessCpu(), ui = ThreadCpu(), sim = OtherThreadCpu(simThread);
    const auto start = Clock::now();
    wait();
    return {ProcessCpu() - process, ThreadCpu() - ui, OtherThreadCpu(simThread) - sim,
            Seconds(Clock::now() - start)};
}

double Percent(double cpu, double wall) {
    return 100.0 * cpu / wall;
}

void State(const char* name, double seconds, pid_t simThread) {
    const Cpu ours = Measure(simThread, [seconds] {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
    });
    const double referenceSeconds = std::min(seconds, 3.0);
    const Cpu polling = Measure(simThread, [referenceSeconds] {
        QElapsedTimer clock;
        clock.start();
        while (clock.nsecsElapsed() < static_cast<qint64>(referenceSeconds * 1e9))
            QCoreApplication::processEvents();
    });
    const double program = Percent(ours.process - ours.sim, ours.wall);
    std::printf("%s, %.0f s:\n", name, ours.wall);
    std::printf("  process %.3f %% of one core = program %.3f %% + simulator thread %.3f %%  "
                "(UI thread %.3f %%)   target <= 0.5 %%: %s\n",
                Percent(ours.process, ours.wall), program, Percent(ours.sim, ours.wall),
                Percent(ours.ui, ours.wall), Verdict(Percent(ours.process, ours.wall) <= 0.5));
    std::printf("  reference, the same state polled for %.0f s: process %.1f %% of one core, "
                "%.0f times ours\n",
                polling.wall, Percent(polling.process, polling.wall),
                Percent(polling.process, polling.wall) / std::max(1e-9, Percent(ours.process, ours.wall)));
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    QTemporaryDir temporary;
    qputenv("XDG_CONFIG_HOME", (temporary.path() + QStringLiteral("/config")).toUtf8());

    SimConfig config;
    config.probesBeforeAnswer = 1 << 30; // silent until told otherwise
    SimDevice sim(config);

    modMain link;
    NoDialogs dialogs;
    frmFind find(link, dialogs);
    find.SetPortSource(std::make_unique<SimPorts>(sim));
    if (!find.Load(nullptr)) return 1;
    QTest::qWait(500);
    // Named by the thread itself once it runs.
    const pid_t simThread = FindThread("rzt-sim device");
    if (simThread < 0) std::printf("(the simulator's thread was not found: its share reads 0)\n");

    State("Watching for the port (no device plugged in)", seconds, simThread);

    QString error;
    if (!sim.plug(&error)) {
        std::fprintf(stderr, "cannot start the simulated device: %s\n", qPrintable(error));
        return 1;
    }
    if (!WaitFor([&] { return !find.lblPort->text().isEmpty(); }, 5000)) {
        std::fprintf(stderr, "the search did not find the port\n");
        return 1;
    }
    QTest::qWait(300);
    sim.clearReceived();
    State("Identifying (port open, device silent)", seconds, simThread);
    std::printf("  \"?\" probes sent meanwhile: %lld\n",
                static_cast<long long>(sim.receivedBytes().count('?')));

    config.probesBeforeAnswer = 0;
    sim.setConfig(config);
    if (!WaitFor([&] {
            return find.RetrievalWindow() && find.RetrievalWindow()->isVisible() &&
                   find.RetrievalWindow()->lblStatus->text() == frmMain::StatusReady;
        }, 10000)) {
        std::fprintf(stderr, "the device was not handed over to the retrieval window\n");
        return 1;
    }
    QTest::qWait(300);
    sim.clearReceived();
    State("Connected (retrieval window, link checks answered)", seconds, simThread);
    std::printf("  link checks answered meanwhile: %lld\n",
                static_cast<long long>(sim.receivedBytes().count('?')));

    link.EndProgram();
    return 0;
}
