#pragma once
// The settings store on platforms without a system registry: one INI file in the user's
// config location, holding registry-like keys and typed values. Keys are matched without
// regard to case, as the registry does; every operation opens the file, works and closes it.

#include "RegStore.h"

#include <QByteArray>
#include <QString>
#include <optional>

class QSettings;

class IniRegStore : public RegStore {
public:
    // The store file: by default "ZORV/RZT.ini" in the user's config location.
    IniRegStore();
    explicit IniRegStore(QString filePath);

    const QString& FilePath() const { return filePath_; }
    static QString DefaultFilePath();

    QString ReadRegistry(quint32 group, const QString& section, const QString& key) override;
    bool WriteRegistry(quint32 group, const QString& section, const QString& key, qint32 valType,
                       const QString& value) override;
    QString ReadRegistryGetSubkey(quint32 group, const QString& section, qint32 idx) override;
    RegValueEntry ReadRegistryGetAll(quint32 group, const QString& section, qint32 idx) override;
    void DeleteSubkey(quint32 group, const QString& section) override;
    void DeleteValue(quint32 group, const QString& section, const QString& key) override;

    // A stored value: its type code and raw data bytes.
    struct Value {
        qint32 type = 0;
        QByteArray data;
    };
    // How a value is kept in the file ("<type>:<hex bytes>") and read back; nullopt when the
    // entry is damaged.
    static QString EncodeValue(const Value& value);
    static std::optional<Value> DecodeValue(const QString& text);

private:
    QString filePath_;
};
