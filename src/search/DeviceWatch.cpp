#include "DeviceWatch.h"

#ifdef RZT_WITH_LIBUDEV
#include <QByteArray>
#include <QSocketNotifier>
#include <cerrno>
#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>
#endif

WatchedPortSource::WatchedPortSource(std::unique_ptr<PortSource> inner,
                                     std::unique_ptr<DeviceChangeWatch> watch)
    : inner_(std::move(inner)), watch_(std::move(watch)) {}

QStringList WatchedPortSource::Candidates() {
    // The change is taken before listing, so one that comes during the listing asks again.
    if (watch_->TakeChange() || !listed_) {
        listed_ = true;
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
        // Without the monitor, the look at the device names and udev's database still sees
        // every change. The notifier only keeps the queue short between ticks.
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
        // Anything still queued counts, also when the event loop has not run since it came.
        if (notifier_) Drain();
        // An event can be lost (a full queue, no udev daemon), so what it would have changed is
        // looked at too.
        QByteArray now;
        if (!Fingerprint(now)) {
            changed_ = true; // can't tell
        } else if (now != fingerprint_) {
            fingerprint_ = now;
            changed_ = true;
        }
        const bool changed = changed_;
        changed_ = false;
        return changed;
    }

private:
    // The names of the tty devices and the time udev last changed its database; false when
    // the names can't be read.
    static bool Fingerprint(QByteArray& out) {
        DIR* dir = opendir("/sys/class/tty");
        if (dir) {
            while (const dirent* entry = readdir(dir)) {
                out += entry->d_name;
                out += '/';
            }
            closedir(dir);
        } else if (errno != ENOENT) { // no tty device at all is an answer
            return false;
        }
        struct stat database {};
        if (stat("/run/udev/data", &database) == 0) {
            out += QByteArray::number(static_cast<qlonglong>(database.st_mtim.tv_sec)) + '.' +
                   QByteArray::number(static_cast<qlonglong>(database.st_mtim.tv_nsec));
        }
        return true;
    }

    void Drain() {
        // The descriptor is non-blocking: this ends when the queue is empty.
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
            changed_ = true;
        }
    }

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray fingerprint_;
    bool changed_ = true; // the first call lists
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
