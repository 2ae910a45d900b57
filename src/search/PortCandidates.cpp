#include "PortCandidates.h"

#include "FtdiScan.h"
#include "PortAccess.h"
#include "clsReg.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>

namespace {

constexpr quint16 FtdiVendorId = 0x0403;

// The scan's view of the settings store, in the 8-bit text the registry rules work in.
class SettingsReader : public RegistryReader {
public:
    explicit SettingsReader(clsReg& reg) : reg_(reg) {}
    std::string ReadRegistryGetSubkey(std::uint32_t group, const std::string& section,
                                      std::int32_t idx) override {
        return reg_.ReadRegistryGetSubkey(group, QString::fromLocal8Bit(section), idx)
            .toLocal8Bit()
            .toStdString();
    }
    std::string ReadRegistry(std::uint32_t group, const std::string& section,
                             const std::string& key) override {
        return reg_.ReadRegistry(group, QString::fromLocal8Bit(section), QString::fromLocal8Bit(key))
            .toLocal8Bit()
            .toStdString();
    }

private:
    clsReg& reg_;
};

} // namespace

QStringList FtdiRegistrySource::Candidates() {
    SettingsReader reader(reg_);
    QStringList ports;
    for (const int number : ScanFtdiRecords(reader)) ports << QStringLiteral("COM%1").arg(number);
    return ports;
}

QStringList FtdiSerialPortSource::Candidates() {
    QStringList ports;
    const QList<QSerialPortInfo> all = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : all) {
        if (info.hasVendorIdentifier() && info.vendorIdentifier() == FtdiVendorId) {
            ports << info.systemLocation();
        }
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

QStringList FixedPortSource::Candidates() {
#ifndef Q_OS_WIN
    // Qt makes and syncs a lock file before it opens a port: trying a node that is not there
    // would cost a disk sync at every scan for as long as the search waits.
    if (!QFileInfo::exists(NodePath(portName_))) return {};
#endif
    return {portName_};
}

QString PortLabel(const QString& portName) {
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(portName);
    return match.hasMatch() ? QString::number(match.captured(1).toInt()) : portName;
}
