#pragma once
// What the benchmarks share: CPU clocks of the process and of single threads, memory use,
// and a summary of samples. Linux only, like the simulated device.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double ClockSeconds(clockid_t clock) {
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) return -1.0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

inline double ProcessCpu() {
    return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

// The calling thread's CPU time.
inline double ThreadCpu() {
    return ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

// The kernel id of the thread of this process whose name is `name` (as QThread sets it from
// its object name, at most 15 characters); -1 when there is none.
inline pid_t FindThread(const QByteArray& name) {
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(entry) + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.left(15))
            return static_cast<pid_t>(entry.toInt());
    }
    return -1;
}

// CPU time of another thread of this process, read from the calling thread: the clock id
// that pthread_getcpuclockid() would give for it, built from its kernel id.
inline double OtherThreadCpu(pid_t tid) {
    if (tid <= 0) return -1.0;
    const auto id = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);
    return ClockSeconds(id);
}

// Peak and current resident memory of the process, in MB (10^6 bytes).
inline double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0 / 1e6;
}

inline double CurrentRssMb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return -1.0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2) return -1.0;
    return fields[1].toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

struct Stats {
    double median = 0, p90 = 0, max = 0;
    std::size_t count = 0;
};

inline Stats Summarise(std::vector<double> v) {
    Stats s;
    s.count = v.size();
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
    };
    s.median = at(0.5);
    s.p90 = at(0.9);
    s.max = v.back();
    return s;
}

inline const char* Verdict(bool met) {
    return met ? "met" : "NOT MET";
}

} // namespace bench
