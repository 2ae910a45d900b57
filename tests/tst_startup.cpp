// Starting the real program: one instance at a time, and a lock left by a killed run does not
// stand in the way of the next start.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

class TstStartup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void aKilledRunLeavesNoLockBehind();
    void aRunningInstanceKeepsItsLock();

private:
    QProcess* Start();
    QString LockPath() const;
    qint64 LockOwner() const;

    std::unique_ptr<QTemporaryDir> dir_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

void TstStartup::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
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

QProcess* TstStartup::Start() {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), dir_->path());
    env.insert(QStringLiteral("TMP"), QDir::toNativeSeparators(dir_->path())); // Windows
    env.insert(QStringLiteral("TEMP"), QDir::toNativeSeparators(dir_->path()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_->path());
    process->setProcessEnvironment(env);
    process->setProgram(QStringLiteral(RZT_BINARY));
    process->start();
    processes_.push_back(std::move(process));
    return processes_.back().get();
}

QString TstStartup::LockPath() const {
    const QStringList locks =
        QDir(dir_->path()).entryList({QStringLiteral("zorv-rzt*.lock")}, QDir::Files);
    return locks.isEmpty() ? QString() : dir_->filePath(locks.first());
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

QTEST_GUILESS_MAIN(TstStartup)
#include "tst_startup.moc"
