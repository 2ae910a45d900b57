#pragma once
// Where the search gets its candidate ports from. Each discovery pass asks its source for the
// ports worth trying, in order; whether one of them really is the device is decided by
// opening it and asking.

#include <QString>
#include <QStringList>

class clsReg;

class PortSource {
public:
    virtual ~PortSource() = default;
    // The candidates in the order they are tried; empty when there is none.
    virtual QStringList Candidates() = 0;
    // True when a name stays with its converter (the COM number the driver gave it), so that
    // a scan finding nothing may leave the earlier candidates to be tried again. A device path
    // is not such a name: the next converter plugged in, of whatever make, takes it over.
    virtual bool NamesStayWithTheirConverter() const { return false; }
};

// Windows: the COM ports named by the FTDI driver's device records in the registry.
class FtdiRegistrySource : public PortSource {
public:
    explicit FtdiRegistrySource(clsReg& reg) : reg_(reg) {}
    QStringList Candidates() override;
    bool NamesStayWithTheirConverter() const override { return true; }

private:
    clsReg& reg_;
};

// Other platforms: the serial ports of FTDI converters (USB vendor 0x0403), in name order.
class FtdiSerialPortSource : public PortSource {
public:
    QStringList Candidates() override;
};

// One port named by the user (`--port`), or the port of the built-in simulated device.
class FixedPortSource : public PortSource {
public:
    explicit FixedPortSource(QString portName) : portName_(std::move(portName)) {}
    // The port, or nothing while a device path names no file.
    QStringList Candidates() override;

private:
    QString portName_;
};

// How the search window shows a port: "COM5" as 5, any other name as it is.
QString PortLabel(const QString& portName);
