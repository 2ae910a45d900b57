#include "clsReg.h"

#include "IniRegStore.h"
#ifdef Q_OS_WIN
#include "Win32RegStore.h"
#endif

namespace {

std::unique_ptr<RegStore> PlatformStore() {
#ifdef Q_OS_WIN
    return std::make_unique<Win32RegStore>();
#else
    return std::make_unique<IniRegStore>();
#endif
}

} // namespace

clsReg::clsReg() : store_(PlatformStore()) {}

clsReg::clsReg(std::unique_ptr<RegStore> store) : store_(std::move(store)) {}

clsReg::~clsReg() = default;

QString clsReg::ReadRegistry(quint32 Group, const QString& Section, const QString& Key) {
    return store_->ReadRegistry(Group, Section, Key);
}

bool clsReg::WriteRegistry(quint32 Group, const QString& Section, const QString& Key,
                           qint32 ValType, const QString& Value) {
    return store_->WriteRegistry(Group, Section, Key, ValType, Value);
}

QString clsReg::ReadRegistryGetSubkey(quint32 Group, const QString& Section, const qint32& Idx) {
    return store_->ReadRegistryGetSubkey(Group, Section, Idx);
}

QVariantList clsReg::ReadRegistryGetAll(quint32 Group, const QString& Section, const qint32& Idx) {
    const RegValueEntry entry = store_->ReadRegistryGetAll(Group, Section, Idx);
    return {entry.type, entry.name, entry.data};
}

void clsReg::DeleteSubkey(quint32 Group, const QString& Section) {
    store_->DeleteSubkey(Group, Section);
}

void clsReg::DeleteValue(quint32 Group, const QString& Section, const QString& Key) {
    store_->DeleteValue(Group, Section, Key);
}
