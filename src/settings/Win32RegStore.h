#pragma once
// The Win32 registry as clsReg's store: converts the program's text to and from the ANSI code
// page and leaves everything else to Win32Registry.

#include "RegStore.h"
#include "Win32Registry.h"

class Win32RegStore : public RegStore {
public:
    QString ReadRegistry(quint32 group, const QString& section, const QString& key) override;
    bool WriteRegistry(quint32 group, const QString& section, const QString& key, qint32 valType,
                       const QString& value) override;
    QString ReadRegistryGetSubkey(quint32 group, const QString& section, qint32 idx) override;
    RegValueEntry ReadRegistryGetAll(quint32 group, const QString& section, qint32 idx) override;
    void DeleteSubkey(quint32 group, const QString& section) override;
    void DeleteValue(quint32 group, const QString& section, const QString& key) override;

private:
    Win32Registry registry_;
};
