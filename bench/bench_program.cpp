// What the real program costs while it waits, measured from outside as a user runs it: the
// rzt binary started with no options on an X server of its own (Xvfb, the xcb platform), its
// CPU time read from /proc/<pid>/stat. States: watching with the machine's own serial devices;
// watching inside a mocked udev with none and with 200 tty devices; identifying an FTDI
// converter whose device stays silent; connected with link checks answered; back to watching
// after the link was lost. Also the CPU time in the 3 s after a pulled cable, and the time from
// start to the search window being mapped. The converter is a mocked udev device whose node
// leads to the simulated device's pseudo-terminal.
//
// With a second binary (the program as it was before a change) both are run in turn, and the
// table gives before, after and their ratio. Asserts nothing.
//
//   bench_program [seconds-per-state] [before-binary]   (default 30; RZT_BENCH_BEFORE also
//                                                         names the before-binary)

#include "UdevBed.h"
#include "SimDevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

void Wait(int msecs) {
    QEventLoop loop;
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WaitFor(const std::function<bool()>& condition, int msecs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > msecs) return false;
        Wait(20);
    }
    return true;
}

// Seconds of CPU (user + system, every thread) the process has used.
double CpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return -1;
    const QByteArray line = stat.readAll();
    // The command name may hold blanks; the fields after it are fixed.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble(); // utime, stime
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The same to the nanosecond, from the scheduler's account of each thread still running
// (/proc/<pid>/stat counts in 10 ms steps): for short spans.
double CpuSecondsFine(qint64 pid) {
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double total = 0;
    bool any = false;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task) + QStringLiteral("/schedstat"));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
        any = true;
    }
    return any ? total : CpuSeconds(pid);
}

QByteArray LoadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray("?");
}

// Top-level windows being mapped on the X server, with their titles.
class MapWatch {
public:
    explicit MapWatch(const QByteArray& display) {
        connection_ = xcb_connect(display.constData(), nullptr);
        if (xcb_connection_has_error(connection_)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        ok_ = true;
    }
    ~MapWatch() { xcb_disconnect(connection_); }
    bool Ok() const { return ok_; }

    // Waits for a window whose title contains `title` to be mapped; the time it took in
    // seconds, or -1. The event loop runs meanwhile (the relay to the device works in it).
    double WaitMapped(const QByteArray& title, int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        QSocketNotifier readable(xcb_get_file_descriptor(connection_), QSocketNotifier::Read);
        while (clock.elapsed() < timeoutMs) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                const xcb_window_t window =
                    mapped ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
                free(event);
                if (!mapped) continue;
                const QByteArray seen = Title(window);
                if (qEnvironmentVariableIsSet("RZT_BENCH_VERBOSE"))
                    std::printf("  [mapped after %.3f s: \"%s\"]\n", clock.nsecsElapsed() / 1e9,
                                seen.constData());
                if (seen.contains(title)) return clock.nsecsElapsed() / 1e9;
            }
            QEventLoop loop;
            QObject::connect(&readable, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
            QTimer::singleShot(static_cast<int>(std::max<qint64>(1, timeoutMs - clock.elapsed())),
                               &loop, &QEventLoop::quit);
            loop.exec();
        }
        return -1;
    }

private:
    QByteArray Title(xcb_window_t window) {
        const xcb_get_property_cookie_t cookie = xcb_get_property(
            connection_, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
        if (!reply) return {};
        const QByteArray title(static_cast<const char*>(xcb_get_property_value(reply)),
                               xcb_get_property_value_length(reply));
        free(reply);
        return title;
    }

    xcb_connection_t* connection_ = nullptr;
    bool ok_ = false;
};

struct Row {
    QString state;
    double percent = -1;
};

class Run {
public:
    // One X connection serves every state: the umockdev preload gets in the way of making new
    // ones once a mocked udev exists.
    Run(QString binary, QByteArray display, MapWatch& maps, double seconds)
        : binary_(std::move(binary)), display_(std::move(display)), maps_(maps), seconds_(seconds) {}

    std::vector<Row> rows;
    std::vector<double> startups;
    double pullMs = -1; // CPU in the 3 s after a pulled cable, worst of three pulls

    void All() {
        StartUps();
        Watching();
        WatchingMocked(0);
        WatchingMocked(200);
        Device();
    }

private:
    QProcessEnvironment BaseEnvironment() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("UMOCKDEV_DIR"));
        env.remove(QStringLiteral("LD_PRELOAD"));
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display_));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // A home of its own: no settings, lock or runtime files shared with anything else.
        env.insert(QStringLiteral("HOME"), home_.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.path());
        env.insert(QStringLiteral("TMPDIR"), home_.path());
        return env;
    }

    // Starts the program and waits for its search window; the seconds that took, or -1.
    double Start(QProcess& program, const QProcessEnvironment& env, MapWatch& maps) {
        program.setProcessEnvironment(env);
        program.setProgram(binary_);
        program.setProcessChannelMode(QProcessEnvironment::systemEnvironment().contains(
                                          QStringLiteral("RZT_BENCH_VERBOSE"))
                                          ? QProcess::ForwardedChannels
                                          : QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        program.start();
        if (!program.waitForStarted(5000)) return -1;
        const double mapped = maps.WaitMapped("Device Search", 10000);
        return mapped < 0 ? -1 : clock.nsecsElapsed() / 1e9;
    }

    static void Stop(QProcess& program) {
        program.terminate();
        if (!program.waitForFinished(5000)) program.kill();
        program.waitForFinished(2000);
    }

    void Measure(const QString& state, QProcess& program) {
        Wait(2000); // start-up work and the first ticks are done
        const double before = CpuSeconds(program.processId());
        QElapsedTimer clock;
        clock.start();
        Wait(static_cast<int>(seconds_ * 1000));
        const double used = CpuSeconds(program.processId()) - before;
        const double percent = before < 0 || program.state() != QProcess::Running
                                   ? -1
                                   : 100.0 * used / (clock.nsecsElapsed() / 1e9);
        std::printf("  %-44s %7.3f %% of one core   (load %s)\n", qPrintable(state), percent,
                    LoadAverage().constData());
        std::fflush(stdout);
        rows.push_back({state, percent});
    }

    void StartUps() {
        MapWatch& maps = maps_;
        for (int i = 0; i < 5; ++i) {
            QProcess program;
            startups.push_back(Start(program, BaseEnvironment(), maps));
            Stop(program);
            if (qEnvironmentVariableIsSet("RZT_BENCH_VERBOSE"))
                std::printf("  [start-up %d: %.3f s]\n", i + 1, startups.back());
        }
    }

    void Watching() {
        MapWatch& maps = maps_;
        QProcess program;
        if (Start(program, BaseEnvironment(), maps) < 0) std::printf("  (no search window)\n");
        Measure(QStringLiteral("watching, no device (this machine's ttys)"), program);
        Stop(program);
    }

    // What a program needs to run inside the mocked udev.
    QProcessEnvironment Mocked(const UdevBed& bed) {
        QProcessEnvironment env = BaseEnvironment();
        env.insert(QStringLiteral("UMOCKDEV_DIR"), bed.RootDir());
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral("libumockdev-preload.so.0"));
        return env;
    }

    void WatchingMocked(int ttys) {
        UdevBed bed;
        // Converters of another make, which the search passes over; never opened.
        for (int i = 0; i < ttys; ++i)
            bed.Plug(QStringLiteral("ttyUSB%1").arg(100 + i), QStringLiteral("/dev/null"), UdevBed::Ch340);
        MapWatch& maps = maps_;
        QProcess program;
        if (Start(program, Mocked(bed), maps) < 0)
            std::printf("  (no search window)\n");
        Measure(QStringLiteral("watching, mocked udev, %1 other ttys").arg(ttys), program);
        Stop(program);
    }

    void Device() {
        UdevBed bed;
        MapWatch& maps = maps_;
        QProcess program;
        if (Start(program, Mocked(bed), maps) < 0) std::printf("  (no search window)\n");
        Wait(1000);

        SimConfig config;
        config.probesBeforeAnswer = 1 << 30; // silent until told otherwise
        SimDevice sim(config);
        QString error;
        if (!sim.plug(&error)) {
            std::printf("  cannot start the simulated device: %s\n", qPrintable(error));
            return;
        }
        const QString name = UdevBed::FreeName(0);
        bed.Plug(name, sim.portName());
        if (!WaitFor([&] { return sim.receivedBytes().contains('?'); }, 5000))
            std::printf("  (the converter was not opened and probed)\n");
        Measure(QStringLiteral("identifying (FTDI converter, device silent)"), program);

        config.probesBeforeAnswer = 0;
        sim.setConfig(config);
        if (maps.WaitMapped("Retrive Data", 10000) < 0) std::printf("  (no retrieval window)\n");
        Wait(1000);
        sim.clearReceived();
        Measure(QStringLiteral("connected (link checks answered)"), program);
        const qsizetype checks = sim.receivedBytes().count('?');

        // The cable is pulled while connected: the node goes and the line hangs up. What the
        // program spends on it in the next 3 s, the worst of three pulls; plugged in again and
        // connected between them.
        for (int pull = 0; pull < 3; ++pull) {
            if (pull > 0) {
                if (!sim.plug(&error)) {
                    std::printf("  cannot plug the simulated device in again: %s\n", qPrintable(error));
                    break;
                }
                bed.Plug(name, sim.portName());
                if (maps.WaitMapped("Retrive Data", 15000) < 0) std::printf("  (not connected again)\n");
                Wait(1000);
            }
            const double before = CpuSecondsFine(program.processId());
            bed.Unplug(name);
            sim.unplug();
            Wait(3000);
            const double ms = (CpuSecondsFine(program.processId()) - before) * 1000.0;
            if (qEnvironmentVariableIsSet("RZT_BENCH_VERBOSE")) std::printf("  [pull %d: %.0f ms]\n", pull + 1, ms);
            pullMs = std::max(pullMs, before < 0 ? -1 : ms);
        }
        std::printf("  %-44s %7.1f ms (worst of 3)\n", "CPU in the 3 s after a pulled cable", pullMs);
        if (maps.WaitMapped("Device Search", 15000) < 0) std::printf("  (no search window)\n");
        Measure(QStringLiteral("watching after a lost link"), program);
        std::printf("  (link checks answered while connected: %lld)\n", static_cast<long long>(checks));
        Stop(program);
    }

    QString binary_;
    QByteArray display_;
    MapWatch& maps_;
    double seconds_;
    QTemporaryDir home_;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    // The mocked udev announces its devices through libudev, which must see the mocked tree
    // in this process too: run under the umockdev preload (without a testbed it changes
    // nothing).
    if (!qEnvironmentVariable("LD_PRELOAD").contains(QStringLiteral("umockdev"))) {
        const QByteArray preload = qgetenv("LD_PRELOAD");
        qputenv("LD_PRELOAD", "libumockdev-preload.so.0" + (preload.isEmpty() ? QByteArray() : ":" + preload));
        execv("/proc/self/exe", argv);
        std::perror("cannot run under the umockdev preload");
        return 1;
    }
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    QString before = argc > 2 ? QString::fromLocal8Bit(argv[2])
                              : qEnvironmentVariable("RZT_BENCH_BEFORE");

    // An X server of its own, so nothing else draws on it.
    QProcess xvfb;
    xvfb.setProgram(QStringLiteral("Xvfb"));
    xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1024x768x24"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    xvfb.start();
    if (!xvfb.waitForReadyRead(10000)) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    const QByteArray display = ":" + xvfb.readLine().trimmed();
    MapWatch maps(display);
    if (!maps.Ok()) {
        std::fprintf(stderr, "cannot connect to Xvfb on %s\n", display.constData());
        return 1;
    }

    std::printf("rzt from outside: Xvfb %s, xcb platform, %.0f s per state, %ld cores, "
                "/sys/class/tty has %lld entries\n",
                display.constData(), seconds, sysconf(_SC_NPROCESSORS_ONLN),
                static_cast<long long>(QDir(QStringLiteral("/sys/class/tty"))
                                           .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                                           .size()));
    std::vector<std::pair<QString, Run*>> runs;
    Run after(QStringLiteral(RZT_BINARY), display, maps, seconds);
    std::unique_ptr<Run> old;
    if (!before.isEmpty()) {
        old = std::make_unique<Run>(before, display, maps, seconds);
        std::printf("before: %s\n", qPrintable(before));
        old->All();
    }
    std::printf("after: %s\n", RZT_BINARY);
    after.All();

    std::printf("\n| state | before %% | after %% | before/after |\n|---|---:|---:|---:|\n");
    for (std::size_t i = 0; i < after.rows.size(); ++i) {
        const double a = after.rows[i].percent;
        const double b = old && i < old->rows.size() ? old->rows[i].percent : -1;
        std::printf("| %s | %s | %.3f | %s |\n", qPrintable(after.rows[i].state),
                    b < 0 ? "-" : qPrintable(QString::number(b, 'f', 3)), a,
                    b < 0 || a <= 0 ? "-" : qPrintable(QString::number(b / a, 'f', 1)));
    }
    const double sa = Median(after.startups);
    const double sb = old ? Median(old->startups) : -1;
    std::printf("| start to search window mapped, s (median of 5) | %s | %.3f | %s |\n",
                sb < 0 ? "-" : qPrintable(QString::number(sb, 'f', 3)), sa,
                sb < 0 || sa <= 0 ? "-" : qPrintable(QString::number(sb / sa, 'f', 1)));
    const double pb = old ? old->pullMs : -1;
    std::printf("| CPU in the 3 s after a pulled cable, ms (worst of 3) | %s | %.1f | %s |\n",
                pb < 0 ? "-" : qPrintable(QString::number(pb, 'f', 1)), after.pullMs,
                pb < 0 || after.pullMs <= 0 ? "-" : qPrintable(QString::number(pb / after.pullMs, 'f', 1)));
    bool everyState = true;
    for (const Row& row : after.rows) everyState = everyState && row.percent >= 0 && row.percent <= 0.5;
    const double manyTtys = after.rows.size() > 2 ? after.rows[2].percent - after.rows[1].percent : 99;
    std::printf("\nTargets (after): every state <= 0.5 %% of one core: %s; 200 ttys %+.3f points "
                "from none (within 0.1): %s; start-up %.3f s (< 0.3 s): %s; a pulled cable %.1f ms "
                "(< 20 ms): %s\n",
                everyState ? "met" : "NOT MET", manyTtys, std::abs(manyTtys) <= 0.1 ? "met" : "NOT MET",
                sa, sa >= 0 && sa < 0.3 ? "met" : "NOT MET", after.pullMs,
                after.pullMs >= 0 && after.pullMs < 20 ? "met" : "NOT MET");
    std::printf("Load average at the end: %s\n", LoadAverage().constData());

    xvfb.terminate();
    xvfb.waitForFinished(3000);
    return 0;
}
