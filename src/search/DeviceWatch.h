#pragma once
// Scanning for serial ports is costly on a machine with many terminals (each scan walks every
// tty device), while the answer changes only when a device comes or goes. A watched source
// asks its inner source again only after the system has reported a change of the serial
// devices, and in any case every few seconds, so that a notification that never came cannot
// leave the list stale for good. Between those it hands back the answer it had.

#include "PortCandidates.h"

#include <QElapsedTimer>
#include <QStringList>
#include <memory>

// Tells whether the set of serial devices may have changed.
class DeviceChangeWatch {
public:
    virtual ~DeviceChangeWatch() = default;
    // True once after one or more changes; also true when the watch cannot see changes at all.
    virtual bool TakeChange() = 0;
};

class WatchedPortSource : public PortSource {
public:
    // How long an answer is used at most, notified or not.
    static constexpr int kRefreshMs = 5000;

    WatchedPortSource(std::unique_ptr<PortSource> inner, std::unique_ptr<DeviceChangeWatch> watch,
                      int refreshMs = kRefreshMs);
    QStringList Candidates() override;
    // How often the inner source was asked (for tests and benchmarks).
    int Scans() const { return scans_; }

private:
    std::unique_ptr<PortSource> inner_;
    std::unique_ptr<DeviceChangeWatch> watch_;
    int refreshMs_;
    QElapsedTimer sinceScan_;
    QStringList last_;
    int scans_ = 0;
};

// The platform's watch on its serial devices: a udev monitor of the tty subsystem on Linux.
// Where there is none (or it cannot be set up) it reports a change every time, so the inner
// source is asked on every call, as without a watch.
std::unique_ptr<DeviceChangeWatch> MakeSerialDeviceWatch();

// `inner` watched by the platform's watch.
std::unique_ptr<PortSource> WatchSerialDevices(std::unique_ptr<PortSource> inner);
