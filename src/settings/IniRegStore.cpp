#include "IniRegStore.h"

#include "RegText.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>
#include <cctype>
#include <string>
#include <utility>

namespace {

QString RootName(quint32 group) {
    switch (group) {
    case 0x80000000u: return QStringLiteral("HKEY_CLASSES_ROOT");
    case 0x80000001u: return QStringLiteral("HKEY_CURRENT_USER");
    case 0x80000002u: return QStringLiteral("HKEY_LOCAL_MACHINE");
    case 0x80000003u: return QStringLiteral("HKEY_USERS");
    case 0x80000005u: return QStringLiteral("HKEY_CURRENT_CONFIG");
    default: return QString();
    }
}

QStringList PathLevels(const QString& section) {
    QString path = section;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

// Names as the store offers them. A damaged file can hold groups or keys whose names are
// empty or carry a separator; no registry key or value is named like that, so they are passed
// over.
QStringList Usable(const QStringList& names) {
    QStringList usable;
    for (const QString& name : names) {
        if (!name.isEmpty() && !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char('/'))) {
            usable << name;
        }
    }
    return usable;
}

QString FindNoCase(const QStringList& names, const QString& wanted) {
    for (const QString& name : names) {
        if (name.compare(wanted, Qt::CaseInsensitive) == 0) return name;
    }
    return QString();
}

// Opens the group of the key below the root, matching each level without regard to case.
// With create, missing levels are made with the spelling given; without, a missing level
// leaves the settings outside any group and the result is false.
bool EnterKey(QSettings& settings, quint32 group, const QString& section, bool create) {
    const QString root = RootName(group);
    if (root.isEmpty()) return false;
    QStringList levels = PathLevels(section);
    levels.prepend(root);
    int entered = 0;
    for (const QString& level : levels) {
        QString name = FindNoCase(Usable(settings.childGroups()), level);
        if (name.isEmpty()) {
            if (!create) {
                for (; entered > 0; --entered) settings.endGroup();
                return false;
            }
            name = level;
        }
        settings.beginGroup(name);
        ++entered;
    }
    return true;
}

const unsigned char* Raw(const QByteArray& data) {
    return reinterpret_cast<const unsigned char*>(data.constData());
}

} // namespace

IniRegStore::IniRegStore() : IniRegStore(DefaultFilePath()) {}

IniRegStore::IniRegStore(QString filePath) : filePath_(std::move(filePath)) {}

QString IniRegStore::DefaultFilePath() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(base).filePath(QStringLiteral("ZORV/RZT.ini"));
}

QString IniRegStore::EncodeValue(const Value& value) {
    return QString::number(value.type) + QLatin1Char(':') +
           QString::fromLatin1(value.data.toHex().toUpper());
}

std::optional<IniRegStore::Value> IniRegStore::DecodeValue(const QString& text) {
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0) return std::nullopt;
    bool ok = false;
    const qint32 type = text.left(colon).toInt(&ok);
    if (!ok) return std::nullopt;
    const QString hex = text.mid(colon + 1);
    if (hex.size() % 2 != 0) return std::nullopt;
    for (const QChar c : hex) {
        if (c.unicode() > 0x7f || !std::isxdigit(static_cast<unsigned char>(c.toLatin1()))) {
            return std::nullopt;
        }
    }
    return Value{type, QByteArray::fromHex(hex.toLatin1())};
}

QString IniRegStore::ReadRegistry(quint32 group, const QString& section, const QString& key) {
    QSettings settings(filePath_, QSettings::IniFormat);
    if (!EnterKey(settings, group, section, false)) return QString();
    const QString name = FindNoCase(Usable(settings.childKeys()), key);
    if (name.isEmpty()) return QString();
    const auto value = DecodeValue(settings.value(name).toString());
    if (!value || static_cast<std::size_t>(value->data.size()) > regtext::kBufferSize) {
        return QString();
    }
    return QString::fromLocal8Bit(regtext::DataText(value->type, Raw(value->data),
                                                    static_cast<std::size_t>(value->data.size()),
                                                    true));
}

bool IniRegStore::WriteRegistry(quint32 group, const QString& section, const QString& key,
                                qint32 valType, const QString& value) {
    if (key.isEmpty()) return false;
    QSettings settings(filePath_, QSettings::IniFormat);
    if (!EnterKey(settings, group, section, true)) return false;
    Value stored;
    if (valType == regtext::kRegDword) {
        const std::int32_t number = regtext::DwordFromText(value.toLocal8Bit().toStdString());
        const auto bits = static_cast<std::uint32_t>(number);
        stored.type = regtext::kRegDword;
        for (int shift = 0; shift < 32; shift += 8) {
            stored.data.append(static_cast<char>((bits >> shift) & 0xffu));
        }
    } else {
        stored.type = regtext::kRegSz;
        const std::string data = regtext::StringData(valType, value.toLocal8Bit().toStdString());
        stored.data = QByteArray(data.data(), static_cast<qsizetype>(data.size()));
    }
    QString name = FindNoCase(Usable(settings.childKeys()), key);
    if (name.isEmpty()) name = key;
    settings.setValue(name, EncodeValue(stored));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString IniRegStore::ReadRegistryGetSubkey(quint32 group, const QString& section, qint32 idx) {
    QSettings settings(filePath_, QSettings::IniFormat);
    if (!EnterKey(settings, group, section, false)) return QString::fromLatin1(regtext::kNotFound);
    const QStringList subkeys = Usable(settings.childGroups());
    if (idx < 0 || idx >= subkeys.size() ||
        static_cast<std::size_t>(subkeys.at(idx).toLocal8Bit().size()) >= regtext::kBufferSize) {
        return QString::fromLatin1(regtext::kNotFound);
    }
    return subkeys.at(idx);
}

RegValueEntry IniRegStore::ReadRegistryGetAll(quint32 group, const QString& section, qint32 idx) {
    RegValueEntry entry;
    entry.data = QString::fromLatin1(regtext::kNotFound);
    QSettings settings(filePath_, QSettings::IniFormat);
    if (!EnterKey(settings, group, section, false)) return entry;
    const QStringList names = Usable(settings.childKeys());
    if (idx < 0 || idx >= names.size()) return entry;
    const QString& name = names.at(idx);
    const auto value = DecodeValue(settings.value(name).toString());
    if (!value || static_cast<std::size_t>(value->data.size()) > regtext::kBufferSize ||
        static_cast<std::size_t>(name.toLocal8Bit().size()) >= regtext::kBufferSize) {
        return entry;
    }
    entry.type = value->type;
    entry.name = name;
    entry.data = QString::fromLocal8Bit(regtext::DataText(
        value->type, Raw(value->data), static_cast<std::size_t>(value->data.size()), false));
    return entry;
}

void IniRegStore::DeleteSubkey(quint32 group, const QString& section) {
    QSettings settings(filePath_, QSettings::IniFormat);
    QStringList levels = PathLevels(section);
    if (levels.isEmpty()) return; // never the root itself
    const QString last = levels.takeLast();
    if (!EnterKey(settings, group, levels.join(QLatin1Char('\\')), false)) return;
    const QString name = FindNoCase(Usable(settings.childGroups()), last);
    if (name.isEmpty()) return;
    // The registry refuses to delete a key that has subkeys of its own.
    settings.beginGroup(name);
    const bool hasSubkeys = !Usable(settings.childGroups()).isEmpty();
    settings.endGroup();
    if (hasSubkeys) return;
    // remove() would take a value of the same name beside the key with it.
    const QVariant sameNamedValue = settings.contains(name) ? settings.value(name) : QVariant();
    settings.remove(name);
    if (sameNamedValue.isValid()) settings.setValue(name, sameNamedValue);
    settings.sync();
}

void IniRegStore::DeleteValue(quint32 group, const QString& section, const QString& key) {
    QSettings settings(filePath_, QSettings::IniFormat);
    if (!EnterKey(settings, group, section, false)) return;
    const QString name = FindNoCase(Usable(settings.childKeys()), key);
    if (name.isEmpty()) return;
    // remove() would take a subkey of the same name with its whole tree: put that back.
    settings.beginGroup(name);
    QList<std::pair<QString, QVariant>> subtree;
    for (const QString& entry : settings.allKeys()) subtree.append({entry, settings.value(entry)});
    settings.endGroup();
    settings.remove(name);
    for (const auto& [entry, value] : std::as_const(subtree))
        settings.setValue(name + QLatin1Char('/') + entry, value);
    settings.sync();
}
