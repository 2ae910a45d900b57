#pragma once
// Listing the serial ports is costly on a machine with many terminals (each listing walks every
// tty device through udev, a quarter of a millisecond apiece), while the answer changes only
// when a device comes or goes. A watched source asks its inner source again only when its watch
// says the serial devices may have changed; otherwise it hands back the answer it had.

#include "PortCandidates.h"

#include <QStringList>
#include <memory>

// Tells whether the set of serial devices may have changed.
class DeviceChangeWatch {
public:
    virtual ~DeviceChangeWatch() = default;
    // True once after one or more changes, and whenever the watch cannot tell.
    virtual bool TakeChange() = 0;
};

class WatchedPortSource : public PortSource {
public:
    WatchedPortSource(std::unique_ptr<PortSource> inner, std::unique_ptr<DeviceChangeWatch> watch);
    QStringList Candidates() override;
    bool NamesStayWithTheirConverter() const override {
        return inner_->NamesStayWithTheirConverter();
    }
    // How often the inner source was asked (for tests).
    int Scans() const { return scans_; }

private:
    std::unique_ptr<PortSource> inner_;
    std::unique_ptr<DeviceChangeWatch> watch_;
    bool listed_ = false;
    QStringList last_;
    int scans_ = 0;
};

// The platform's watch on its serial devices. On Linux: udev's events for the tty subsystem,
// and, on every call, a look at what a missed event would have changed: the names of the tty
// devices and the time udev last wrote its database (15 µs with 68 ttys). Where it can
// see neither it reports a change every time, so the inner source is asked on every call, as
// without a watch.
std::unique_ptr<DeviceChangeWatch> MakeSerialDeviceWatch();

// `inner` watched by the platform's watch.
std::unique_ptr<PortSource> WatchSerialDevices(std::unique_ptr<PortSource> inner);
