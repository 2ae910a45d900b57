// The portable settings store over a settings file of any content: a damaged, hand-edited or
// foreign file must neither crash the program nor keep it from remembering its folder.

#include "FuzzSupport.h"
#include "IniRegStore.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <system_error>

namespace {

constexpr quint32 kLocalMachine = 0x80000002u;
constexpr qint32 kString = 1;
constexpr qint32 kBinary = 3;
constexpr qint32 kDword = 4;
const QString kNotFound = QStringLiteral("Not Found");

// The program's own key first; then spellings and names that the file format has to escape.
const char* const kSections[] = {
    "Software\\ZORV-RZT",
    "SOFTWARE\\zorv-rzt",
    "Software/ZORV-RZT",
    "\\Software\\\\ZORV-RZT\\",
    "",
    "system\\currentcontrolset\\enum\\ftdibus",
    "Software\\With Spaces; and = signs",
    "Software\\[General]\\%41\\\u00E4",
};
const char* const kKeys[] = {
    "DIR", "dir", "FriendlyName", "With Spaces", "k=v;#x", "%41", "Gr\u00F6\u00DFe",
    "General", " padded ",
};
constexpr int kSectionCount = static_cast<int>(sizeof kSections / sizeof kSections[0]);
constexpr int kKeyCount = static_cast<int>(sizeof kKeys / sizeof kKeys[0]);

// Every input gets files of its own: QSettings keeps parsed files by name and trusts its copy
// while the file's size and modification time agree, which two inputs written within the same
// millisecond can manage.
QString NewPath() {
    static QTemporaryDir dir;
    static quint64 count = 0;
    return dir.filePath(QStringLiteral("store-%1.ini").arg(++count));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // QSettings compares file times on every open, and without TZ the C library looks at the
    // zone file again on each conversion: a fixed zone spares that.
    if (qEnvironmentVariableIsEmpty("TZ")) qputenv("TZ", "UTC");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The choices come from the last 12 bytes of the input, the value to write from its start
    // (up to the first lone backslash), and the file's content is what lies between: seeds are
    // readable settings files.
    FuzzedDataProvider provider(data, size);
    const int sectionChoice = provider.ConsumeIntegralInRange(0, kSectionCount);
    const int keyChoice = provider.ConsumeIntegralInRange(0, kKeyCount);
    const int typeChoice = provider.ConsumeIntegralInRange(0, 2);
    const int depth = provider.ConsumeIntegralInRange(1, 3);
    int walk[3];
    for (int& idx : walk) idx = provider.ConsumeIntegralInRange(0, 3);
    const int nameChoice = provider.ConsumeIntegralInRange(0, 3);
    const auto number = provider.ConsumeIntegral<qint32>();
    const std::string valueBytes = provider.ConsumeRandomLengthString(600);
    const std::string content = provider.ConsumeRemainingBytesAsString();

    const QString path = NewPath();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) return 0;
        file.write(content.data(), static_cast<qint64>(content.size()));
    }
    IniRegStore store(path);

    // The key: one of the table, or one found by walking down the file's own subkeys.
    QString section;
    if (sectionChoice < kSectionCount) {
        section = QString::fromUtf8(kSections[sectionChoice]);
    } else {
        for (int level = 0; level < depth; ++level) {
            const QString subkey = store.ReadRegistryGetSubkey(kLocalMachine, section, walk[level]);
            if (subkey == kNotFound) break;
            // A listed subkey has to be reachable by a path built from its name. A file line whose
            // key has an empty level (a\\b=..., or \b=...) makes QSettings list a group with an
            // empty name.
            FUZZ_CHECK(!subkey.isEmpty() && !subkey.contains(QLatin1Char('\\')) &&
                           !subkey.contains(QLatin1Char('/')),
                       content, section, subkey);
            section = section.isEmpty() ? subkey : section + QLatin1Char('\\') + subkey;
        }
    }

    // The values of the key, as the enumeration lists them; each one reads back the same by
    // name (the first of names equal but for case is the one a read finds).
    QStringList names;
    for (qint32 idx = 0; idx < 4; ++idx) {
        const RegValueEntry entry = store.ReadRegistryGetAll(kLocalMachine, section, idx);
        if (entry.name.isEmpty()) {
            FUZZ_CHECK(entry.data == kNotFound && entry.type == 0, content, section, idx,
                       entry.data);
            break;
        }
        bool shadowed = false;
        for (const QString& earlier : names) {
            shadowed = shadowed || earlier.compare(entry.name, Qt::CaseInsensitive) == 0;
        }
        names.append(entry.name);
        if (shadowed || entry.type == kBinary) continue; // binary reads back as hex by name
        const QString byName = store.ReadRegistry(kLocalMachine, section, entry.name);
        FUZZ_CHECK(byName == entry.data, content, section, entry.name, entry.type, entry.data,
                   byName);
    }

    // Writing a value and reading it back, in this store and in a fresh one over a copy of the
    // file, as the next run of the program would.
    QString key;
    if (keyChoice < kKeyCount || names.isEmpty()) {
        key = QString::fromUtf8(kKeys[keyChoice % kKeyCount]);
    } else {
        key = names.at(nameChoice % names.size());
    }
    const QString text = QString::fromUtf8(valueBytes.data(),
                                           static_cast<qsizetype>(valueBytes.size()));
    QString value;
    QString expected;
    qint32 type = kString;
    if (typeChoice == 0) {
        value = text;
        expected = text;
    } else if (typeChoice == 1) {
        type = kDword;
        value = QString::number(number);
        expected = QString::number(static_cast<quint32>(number)).rightJustified(3, QLatin1Char('0'));
    } else {
        // Any other type is kept as string data without a terminating NUL, so only a NUL of the
        // value's own at its end is lost on reading.
        type = number;
        if (type == kString || type == kDword) type = kBinary;
        value = text;
        expected = text;
        if (expected.endsWith(QChar(u'\0'))) expected.chop(1);
    }
    store.WriteRegistry(kLocalMachine, section, key, type, value);
    const QString readBack = store.ReadRegistry(kLocalMachine, section, key);
    FUZZ_CHECK(readBack == expected, content, section, key, type, value, readBack);

    const QString copyPath = NewPath();
    std::error_code copyError;
    std::filesystem::copy_file(path.toStdString(), copyPath.toStdString(), copyError);
    FUZZ_CHECK(!copyError, path, copyPath, copyError.message());
    const QString readAfresh = IniRegStore(copyPath).ReadRegistry(kLocalMachine, section, key);
    FUZZ_CHECK(readAfresh == expected, content, section, key, type, value, readAfresh);

    QFile::remove(path);
    QFile::remove(copyPath);
    return 0;
}
