#pragma once
// A mocked udev and /dev (umockdev's testbed) with USB serial converters that tests plug in
// and pull out while the program runs. The program finds them through its own candidate
// source: QSerialPortInfo reads them with libudev from the testbed's /sys, and opening
// /dev/<name> leads to a pseudo-terminal the test holds the other end of (the simulated
// device's, typically).
//
// Works only in a process started under umockdev's preload library (umockdev-wrapper);
// Preloaded() tells. Each node name can be plugged in again after it was pulled out.

#include <QHash>
#include <QString>
#include <QtGlobal>

struct _UMockdevTestbed;

class UdevBed {
public:
    static constexpr quint16 Ftdi = 0x0403;
    static constexpr quint16 Ch340 = 0x1a86;

    UdevBed();
    ~UdevBed();
    UdevBed(const UdevBed&) = delete;
    UdevBed& operator=(const UdevBed&) = delete;

    // True when /sys and /dev are redirected into the testbed in this process. (umockdev
    // decides this once, from the first testbed: ask with one in place.)
    bool Preloaded() const;

    // Plugs in a converter: a USB device of the given vendor, its interface, and its tty
    // /dev/<name> (e.g. "ttyUSB0"), whose node leads to `pty`. Sends the "add" uevents.
    // False when the name is taken or the node cannot be made.
    bool Plug(const QString& name, const QString& pty, quint16 vendor = Ftdi);
    // Takes the converter out of udev and /dev, with "remove" uevents. Hanging up the line is
    // up to whoever holds the pseudo-terminal's other end.
    void Unplug(const QString& name);
    bool IsPlugged(const QString& name) const { return plugged_.contains(name); }

    // Lets an unprivileged user into the testbed: its folders, and the socket through which
    // the preload library passes on device requests (a user who cannot reach it has the
    // process ended by the preload library at the first open of a device).
    void OpenToEveryone();

    // A name for this process's n-th converter (n < 10), "ttyUSB" and a number. Nodes are the
    // testbed's own, but the serial ports' lock files (LCK..<name> in /var/lock) are shared by
    // every process on the machine: a name another test run uses at the same time would make
    // the port look busy.
    static QString FreeName(int n);

    QString RootDir() const { return root_; }
    static QString Node(const QString& name) { return QStringLiteral("/dev/") + name; }

private:
    struct Converter {
        QString usb, interface, tty; // sysfs paths
    };

    _UMockdevTestbed* bed_ = nullptr;
    QString root_;
    QHash<QString, Converter> plugged_;
    int nextPort_ = 1;
};
