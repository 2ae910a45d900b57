// The portable settings store behind clsReg: same operations, conversions and failure
// results as the registry, kept in an INI file.

#include "IniRegStore.h"
#include "RegDeleteCases.h"
#include "clsReg.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString Section = QStringLiteral("Software\\ZORV-RZT");
const QString NotFound = QStringLiteral("Not Found");
constexpr quint32 HKLM = clsReg::LocalMachine;
} // namespace

class TstSettings : public QObject {
    Q_OBJECT
private slots:
    void init();
    void writeThenRead_data();
    void writeThenRead();
    void storedDataReadsAs_data();
    void storedDataReadsAs();
    void missingThingsReadEmptyNeverNotFound_data();
    void missingThingsReadEmptyNeverNotFound();
    void subkeysEnumerateInOrderThenNotFound();
    void enumerationOfValues();
    void keysMatchWithoutRegardToCase();
    void survivesAcrossInstances();
    void damagedFilesReadAsEmpty_data();
    void damagedFilesReadAsEmpty();
    void deleteValueAndSubkey();
    void deletesAsTheRegistryDoes_data();
    void deletesAsTheRegistryDoes();
    void defaultFileLivesInTheUserConfigLocation();

private:
    QString Path() const { return dir_->filePath(QStringLiteral("store.ini")); }
    clsReg Store() const { return clsReg(std::make_unique<IniRegStore>(Path())); }
    // Puts a value into the file exactly as given, bypassing clsReg's write rules.
    void Plant(const QString& section, const QString& name, const QString& encoded) {
        QSettings raw(Path(), QSettings::IniFormat);
        raw.setValue(QStringLiteral("HKEY_LOCAL_MACHINE/") + QString(section).replace('\\', '/') +
                         '/' + name,
                     encoded);
    }

    std::unique_ptr<QTemporaryDir> dir_;
};

void TstSettings::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TstSettings::writeThenRead_data() {
    QTest::addColumn<int>("valType");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("string folder") << 1 << "C:\\Out" << "C:\\Out";
    QTest::newRow("empty string") << 1 << "" << "";
    QTest::newRow("folder outside ASCII keeps every character")
        << 1 << QString::fromUtf8("/home/jos\u00e9/M\u00fcller \u00e6\u00f8\u00e5")
        << QString::fromUtf8("/home/jos\u00e9/M\u00fcller \u00e6\u00f8\u00e5");
    QTest::newRow("dword 12") << 4 << "12" << "012";
    QTest::newRow("dword 7") << 4 << "7" << "007";
    QTest::newRow("dword 0") << 4 << "0" << "000";
    QTest::newRow("dword 65536") << 4 << "65536" << "65536";
    QTest::newRow("dword -1 reads unsigned") << 4 << "-1" << "4294967295";
    QTest::newRow("dword of a non-number stores 0") << 4 << "abc" << "000";
    QTest::newRow("other type: stored as a string without NUL, read whole") << 7 << "abc" << "abc";
}

void TstSettings::writeThenRead() {
    QFETCH(int, valType);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    clsReg reg = Store();
    reg.WriteRegistry(HKLM, Section, QStringLiteral("DIR"), valType, value);
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("DIR")), expected);
}

void TstSettings::storedDataReadsAs_data() {
    QTest::addColumn<QString>("encoded");
    QTest::addColumn<QString>("expected");
    QTest::newRow("string with its NUL") << "1:433A5C4461746100" << "C:\\Data";
    QTest::newRow("string of only the NUL") << "1:00" << "";
    QTest::newRow("string of no bytes") << "1:" << "";
    QTest::newRow("string without NUL keeps its last character") << "1:41424344" << "ABCD";
    QTest::newRow("expandable string") << "2:2554454D502500" << "%TEMP%";
    QTest::newRow("binary as hex") << "3:000FA0" << "000FA0";
    QTest::newRow("empty binary") << "3:" << "";
    QTest::newRow("dword bytes in stored order") << "4:07000000" << "007";
    QTest::newRow("dword high bytes") << "4:FFFFFFFF" << "4294967295";
    QTest::newRow("2048 bytes fit") << "1:" + QString(QStringLiteral("41")).repeated(2047) + "00"
                                    << QString(2047, 'A');
    QTest::newRow("over 2048 bytes fails") << "1:" + QString(QStringLiteral("41")).repeated(2049)
                                           << "";
    QTest::newRow("odd hex is damaged") << "1:414" << "";
    QTest::newRow("no type is damaged") << "41424344" << "";
    QTest::newRow("non-hex is damaged") << "1:ZZ00" << "";
}

void TstSettings::storedDataReadsAs() {
    QFETCH(QString, encoded);
    QFETCH(QString, expected);
    Plant(Section, QStringLiteral("V"), encoded);
    clsReg reg = Store();
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("V")), expected);
}

void TstSettings::missingThingsReadEmptyNeverNotFound_data() {
    QTest::addColumn<quint32>("root");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::newRow("missing value") << HKLM << Section << "NOPE";
    QTest::newRow("missing key") << HKLM << "Software\\Nobody" << "DIR";
    QTest::newRow("other root") << clsReg::CurrentUser << Section << "DIR";
    QTest::newRow("unknown root") << quint32(0x12345678) << Section << "DIR";
}

void TstSettings::missingThingsReadEmptyNeverNotFound() {
    QFETCH(quint32, root);
    QFETCH(QString, section);
    QFETCH(QString, key);
    clsReg reg = Store();
    reg.WriteRegistry(HKLM, Section, QStringLiteral("DIR"), 1, QStringLiteral("/data"));
    QCOMPARE(reg.ReadRegistry(root, section, key), QString());
    QCOMPARE(reg.ReadRegistryGetSubkey(root, section + QStringLiteral("\\Missing"), 0), NotFound);
}

void TstSettings::subkeysEnumerateInOrderThenNotFound() {
    clsReg reg = Store();
    const QString root = QStringLiteral("system\\currentcontrolset\\enum\\ftdibus");
    const QStringList records = {QStringLiteral("VID_0403+PID_6001+A1B2C3A"),
                                 QStringLiteral("VID_0403+PID_6001+D4E5F6A")};
    for (const QString& record : records) {
        reg.WriteRegistry(HKLM, root + '\\' + record + QStringLiteral("\\0000"),
                          QStringLiteral("FriendlyName"), 1,
                          QStringLiteral("USB Serial Port (COM%1)").arg(records.indexOf(record) + 3));
    }
    QStringList seen;
    for (qint32 i = 0; i < 10; ++i) {
        const QString name = reg.ReadRegistryGetSubkey(HKLM, root, i);
        if (name == NotFound) break;
        seen << name;
    }
    QCOMPARE(seen, records);
    QCOMPARE(reg.ReadRegistryGetSubkey(HKLM, root, 2), NotFound);
    QCOMPARE(reg.ReadRegistryGetSubkey(HKLM, root, -1), NotFound);
    QCOMPARE(reg.ReadRegistry(HKLM, root + '\\' + records[1] + QStringLiteral("\\0000"),
                              QStringLiteral("FriendlyName")),
             QStringLiteral("USB Serial Port (COM4)"));
}

void TstSettings::enumerationOfValues() {
    clsReg reg = Store();
    reg.WriteRegistry(HKLM, Section, QStringLiteral("DIR"), 1, QStringLiteral("/data"));
    Plant(Section, QStringLiteral("Raw"), QStringLiteral("3:000F41"));
    reg.WriteRegistry(HKLM, Section, QStringLiteral("Count"), 4, QStringLiteral("5"));

    QMap<QString, QVariantList> byName;
    for (qint32 i = 0;; ++i) {
        const QVariantList entry = reg.ReadRegistryGetAll(HKLM, Section, i);
        QCOMPARE(entry.size(), 3);
        if (entry[2].toString() == NotFound) break;
        byName.insert(entry[1].toString(), entry);
        QVERIFY(i < 10);
    }
    QCOMPARE(byName.size(), 3);
    QCOMPARE(byName["DIR"][0].toInt(), 1);
    QCOMPARE(byName["DIR"][2].toString(), QStringLiteral("/data"));
    QCOMPARE(byName["Count"][0].toInt(), 4);
    QCOMPARE(byName["Count"][2].toString(), QStringLiteral("005"));
    // Binary data comes back under the string rule: its bytes as characters, less a final
    // NUL only (this one has none).
    QCOMPARE(byName["Raw"][0].toInt(), 3);
    QCOMPARE(byName["Raw"][2].toString(), QString(QChar(0)) + QChar(0x0f) + QChar('A'));

    QCOMPARE(reg.ReadRegistryGetAll(HKLM, QStringLiteral("Software\\None"), 0)[2].toString(),
             NotFound);
}

void TstSettings::keysMatchWithoutRegardToCase() {
    clsReg reg = Store();
    reg.WriteRegistry(HKLM, Section, QStringLiteral("DIR"), 1, QStringLiteral("/one"));
    QCOMPARE(reg.ReadRegistry(HKLM, QStringLiteral("SOFTWARE\\zorv-rzt"), QStringLiteral("dir")),
             QStringLiteral("/one"));
    // A write under another spelling replaces the value instead of adding a second one.
    reg.WriteRegistry(HKLM, QStringLiteral("software\\ZORV-rzt"), QStringLiteral("Dir"), 1,
                      QStringLiteral("/two"));
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("DIR")), QStringLiteral("/two"));
    QCOMPARE(reg.ReadRegistryGetSubkey(HKLM, QStringLiteral("software"), 0),
             QStringLiteral("ZORV-RZT"));
    QCOMPARE(reg.ReadRegistryGetSubkey(HKLM, QStringLiteral("software"), 1), NotFound);
}

void TstSettings::survivesAcrossInstances() {
    {
        clsReg first = Store();
        first.WriteRegistry(HKLM, Section, QStringLiteral("DIR"), 1, QStringLiteral("/saved/here"));
    }
    clsReg second = Store();
    QCOMPARE(second.ReadRegistry(HKLM, Section, QStringLiteral("DIR")), QStringLiteral("/saved/here"));
}

void TstSettings::damagedFilesReadAsEmpty_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[[[=\x01\x02\n\x80\x81", 12);
    QTest::newRow("group of no name")
        << QByteArray("[HKEY_LOCAL_MACHINE]\n\xff\xff\xff\xffsft\\H\n\\r=0\xba" "433");
    QTest::newRow("cut-off entry") << QByteArray("[HKEY_LOCAL_MACHINE]\nSoftware\\ZORV-RZT\\DIR=1:4");
    QTest::newRow("value of another shape")
        << QByteArray("[HKEY_LOCAL_MACHINE]\nSoftware\\ZORV-RZT\\DIR=@ByteArray(xyz)\n");
}

void TstSettings::damagedFilesReadAsEmpty() {
    QFETCH(QByteArray, content);
    QFile file(Path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    clsReg reg = Store();
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("DIR")), QString());
    // Whatever the enumeration finds is a usable key name, and it ends.
    for (const QString& section : {QString(), QStringLiteral("Software")}) {
        qint32 i = 0;
        for (QString sub; (sub = reg.ReadRegistryGetSubkey(HKLM, section, i)) != NotFound; ++i) {
            QVERIFY2(!sub.isEmpty() && !sub.contains('\\') && !sub.contains('/'), qPrintable(sub));
            QVERIFY(i < 100);
        }
    }
    // The store stays usable: a write after the damage reads back.
    reg.WriteRegistry(HKLM, Section, QStringLiteral("DIR"), 1, QStringLiteral("/fresh"));
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("DIR")), QStringLiteral("/fresh"));
}

void TstSettings::deleteValueAndSubkey() {
    clsReg reg = Store();
    reg.WriteRegistry(HKLM, Section, QStringLiteral("DIR"), 1, QStringLiteral("/a"));
    reg.WriteRegistry(HKLM, Section, QStringLiteral("Other"), 1, QStringLiteral("/b"));
    reg.WriteRegistry(HKLM, Section + QStringLiteral("\\Child"), QStringLiteral("X"), 4,
                      QStringLiteral("1"));
    reg.DeleteValue(HKLM, Section, QStringLiteral("DIR"));
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("DIR")), QString());
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("Other")), QStringLiteral("/b"));
    reg.DeleteSubkey(HKLM, Section + QStringLiteral("\\child"));
    QCOMPARE(reg.ReadRegistryGetSubkey(HKLM, Section, 0), NotFound);
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("Other")), QStringLiteral("/b"));
    // Deleting what isn't there is silent.
    reg.DeleteValue(HKLM, QStringLiteral("Software\\None"), QStringLiteral("DIR"));
    reg.DeleteSubkey(HKLM, QStringLiteral("Software\\None"));
    reg.DeleteSubkey(HKLM, QString());
    QCOMPARE(reg.ReadRegistry(HKLM, Section, QStringLiteral("Other")), QStringLiteral("/b"));
}

void TstSettings::deletesAsTheRegistryDoes_data() {
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < RegDeleteCases().size(); ++i)
        QTest::newRow(RegDeleteCases()[i].label) << static_cast<int>(i);
}

void TstSettings::deletesAsTheRegistryDoes() {
    QFETCH(int, index);
    const RegDeleteCase& c = RegDeleteCases()[static_cast<std::size_t>(index)];
    IniRegStore store(Path());
    const auto at = [](const std::string& path) {
        return path.empty() ? Section : Section + '\\' + QString::fromStdString(path);
    };
    RegAccess access;
    access.write = [&](const std::string& path, const std::string& name, const std::string& data) {
        store.WriteRegistry(HKLM, at(path), QString::fromStdString(name), 1,
                            QString::fromStdString(data));
    };
    access.deleteValue = [&](const std::string& path, const std::string& name) {
        store.DeleteValue(HKLM, at(path), QString::fromStdString(name));
    };
    access.deleteSubkey = [&](const std::string& path) { store.DeleteSubkey(HKLM, at(path)); };
    access.valueAt = [&](const std::string& path, int idx)
        -> std::optional<std::pair<std::string, std::string>> {
        const RegValueEntry entry = store.ReadRegistryGetAll(HKLM, at(path), idx);
        if (entry.data == NotFound) return std::nullopt;
        return std::pair{entry.name.toStdString(), entry.data.toStdString()};
    };
    access.subkeyAt = [&](const std::string& path, int idx) -> std::optional<std::string> {
        const QString name = store.ReadRegistryGetSubkey(HKLM, at(path), idx);
        if (name == NotFound) return std::nullopt;
        return name.toStdString();
    };
    QCOMPARE(QString::fromStdString(RunRegDeleteCase(access, c)), QString::fromLatin1(c.after));
}

void TstSettings::defaultFileLivesInTheUserConfigLocation() {
#ifdef Q_OS_WIN
    QSKIP("The Windows program keeps its settings in the registry, not in this file");
#endif
    qputenv("XDG_CONFIG_HOME", dir_->path().toUtf8());
    const QString path = IniRegStore::DefaultFilePath();
    QVERIFY2(path.startsWith(dir_->path()), qPrintable(path));
    clsReg reg(std::make_unique<IniRegStore>());
    reg.WriteRegistry(HKLM, Section, QStringLiteral("DIR"), 1, QStringLiteral("/x"));
    QVERIFY(QFile::exists(path));
    qunsetenv("XDG_CONFIG_HOME");
}

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
