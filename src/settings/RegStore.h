#pragma once
// One registry-like store behind clsReg: the Win32 registry on Windows, an INI file elsewhere.

#include <QString>
#include <QtGlobal>

struct RegValueEntry {
    qint32 type = 0;
    QString name;
    QString data; // "Not Found" when the enumeration failed
};

class RegStore {
public:
    virtual ~RegStore() = default;
    virtual QString ReadRegistry(quint32 group, const QString& section, const QString& key) = 0;
    // True when the store took the value (a refused write, e.g. for want of rights, is false).
    virtual bool WriteRegistry(quint32 group, const QString& section, const QString& key,
                               qint32 valType, const QString& value) = 0;
    virtual QString ReadRegistryGetSubkey(quint32 group, const QString& section, qint32 idx) = 0;
    virtual RegValueEntry ReadRegistryGetAll(quint32 group, const QString& section, qint32 idx) = 0;
    virtual void DeleteSubkey(quint32 group, const QString& section) = 0;
    virtual void DeleteValue(quint32 group, const QString& section, const QString& key) = 0;
};
