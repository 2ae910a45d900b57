#pragma once
// The program's one way into the settings store. Every operation opens what it needs,
// does its work and closes it again; nothing is cached between calls and no failure
// ever stops the caller: reads answer empty text or "Not Found", writes say whether they took.

#include "RegStore.h"

#include <QVariantList>
#include <memory>

class clsReg {
public:
    // Root key handle values as the Win32 registry defines them.
    static constexpr quint32 ClassesRoot = 0x80000000u;
    static constexpr quint32 CurrentUser = 0x80000001u;
    static constexpr quint32 LocalMachine = 0x80000002u;
    static constexpr quint32 Users = 0x80000003u;

    // The platform's store: the registry on Windows, an INI file in the user's
    // config location elsewhere.
    clsReg();
    explicit clsReg(std::unique_ptr<RegStore> store);
    ~clsReg();
    clsReg(const clsReg&) = delete;
    clsReg& operator=(const clsReg&) = delete;

    QString ReadRegistry(quint32 Group, const QString& Section, const QString& Key);
    // True when the store took the value; callers that need not know may ignore it.
    bool WriteRegistry(quint32 Group, const QString& Section, const QString& Key, qint32 ValType,
                       const QString& Value);
    QString ReadRegistryGetSubkey(quint32 Group, const QString& Section, const qint32& Idx);
    // Three elements: the type code (int), the value's name, its data as text
    // ("Not Found" when there is no value at Idx).
    QVariantList ReadRegistryGetAll(quint32 Group, const QString& Section, const qint32& Idx);
    void DeleteSubkey(quint32 Group, const QString& Section);
    void DeleteValue(quint32 Group, const QString& Section, const QString& Key);

private:
    std::unique_ptr<RegStore> store_;
};
