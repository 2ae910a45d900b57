#include "Win32RegStore.h"

#include <QByteArray>

namespace {

// toLocal8Bit is the ANSI code page on Windows, the one the registry's A functions expect.
// The byte count of what is stored is taken from the converted bytes, never from the QString.
std::string Ansi(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QString FromAnsi(const std::string& text) {
    return QString::fromLocal8Bit(QByteArray::fromStdString(text));
}

} // namespace

QString Win32RegStore::ReadRegistry(quint32 group, const QString& section, const QString& key) {
    return FromAnsi(registry_.ReadRegistry(group, Ansi(section), Ansi(key)));
}

bool Win32RegStore::WriteRegistry(quint32 group, const QString& section, const QString& key,
                                  qint32 valType, const QString& value) {
    return registry_.WriteRegistry(group, Ansi(section), Ansi(key), valType, Ansi(value));
}

QString Win32RegStore::ReadRegistryGetSubkey(quint32 group, const QString& section, qint32 idx) {
    return FromAnsi(registry_.ReadRegistryGetSubkey(group, Ansi(section), idx));
}

RegValueEntry Win32RegStore::ReadRegistryGetAll(quint32 group, const QString& section, qint32 idx) {
    const Win32RegValue found = registry_.ReadRegistryGetAll(group, Ansi(section), idx);
    RegValueEntry entry;
    entry.type = found.type;
    entry.name = FromAnsi(found.name);
    entry.data = FromAnsi(found.data);
    return entry;
}

void Win32RegStore::DeleteSubkey(quint32 group, const QString& section) {
    registry_.DeleteSubkey(group, Ansi(section));
}

void Win32RegStore::DeleteValue(quint32 group, const QString& section, const QString& key) {
    registry_.DeleteValue(group, Ansi(section), Ansi(key));
}
