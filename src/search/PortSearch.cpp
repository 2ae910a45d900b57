#include "PortSearch.h"

#include "DeviceWatch.h"
#include "clsReg.h"
#include "modMain.h"

std::unique_ptr<PortSource> PlatformPortSource(modMain& link) {
#ifdef Q_OS_WIN
    if (!link.Reg) link.Reg = std::make_unique<clsReg>();
    return std::make_unique<FtdiRegistrySource>(*link.Reg);
#else
    Q_UNUSED(link);
    return WatchSerialDevices(std::make_unique<FtdiSerialPortSource>());
#endif
}

void ScanPorts(modMain& link, PortSource& source) {
    const QStringList found = source.Candidates();
    // A device path left over from a converter that has gone may by now belong to another
    // make of converter: opening it would toggle its lines and probe a stranger for ever.
    if (!found.isEmpty() || !source.NamesStayWithTheirConverter()) link.PortList = found;
}
