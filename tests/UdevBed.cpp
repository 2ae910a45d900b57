// GLib's headers use a word that Qt's define as a keyword ("signals"): they come first.
#include <umockdev.h>

#include "UdevBed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <sys/stat.h>

namespace {

QString Take(gchar* text) {
    const QString result = text ? QString::fromUtf8(text) : QString();
    g_free(text);
    return result;
}

QByteArray Hex(quint16 value) {
    return QByteArray::number(value, 16).rightJustified(4, '0');
}

} // namespace

UdevBed::UdevBed() : bed_(umockdev_testbed_new()) {
    root_ = Take(umockdev_testbed_get_root_dir(bed_));
}

UdevBed::~UdevBed() {
    const QStringList names = plugged_.keys();
    for (const QString& name : names) Unplug(name);
    g_object_unref(bed_);
}

QString UdevBed::FreeName(int n) {
    return QStringLiteral("ttyUSB%1").arg((QCoreApplication::applicationPid() % 1000) * 10 + n);
}

bool UdevBed::Preloaded() const {
    return umockdev_in_mock_environment();
}

bool UdevBed::Plug(const QString& name, const QString& pty, quint16 vendor) {
    if (plugged_.contains(name)) return false;
    const int port = nextPort_++;
    const QByteArray vendorId = Hex(vendor);
    const QByteArray productId = vendor == Ftdi ? QByteArray("6001") : QByteArray("7523");
    const QByteArray maker = vendor == Ftdi ? QByteArray("FTDI") : QByteArray("QinHeng_Electronics");
    const QByteArray model = vendor == Ftdi ? QByteArray("FT232R_USB_UART") : QByteArray("CH340_serial_converter");
    const QByteArray busPort = "1-" + QByteArray::number(port);
    const QByteArray ttyName = name.toUtf8();
    const QByteArray node = Node(name).toUtf8();
    const QByteArray majorMinor = "188:" + QByteArray::number(port);

    Converter c;
    c.usb = Take(umockdev_testbed_add_device(
        bed_, "usb", busPort.constData(), nullptr,
        // attributes
        "idVendor", vendorId.constData(), "idProduct", productId.constData(), "manufacturer",
        maker.constData(), "product", model.constData(), nullptr,
        // properties
        "DEVTYPE", "usb_device", "ID_VENDOR_ID", vendorId.constData(), "ID_MODEL_ID",
        productId.constData(), nullptr));
    const QByteArray usb = c.usb.toUtf8();
    c.interface = Take(umockdev_testbed_add_device(bed_, "usb", (busPort + ":1.0").constData(),
                                                   usb.constData(), "bInterfaceNumber", "00",
                                                   nullptr, "DEVTYPE", "usb_interface", nullptr));
    const QByteArray interface = c.interface.toUtf8();
    // The node must lead to the pseudo-terminal before udev announces it.
    QDir().mkpath(root_ + QStringLiteral("/dev"));
    QFile::remove(root_ + QString::fromUtf8(node));
    if (!QFile::link(pty, root_ + QString::fromUtf8(node))) return false;
    c.tty = Take(umockdev_testbed_add_device(
        bed_, "tty", ttyName.constData(), interface.constData(), "dev", majorMinor.constData(),
        nullptr, "DEVNAME", node.constData(), "ID_BUS", "usb", "ID_VENDOR_ID",
        vendorId.constData(), "ID_MODEL_ID", productId.constData(), "ID_VENDOR",
        maker.constData(), "ID_MODEL", model.constData(), nullptr));
    if (c.usb.isEmpty() || c.interface.isEmpty() || c.tty.isEmpty()) return false;
    plugged_.insert(name, c);
    return true;
}

void UdevBed::Unplug(const QString& name) {
    const auto it = plugged_.constFind(name);
    if (it == plugged_.constEnd()) return;
    const Converter c = *it;
    plugged_.erase(it);
    // Children first: the testbed removes a device's own links and node only, and a link
    // left behind in /sys/class/tty would cut libudev's list of ttys short.
    for (const QString& path : {c.tty, c.interface, c.usb}) {
        const QByteArray sysPath = path.toUtf8();
        umockdev_testbed_uevent(bed_, sysPath.constData(), "remove");
        umockdev_testbed_remove_device(bed_, sysPath.constData());
    }
}

void UdevBed::OpenToEveryone() {
    ::chmod(root_.toLocal8Bit().constData(), 0755);
    ::chmod((root_ + QStringLiteral("/ioctl")).toLocal8Bit().constData(), 0755);
    ::chmod((root_ + QStringLiteral("/ioctl/_default")).toLocal8Bit().constData(), 0777);
}
