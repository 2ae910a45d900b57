// Link timing figures: how far past their limits the waits end, how regular the ID probes
// are, how long exchanges take, and what a connected link costs in CPU. Prints figures; it
// asserts nothing and is not part of the test suite.
//
//   bench_link [seconds-of-link-checks]   (default 30)

#include "LinkWindows.h"
#include "SimDevice.h"
#include "modMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Stats {
    double median, p90, max;
};

Stats Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))]; };
    return {at(0.5), at(0.9), v.back()};
}

void Print(const char* what, const Stats& s, const char* unit) {
    std::printf("  %-44s median %7.3f  p90 %7.3f  max %7.3f %s\n", what, s.median, s.p90, s.max, unit);
}

struct Quiet : LinkWindows {
    modMain* link = nullptr;
    int handOvers = 0;
    void ShowIdentity(const QString&) override {}
    void FinishSearch() override {
        ++handOvers;
        link->EndIdentification();
    }
    void AppendReceived(const QString&) override {}
    void LinkLost() override {}
};

void RunFor(double seconds) {
    QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, [] { QCoreApplication::exit(); });
    QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const double checkSeconds = argc > 1 ? std::atof(argv[1]) : 30.0;

    std::printf("Wait overshoot past the limit (ms), 30 runs each:\n");
    {
        modMain link;
        struct Case {
            const char* name;
            int slot;
            double limit;
            int runs;
        } cases[] = {{"0.1 s pause (slot 1)", 1, 0.1, 30},
                     {"0.2 s quiet gap (slot 10)", 10, 0.2, 30},
                     {"1.0 s \"Device Found\" pause (slot 10)", 10, 1.0, 10}};
        double worstMedian = 0;
        for (const Case& c : cases) {
            std::vector<double> over;
            for (int i = 0; i < c.runs; ++i) {
                QElapsedTimer clock;
                clock.start();
                link.Wait(c.slot, c.limit);
                over.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6 - c.limit * 1000.0);
            }
            Print(c.name, Summarise(over), "ms");
            worstMedian = std::max(worstMedian, Summarise(over).median);
        }
        std::printf("  target: median <= 5 ms past the limit: %s\n", worstMedian <= 5.0 ? "met" : "NOT MET");
    }

    SimDevice sim;
    QString error;
    if (!sim.plug(&error)) {
        std::fprintf(stderr, "cannot start the simulated device: %s\n", qPrintable(error));
        return 1;
    }

    std::printf("\nExchanges against the simulated device (s):\n");
    {
        modMain link;
        link.PortList = {sim.portName()};
        link.OpenFirstPort();
        // Inside an exchange slot 1 starts twice: for the pause after the command and for the
        // collection; the exchange's end is signalled. So each wait is timed where it runs.
        std::vector<QElapsedTimer> starts;
        QElapsedTimer finished;
        QObject::connect(&link.Timers(), &Stopwatch::slotStarted, [&](int slot) {
            if (slot != 1) return;
            starts.emplace_back();
            starts.back().start();
        });
        QObject::connect(&link, &modMain::exchangeFinished, [&] { finished.start(); });
        const auto exchange = [&](std::vector<double>& whole, std::vector<double>& pause,
                                  std::vector<double>& collection) {
            starts.clear();
            QElapsedTimer clock;
            clock.start();
            link.SendAndReceive(QStringLiteral("?"), 0.1f);
            whole.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
            if (starts.size() != 2) return;
            pause.push_back(static_cast<double>(starts[0].nsecsElapsed() - starts[1].nsecsElapsed()) / 1e6 - 100.0);
            collection.push_back(static_cast<double>(starts[1].nsecsElapsed() - finished.nsecsElapsed()) / 1e6 - 100.0);
        };
        std::vector<double> answered, silent, pauseOver, collectOver, collectAnswered, unused;
        for (int i = 0; i < 20; ++i) exchange(answered, unused, collectAnswered);
        sim.switchOff();
        for (int i = 0; i < 20; ++i) exchange(silent, pauseOver, collectOver);
        sim.switchOn();
        Print("SendAndReceive, answered (floor 0.2)", Summarise(answered), "s");
        Print("SendAndReceive, no answer (floor 0.2)", Summarise(silent), "s");
        std::printf("  past the limit, device silent (ms):\n");
        Print("0.1 s pause after the command", Summarise(pauseOver), "ms");
        Print("0.1 s collection window", Summarise(collectOver), "ms");
        Print("(0.1 s collection window, device answering)", Summarise(collectAnswered), "ms");
        const double worst = std::max(Summarise(pauseOver).median, Summarise(collectOver).median);
        std::printf("  target: every wait's median <= 5 ms past its limit: %s (worst median here %.3f ms)\n",
                    worst <= 5.0 ? "met" : "NOT MET", worst);
    }

    std::printf("\nID probe intervals (ms), device answering after 40 probes:\n");
    {
        SimConfig config = sim.config();
        config.probesBeforeAnswer = 40;
        sim.setConfig(config);
        sim.switchOff();
        sim.switchOn();
        sim.clearReceived();
        modMain link;
        Quiet windows;
        windows.link = &link;
        link.SetWindows(&windows);
        link.PortList = {sim.portName()};
        link.OpenFirstPort();
        link.PortSearching = true;
        link.timID_Timer();
        QElapsedTimer clock;
        clock.start();
        while (windows.handOvers == 0 && clock.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        const QList<SimRxByte> probes = sim.received();
        std::vector<double> gaps;
        for (qsizetype i = 1; i < probes.size(); ++i) {
            gaps.push_back(std::chrono::duration<double, std::milli>(probes[i].at - probes[i - 1].at).count());
        }
        if (!gaps.empty()) Print("between probes (interval 100)", Summarise(gaps), "ms");
        std::printf("  probes sent: %lld, identified: %s\n", static_cast<long long>(probes.size()),
                    windows.handOvers ? "yes" : "no");
        config.probesBeforeAnswer = 0;
        sim.setConfig(config);
    }

    std::printf("\nConnected, link checks every 2 s for %.0f s:\n", checkSeconds);
    {
        modMain link;
        link.PortList = {sim.portName()};
        link.OpenFirstPort();
        link.PortStreaming = true;
        sim.clearReceived();
        const double cpuBefore = CpuSeconds();
        link.timComm.start();
        RunFor(checkSeconds);
        const double cpu = CpuSeconds() - cpuBefore;
        std::printf("  probes answered: %lld\n", static_cast<long long>(sim.receivedBytes().count('?')));
        std::printf("  CPU %.3f s in %.0f s = %.3f %% of one core (target <= 0.5 %%)\n", cpu,
                    checkSeconds, 100.0 * cpu / checkSeconds);
    }

    std::printf("\nReference: the same 0.1 s waits done by polling the event loop:\n");
    {
        modMain link;
        const double cpuBefore = CpuSeconds();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 10; ++i) {
            link.StartTimer(1);
            while (link.TimeElapsed(1) <= 0.1) QCoreApplication::processEvents();
        }
        const double pollCpu = CpuSeconds() - cpuBefore;
        const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        const double ourBefore = CpuSeconds();
        for (int i = 0; i < 10; ++i) link.Wait(1, 0.1);
        const double ourCpu = CpuSeconds() - ourBefore;
        std::printf("  polling: CPU %.3f s in %.2f s (%.0f %% of a core); ours: CPU %.4f s (%.2f %%)\n",
                    pollCpu, wall, 100.0 * pollCpu / wall, ourCpu, 100.0 * ourCpu / wall);
    }
    return 0;
}
