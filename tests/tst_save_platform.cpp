// Saving on the platform's own terms: the remembered folder ("DIR") in the platform's
// separators and kept per user when the machine-wide root refuses it, and the failure number
// and text of the system (GetLastError and FormatMessage on Windows) in the save's messages,
// and a flush the drive does not support.

#include "TestDialogs.h"
#include "clsReg.h"
#include "modMain.h"
#include "retrieve/SaveFile.h"
#include "retrieve/SavedFolder.h"
#include "retrieve/frmMain.h"
#include "RichTextBox.h"

#include <QLabel>
#include <QTemporaryDir>
#include <cerrno>
#include <QtTest>
#include <memory>

#ifdef Q_OS_WIN
#include "Win32RegStore.h"
#include <windows.h>
#else
#include "IniRegStore.h"
#include <sys/stat.h>
#include <unistd.h>
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

// The drive's answer to the flush before the replacing.
struct FlushAnswer {
    static inline int answer = 0;
    static int Flush(qintptr) { return answer; }
};

// A folder that refuses new files to this user, for as long as this lives: by its permissions
// where this user is bound by them (not root), else on Windows by the create being refused in
// the system's place (under Wine the tests run as root, and Wine maps access onto the Unix
// permissions, which root passes).
class DeniedFolder {
public:
    explicit DeniedFolder(const QString& folder) : folder_(folder) {
#ifdef Q_OS_WIN
        refusing = true;
        SetCreateBeside([](const wchar_t*) -> void* {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        });
#else
        static_cast<void>(::chmod(QFile::encodeName(folder).constData(), 0555));
        QFile probe(folder + QStringLiteral("/probe"));
        held = !probe.open(QIODevice::WriteOnly);
        if (!held) probe.remove();
#endif
    }
    ~DeniedFolder() {
#ifdef Q_OS_WIN
        SetCreateBeside(nullptr);
#else
        static_cast<void>(::chmod(QFile::encodeName(folder_).constData(), 0755));
#endif
    }
    bool held = false;     // the folder itself refuses
    bool refusing = false; // the create is refused in the system's place

private:
    QString folder_;
};

} // namespace

class TstSavePlatform : public QObject {
    Q_OBJECT
private slots:
    void init();
    void rememberedFolder_data();
    void rememberedFolder();
    void saveOutcomes_data();
    void saveOutcomes();

private:
    std::unique_ptr<clsReg> Reg(bool refuseMachine);
    std::unique_ptr<QTemporaryDir> dir_;
};

void TstSavePlatform::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    // The window's own settings store: on Windows the prefix's registry, elsewhere a file
    // under the configuration folder, here a temporary one.
    qputenv("XDG_CONFIG_HOME", dir_->filePath(QStringLiteral("config")).toUtf8());
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

void TstSavePlatform::saveOutcomes_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("lead"); // of the message; empty: the save goes through
    QTest::addColumn<int>("number");   // the system's, in the message or from the flush
    const QString open = QStringLiteral("Could not Open ");
    const QString close = QStringLiteral("Could not Close ");
#ifdef Q_OS_WIN
    QTest::newRow("missing folder") << "missing" << open << int(ERROR_PATH_NOT_FOUND);
    QTest::newRow("folder the user may not write to") << "denied" << open << int(ERROR_ACCESS_DENIED);
    QTest::newRow("file held open without sharing") << "held" << open << int(ERROR_SHARING_VIOLATION);
    QTest::newRow("flush: invalid function") << "flush" << QString() << int(ERROR_INVALID_FUNCTION);
    QTest::newRow("flush: not supported") << "flush" << QString() << int(ERROR_NOT_SUPPORTED);
    QTest::newRow("flush: disk full") << "flush" << close << int(ERROR_DISK_FULL);
    // Windows drops a name's trailing dots: "run.csv." is run.csv, not a file beside it.
    QTest::newRow("a name ending in a dot") << "dotted" << QString() << 0;
#else
    QTest::newRow("missing folder") << "missing" << open << ENOENT;
    QTest::newRow("folder the user may not write to") << "denied" << open << EACCES;
    QTest::newRow("flush: invalid") << "flush" << QString() << EINVAL;
    QTest::newRow("flush: not supported") << "flush" << QString() << ENOTSUP;
    QTest::newRow("flush: disk full") << "flush" << close << ENOSPC;
#endif
}

// Through the window, as the user saves: the message, the status, the old file, "DIR".
void TstSavePlatform::saveOutcomes() {
    QFETCH(QString, kind);
    QFETCH(QString, lead);
    QFETCH(int, number);
    const QString folder = dir_->filePath(kind == QLatin1String("missing") ? QStringLiteral("no such folder")
                                                                            : QStringLiteral("data"));
    const QString path = folder + QStringLiteral("/run.csv");
    if (kind != QLatin1String("missing")) {
        QVERIFY(QDir().mkpath(folder));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("OLD,1\r\n");
    }

    std::unique_ptr<DeniedFolder> denied;
    if (kind == QLatin1String("denied")) {
        denied = std::make_unique<DeniedFolder>(folder);
        if (!denied->held && !denied->refusing) QSKIP("every folder takes new files for this user (root)");
        qInfo("%s", denied->held ? "the folder refuses new files" : "the create is refused in its place");
    }
    FlushAnswer::answer = number;
    if (kind == QLatin1String("flush")) SetFlushToDisk(&FlushAnswer::Flush);
    const auto restoreFlush = qScopeGuard([] { SetFlushToDisk(nullptr); });
#ifdef Q_OS_WIN
    HANDLE held = INVALID_HANDLE_VALUE;
    if (kind == QLatin1String("held"))
        held = CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(),
                           GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    const auto release = qScopeGuard([&] {
        if (held != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
    });
    if (kind == QLatin1String("held")) QVERIFY(held != INVALID_HANDLE_VALUE);
#endif

    modMain link;
    link.Reg = std::make_unique<clsReg>();
    TestDialogs dialogs;
    frmMain window(link, dialogs);
    window.txt->SetText(QStringLiteral("NEW,2\r\n"));
    dialogs.saveAnswers.enqueue(kind == QLatin1String("dotted") ? path + QLatin1Char('.') : path);
    window.cmd_Click(5);
    denied.reset();
#ifdef Q_OS_WIN
    if (held != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
#endif

    if (lead.isEmpty()) {
        QCOMPARE(dialogs.messages.size(), 0);
        QCOMPARE(window.lblStatus->text(), QStringLiteral("Save Data Complete"));
    } else {
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, lead + QDir::toNativeSeparators(path) +
                                               QStringLiteral("\r\nErr: ") + QString::number(number) +
                                               QStringLiteral(" - ") + qt_error_string(number));
        QCOMPARE(dialogs.messages[0].icon, Dialogs::Icon::Critical);
        QCOMPARE(window.lblStatus->text(), QStringLiteral("Errors will Saving Data"));
    }
    if (kind != QLatin1String("missing")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), lead.isEmpty() ? QByteArrayLiteral("NEW,2\r\n") : QByteArrayLiteral("OLD,1\r\n"));
        // No temporary file left behind.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("run.csv")});
    }
    QCOMPARE(ReadSavedFolder(*link.Reg), QDir::toNativeSeparators(folder));
}

QTEST_MAIN(TstSavePlatform)
#include "tst_save_platform.moc"
