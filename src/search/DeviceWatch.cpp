#include "DeviceWatch.h"

#ifdef RZT_WITH_LIBUDEV
#include <QSocketNotifier>
#include <libudev.h>
#endif

WatchedPortSource::WatchedPortSource(std::unique_ptr<PortSource> inner,
                                     std::unique_ptr<DeviceChangeWatch> watch, int refreshMs)
    : inner_(std::move(inner)), watch_(std::move(watch)), refreshMs_(refreshMs) {}

QStringList WatchedPortSource::Candidates() {
    // Every call takes the notification, so one that arrives during a scan asks again next time.
    const bool changed = watch_->TakeChange();
    if (changed || !sinceScan_.isValid() || sinceScan_.hasExpired(refreshMs_)) {
        sinceScan_.start();
        ++scans_;
        last_ = inner_->Candidates();
    }
    return last_;
}

namespace {

class AlwaysChanged : public DeviceChangeWatch {
public:
    bool TakeChange() override { return true; }
};

#ifdef RZT_WITH_LIBUDEV
// Events come from udev after it has handled the device, so its properties (the USB vendor the
// search goes by) are known by the time the ports are listed again.
class UdevTtyWatch : public DeviceChangeWatch {
public:
    UdevTtyWatch() {
        udev_ = udev_new();
        if (!udev_) return;
        monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (!monitor_) return;
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor_) < 0) {
            return;
        }
        const int fd = udev_monitor_get_fd(monitor_);
        if (fd < 0) return;
        notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { Drain(); });
    }
    ~UdevTtyWatch() override {
        notifier_.reset();
        if (monitor_) udev_monitor_unref(monitor_);
        if (udev_) udev_unref(udev_);
    }

    bool TakeChange() override {
        if (!notifier_) return true;
        // Anything still queued counts, also when the event loop has not run since it came.
        Drain();
        const bool changed = changed_;
        changed_ = false;
        return changed;
    }

private:
    void Drain() {
        // The descriptor is non-blocking: this ends when the queue is empty. Events lost to a
        // full queue are covered by the periodic scan.
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
            changed_ = true;
        }
    }

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool changed_ = true; // the first call scans
};
#endif

} // namespace

std::unique_ptr<DeviceChangeWatch> MakeSerialDeviceWatch() {
#ifdef RZT_WITH_LIBUDEV
    return std::make_unique<UdevTtyWatch>();
#else
    return std::make_unique<AlwaysChanged>();
#endif
}

std::unique_ptr<PortSource> WatchSerialDevices(std::unique_ptr<PortSource> inner) {
    return std::make_unique<WatchedPortSource>(std::move(inner), MakeSerialDeviceWatch());
}
