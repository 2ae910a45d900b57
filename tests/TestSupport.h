#pragma once
// Small pieces several test programs share.

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <ctime>

// CPU time of this process (every thread, the in-process simulated device included), in
// seconds.
inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A file's bytes, or "<missing>" when it cannot be read, so a comparison names the case.
inline QByteArray FileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return file.readAll();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

#if __has_include("SimDevice.h") && __has_include("PortCandidates.h")
#include "PortCandidates.h"
#include "SimDevice.h"

// The simulated device's port as the candidate, following it across unplugging the way the
// driver's records would: none while it is unplugged.
class SimPortSource : public PortSource {
public:
    explicit SimPortSource(SimDevice& sim) : sim_(sim) {}
    QStringList Candidates() override {
        const QString name = sim_.portName();
        return name.isEmpty() ? QStringList() : QStringList{name};
    }

private:
    SimDevice& sim_;
};
#endif
