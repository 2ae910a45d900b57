// Starting the real program: one instance at a time, a lock left by a killed run does not
// stand in the way of the next start, and nothing but a running instance does.

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <pty.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

class TstStartup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void aKilledRunLeavesNoLockBehind();
    void aRunningInstanceKeepsItsLock();
    void namesReachTheProgramWhole_data();
    void namesReachTheProgramWhole();
#ifndef Q_OS_WIN
    void nothingElseStopsTheStart_data();
    void nothingElseStopsTheStart();
#endif

private:
    QProcess* Start(const QStringList& arguments = {});
#ifdef Q_OS_WIN
    // Where the lock goes: the user's temporary folder, which Windows takes from TMP.
    QString RuntimeFolder() const { return dir_->filePath(QStringLiteral("tmp")); }
#else
    QString RuntimeFolder() const { return dir_->filePath(QStringLiteral("run")); }
#endif
    QString LockPath() const;
    qint64 LockOwner() const;

    std::unique_ptr<QTemporaryDir> dir_;
    std::vector<std::unique_ptr<QProcess>> processes_;
    QString runtimeDir_;
};

void TstStartup::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir().mkpath(RuntimeFolder()));
#ifndef Q_OS_WIN
    QVERIFY(QFile::setPermissions(RuntimeFolder(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner));
#endif
    QVERIFY(QDir().mkpath(dir_->filePath(QStringLiteral("tmp"))));
    runtimeDir_ = RuntimeFolder();
}

void TstStartup::cleanup() {
    for (auto& process : processes_) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    processes_.clear();
    dir_.reset();
}

QProcess* TstStartup::Start(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), dir_->filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir_);
    env.insert(QStringLiteral("TMP"), QDir::toNativeSeparators(dir_->filePath(QStringLiteral("tmp")))); // Windows
    env.insert(QStringLiteral("TEMP"), QDir::toNativeSeparators(dir_->filePath(QStringLiteral("tmp"))));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_->path());
    env.insert(QStringLiteral("USER"), QStringLiteral("rzt-test"));
    process->setProcessEnvironment(env);
    process->setProgram(QStringLiteral(RZT_BINARY));
    process->setArguments(arguments);
    process->start();
    processes_.push_back(std::move(process));
    return processes_.back().get();
}

QString TstStartup::LockPath() const {
    const QStringList locks =
        QDir(RuntimeFolder()).entryList({QStringLiteral("zorv-rzt*.lock")}, QDir::Files);
    return locks.isEmpty() ? QString() : QDir(RuntimeFolder()).filePath(locks.first());
}

qint64 TstStartup::LockOwner() const {
    const QString path = LockPath();
    if (path.isEmpty()) return -1;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    return file.readLine().trimmed().toLongLong();
}

void TstStartup::aKilledRunLeavesNoLockBehind() {
    QProcess* first = Start();
    QVERIFY(first->waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(LockOwner(), first->processId(), 15000);

#ifdef Q_OS_WIN
    first->kill(); // TerminateProcess: no chance to clean up either
#else
    ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
#endif
    QVERIFY(first->waitForFinished(10000));
    QVERIFY(QFile::exists(LockPath())); // the killed run could not clean up

    QProcess* second = Start();
    QVERIFY(second->waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(LockOwner(), second->processId(), 15000);
    QTest::qWait(300);
    QCOMPARE(second->state(), QProcess::Running);
}

void TstStartup::aRunningInstanceKeepsItsLock() {
    QProcess* first = Start();
    QVERIFY(first->waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(LockOwner(), first->processId(), 15000);

    // The second start is refused (it waits on its message box, which nobody answers here).
    QProcess* second = Start();
    QVERIFY(second->waitForStarted(10000));
    QTest::qWait(1500);
    QCOMPARE(LockOwner(), first->processId());
    QCOMPARE(first->state(), QProcess::Running);
}

// A name outside the Windows ANSI code page must reach the program and come back in its message
// as typed, not as question marks. The folder is missing, so the run ends before any device is
// looked for.
void TstStartup::namesReachTheProgramWhole_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("Polish, outside Western European") << QStringLiteral("\u0141ukasz");
    QTest::newRow("Chinese") << QStringLiteral("\u6570\u636e \u6587\u4ef6");
}

void TstStartup::namesReachTheProgramWhole() {
    QFETCH(QString, folder);
    const QString target = QDir::toNativeSeparators(dir_->filePath(folder + QStringLiteral("/x.csv")));
    QProcess* run = Start({QStringLiteral("--download"), QStringLiteral("timer"),
                           QStringLiteral("--output"), target, QStringLiteral("--wait"),
                           QStringLiteral("1")});
    QVERIFY(run->waitForFinished(30000));
    const QString errors = QString::fromUtf8(run->readAllStandardError());
    QVERIFY2(errors.contains(target), qPrintable(errors));
    QCOMPARE(run->exitCode(), 4); // the file could not be written
}

#ifndef Q_OS_WIN
void TstStartup::nothingElseStopsTheStart_data() {
    QTest::addColumn<QString>("situation");
    // Another user of the machine can write to the temporary folder, never to this user's
    // runtime folder.
    QTest::newRow("a lock of another's in the temporary folder") << "foreign";
    // Read-only: the lock cannot be made at all (needs root for the mount).
    QTest::newRow("a runtime folder that takes no lock") << "read-only";
    QTest::newRow("a folder where the lock would be") << "folder";
}

void TstStartup::nothingElseStopsTheStart() {
    QFETCH(QString, situation);
    const QString tmp = dir_->filePath(QStringLiteral("tmp"));
    QLockFile foreignNamed(tmp + QStringLiteral("/zorv-rzt-rzt-test.lock"));
    QLockFile foreignPlain(tmp + QStringLiteral("/zorv-rzt.lock"));
    const QByteArray runtime = RuntimeFolder().toLocal8Bit();
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted) ::umount2(runtime.constData(), MNT_DETACH);
    });
    if (situation == QStringLiteral("foreign")) {
        QVERIFY(foreignNamed.tryLock(0));
        QVERIFY(foreignPlain.tryLock(0));
    } else if (situation == QStringLiteral("read-only")) {
        if (::geteuid() != 0 || ::mount("rzt-test", runtime.constData(), "tmpfs", MS_RDONLY,
                                        "size=16k,mode=0700") != 0)
            QSKIP("needs root and a tmpfs mount");
        mounted = true;
    } else {
        QVERIFY(QDir().mkpath(RuntimeFolder() + QStringLiteral("/zorv-rzt.lock")));
    }

    // A program that has started searches: it opens the port it is given and asks "?".
    int master = -1, slave = -1;
    char name[256] = {};
    QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
    const auto closeBoth = qScopeGuard([&] {
        ::close(master);
        ::close(slave);
    });
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    QByteArray asked;
    QSocketNotifier readable(master, QSocketNotifier::Read);
    connect(&readable, &QSocketNotifier::activated, this, [&] {
        char buffer[64];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) asked.append(buffer, n);
    });

    QProcess* program = Start({QStringLiteral("--port"), QString::fromLocal8Bit(name)});
    QVERIFY(program->waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(asked.contains('?'), 15000);
    QCOMPARE(program->state(), QProcess::Running);
}
#endif

QTEST_GUILESS_MAIN(TstStartup)
#include "tst_startup.moc"
