// Saving on the platform's own terms: the remembered folder ("DIR") in the platform's
// separators and kept per user when the machine-wide root refuses it, and the failure number
// and text of the system (GetLastError and FormatMessage on Windows).

#include "clsReg.h"
#include "retrieve/SaveFile.h"
#include "retrieve/SavedFolder.h"

#include <QTemporaryDir>
#include <cerrno>
#include <QtTest>
#include <memory>

#ifdef Q_OS_WIN
#include "Win32RegStore.h"
#include <windows.h>
#else
#include "IniRegStore.h"
#endif

namespace {

const QString Section = QStringLiteral("Software\\ZORV-RZT");
const QString Dir = QStringLiteral("DIR");

// The platform's store, with the machine-wide root refusing writes as it does for a standard
// Windows user; what it refuses it never stores.
class RefusingStore : public RegStore {
public:
    RefusingStore(std::unique_ptr<RegStore> inner, bool refuseMachine)
        : inner_(std::move(inner)), refuseMachine_(refuseMachine) {}
    QString ReadRegistry(quint32 g, const QString& s, const QString& k) override {
        return inner_->ReadRegistry(g, s, k);
    }
    bool WriteRegistry(quint32 g, const QString& s, const QString& k, qint32 t,
                       const QString& v) override {
        if (refuseMachine_ && g == clsReg::LocalMachine) return false;
        return inner_->WriteRegistry(g, s, k, t, v);
    }
    QString ReadRegistryGetSubkey(quint32 g, const QString& s, qint32 i) override {
        return inner_->ReadRegistryGetSubkey(g, s, i);
    }
    RegValueEntry ReadRegistryGetAll(quint32 g, const QString& s, qint32 i) override {
        return inner_->ReadRegistryGetAll(g, s, i);
    }
    void DeleteSubkey(quint32 g, const QString& s) override { inner_->DeleteSubkey(g, s); }
    void DeleteValue(quint32 g, const QString& s, const QString& k) override {
        inner_->DeleteValue(g, s, k);
    }

private:
    std::unique_ptr<RegStore> inner_;
    bool refuseMachine_;
};

} // namespace

class TstSavePlatform : public QObject {
    Q_OBJECT
private slots:
    void init();
    void rememberedFolder_data();
    void rememberedFolder();
    void failureNumbersAreTheSystems_data();
    void failureNumbersAreTheSystems();

private:
    std::unique_ptr<clsReg> Reg(bool refuseMachine);
    std::unique_ptr<QTemporaryDir> dir_;
};

void TstSavePlatform::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    auto reg = Reg(false);
    reg->DeleteValue(clsReg::LocalMachine, Section, Dir);
    reg->DeleteValue(clsReg::CurrentUser, Section, Dir);
}

std::unique_ptr<clsReg> TstSavePlatform::Reg(bool refuseMachine) {
#ifdef Q_OS_WIN
    auto store = std::make_unique<Win32RegStore>(); // the prefix's real registry under Wine
#else
    auto store = std::make_unique<IniRegStore>(dir_->filePath(QStringLiteral("RZT.ini")));
#endif
    return std::make_unique<clsReg>(std::make_unique<RefusingStore>(std::move(store), refuseMachine));
}

void TstSavePlatform::rememberedFolder_data() {
    QTest::addColumn<bool>("refuseMachine");
    QTest::addColumn<QString>("oldMachineValue"); // left by an installer, or by an earlier run
    QTest::addColumn<QString>("dialogPath");
    QTest::addColumn<QString>("stored");
#ifdef Q_OS_WIN
    const QString path = QStringLiteral("C:/Users/Ann/Data/run 1.csv");
    const QString folder = QStringLiteral("C:\\Users\\Ann\\Data");
#else
    const QString path = QStringLiteral("/home/ann/data/run 1.csv");
    const QString folder = QStringLiteral("/home/ann/data");
#endif
    QTest::newRow("machine root takes it") << false << QString() << path << folder;
    QTest::newRow("machine root refuses") << true << QString() << path << folder;
    QTest::newRow("refused, over an old machine value")
        << true << QStringLiteral("D:\\Old") << path << folder;
}

void TstSavePlatform::rememberedFolder() {
    QFETCH(bool, refuseMachine);
    QFETCH(QString, oldMachineValue);
    QFETCH(QString, dialogPath);
    QFETCH(QString, stored);
    if (!oldMachineValue.isEmpty())
        QVERIFY(Reg(false)->WriteRegistry(clsReg::LocalMachine, Section, Dir, 1, oldMachineValue));

    auto reg = Reg(refuseMachine);
    RememberSavedFolder(*reg, dialogPath);
    QCOMPARE(ReadSavedFolder(*reg), stored);
    // And in a later run (a new store object), as the dialog's starting folder.
    QCOMPARE(ReadSavedFolder(*Reg(refuseMachine)), stored);
    const QString where = refuseMachine ? reg->ReadRegistry(clsReg::CurrentUser, Section, Dir)
                                        : reg->ReadRegistry(clsReg::LocalMachine, Section, Dir);
    QCOMPARE(where, stored);

    // Once the machine root takes a save again, no per-user value is left to shadow it.
    if (refuseMachine) {
        auto allowed = Reg(false);
        RememberSavedFolder(*allowed, dir_->filePath(QStringLiteral("later.csv")));
        const QString later = QDir::toNativeSeparators(dir_->path());
        QCOMPARE(ReadSavedFolder(*allowed), later);
        QCOMPARE(allowed->ReadRegistry(clsReg::CurrentUser, Section, Dir), QString());
    }
}

void TstSavePlatform::failureNumbersAreTheSystems_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing folder") << "missing folder";
#ifdef Q_OS_WIN
    QTest::newRow("file held open without sharing") << "held";
#endif
}

void TstSavePlatform::failureNumbersAreTheSystems() {
    QFETCH(QString, kind);
    if (kind == QLatin1String("missing folder")) {
        const QString path = dir_->filePath(QStringLiteral("no such folder/run.csv"));
        const SaveOutcome outcome = WriteWholeFile(path, QByteArrayLiteral("A\r\n"));
        QCOMPARE(outcome.failed, SaveOutcome::Step::Open);
#ifdef Q_OS_WIN
        QCOMPARE(outcome.number, 3); // ERROR_PATH_NOT_FOUND
        // Windows words it "The system cannot find the path specified.", Wine "Path not found."
        QCOMPARE(outcome.description, qt_error_string(3));
#else
        QCOMPARE(outcome.number, ENOENT);
        QCOMPARE(outcome.description, qt_error_string(ENOENT));
#endif
        QVERIFY(!QFile::exists(path));
        return;
    }
#ifdef Q_OS_WIN
    // Another program holds the file open and shares nothing: the save cannot replace it, and
    // the file keeps what it had.
    const QString path = dir_->filePath(QStringLiteral("held.csv"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old\r\n");
    }
    HANDLE held = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                              GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    QVERIFY(held != INVALID_HANDLE_VALUE);
    const SaveOutcome outcome = WriteWholeFile(path, QByteArrayLiteral("new\r\n"));
    CloseHandle(held);
    QVERIFY(!outcome.Ok());
    // ERROR_SHARING_VIOLATION or ERROR_ACCESS_DENIED, depending on the step that meets the lock
    QVERIFY2(outcome.number == ERROR_SHARING_VIOLATION || outcome.number == ERROR_ACCESS_DENIED,
             qPrintable(QString::number(outcome.number) + QStringLiteral(" ") + outcome.description));
    QCOMPARE(outcome.description, qt_error_string(outcome.number));
    QVERIFY(!outcome.description.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArrayLiteral("old\r\n"));
#endif
}

QTEST_GUILESS_MAIN(TstSavePlatform)
#include "tst_save_platform.moc"
