#pragma once
// USB serial converters in a mocked udev (umockdev): a sysfs tree with tty devices and their
// /dev nodes, each node a pseudo-terminal whose other end this process holds. A program run
// with MockSerial::Environment() sees these devices instead of the machine's, and is told of
// every one added or removed as udev would tell it.

#include <QProcessEnvironment>
#include <QString>
// GLib names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <umockdev.h>
#pragma pop_macro("signals")

class MockSerial {
public:
    // A testbed with no devices. Creating it points UMOCKDEV_DIR of this process at it.
    MockSerial() : bed_(umockdev_testbed_new()) {}
    ~MockSerial() { g_object_unref(bed_); }
    MockSerial(const MockSerial&) = delete;
    MockSerial& operator=(const MockSerial&) = delete;

    // Adds a USB serial converter of `vendor` (e.g. "0403" FTDI, "1a86" CH340) as /dev/<name>,
    // <name> such as ttyUSB0. The sysfs path is returned for Remove().
    QString Add(const QString& name, const QString& vendor, const QString& product = "6001") {
        const int n = next_++;
        const QByteArray usb = QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(n).toLatin1();
        const QByteArray intf = usb + ":1.0";
        const QByteArray tty = intf + "/" + name.toLatin1() + "/tty/" + name.toLatin1();
        const QByteArray description =
            "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
            "A: idVendor=" + vendor.toLatin1() + "\nA: idProduct=" + product.toLatin1() + "\n\n"
            "P: " + intf + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=" +
            (vendor == u"0403" ? "ftdi_sio" : "ch341") + "\n\n"
            "P: " + tty + "\nN: " + name.toLatin1() + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" +
            name.toLatin1() + "\nE: MAJOR=188\nE: MINOR=" + QByteArray::number(n) +
            "\nE: ID_VENDOR_ID=" + vendor.toLatin1() + "\nE: ID_MODEL_ID=" + product.toLatin1() +
            "\nE: ID_VENDOR=Mock\nE: ID_MODEL=Serial\nE: ID_SERIAL_SHORT=M" + QByteArray::number(n) +
            "\n\n";
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(bed_, description.constData(), &error)) {
            qWarning("umockdev: %s", error ? error->message : "cannot add the device");
            g_clear_error(&error);
            return {};
        }
        const QString sys = QStringLiteral("/sys") + QString::fromLatin1(tty);
        umockdev_testbed_uevent(bed_, sys.toLatin1().constData(), "add");
        return sys;
    }

    // Unplugs: the device and its node go, and listeners hear "remove".
    void Remove(const QString& sysPath) {
        umockdev_testbed_uevent(bed_, sysPath.toLatin1().constData(), "remove");
        umockdev_testbed_remove_device(bed_, sysPath.toLatin1().constData());
    }

    // The end of /dev/<name> that this process holds (not to be closed), or -1.
    int MasterFd(const QString& name) {
        return umockdev_testbed_get_dev_fd(bed_, ("/dev/" + name).toLatin1().constData());
    }

    // What a program needs to run inside the mocked udev.
    QProcessEnvironment Environment(QProcessEnvironment env) const {
        gchar* root = umockdev_testbed_get_root_dir(bed_);
        env.insert(QStringLiteral("UMOCKDEV_DIR"), QString::fromUtf8(root));
        g_free(root);
        const QString preload = env.value(QStringLiteral("LD_PRELOAD"));
        env.insert(QStringLiteral("LD_PRELOAD"),
                   QStringLiteral("libumockdev-preload.so.0") +
                       (preload.isEmpty() ? QString() : QStringLiteral(":") + preload));
        return env;
    }

private:
    UMockdevTestbed* bed_;
    int next_ = 1;
};
