#include "SavedFolder.h"

#include "TextHelpers.h"
#include "clsReg.h"

#include <QDir>

namespace {

const QString SettingsKey = QStringLiteral("Software\\ZORV-RZT");
const QString FolderValue = QStringLiteral("DIR");
constexpr qint32 StringValue = 1;

} // namespace

QString ReadSavedFolder(clsReg& reg) {
    const QString own = reg.ReadRegistry(clsReg::CurrentUser, SettingsKey, FolderValue);
    if (!own.isEmpty()) return own;
    return reg.ReadRegistry(clsReg::LocalMachine, SettingsKey, FolderValue);
}

void RememberSavedFolder(clsReg& reg, const QString& savedPath) {
    const QString folder = GetFolderPath(QDir::toNativeSeparators(savedPath));
    if (reg.WriteRegistry(clsReg::LocalMachine, SettingsKey, FolderValue, StringValue, folder)) {
        reg.DeleteValue(clsReg::CurrentUser, SettingsKey, FolderValue);
    } else {
        reg.WriteRegistry(clsReg::CurrentUser, SettingsKey, FolderValue, StringValue, folder);
    }
}
