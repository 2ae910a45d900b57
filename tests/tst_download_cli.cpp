// `rzt --download` as a script runs it: the real binary with no display at all, against the
// simulated device on a pseudo-terminal. What it saves must be what the retrieval window's
// "&Save" saves for the same device data, byte for byte; every way it can end has its own
// exit status, and none of the failures touches a file that was there before.

#include "EndToEnd.h"
#include "search/SingleInstance.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QtTest>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray OldFile = "OLD,1\r\n";

// Readings with what the line-end rewrite and the saving rules act on: spaces round a line, a
// tab, a lone CR and a lone LF, bytes beyond ASCII, and a last line the device never finished.
QByteArray Readings(char kind, int lines) {
    return SimConfig::GeneratedLines(kind, lines) + " " + kind + ",9, spaced \r\n\t" + kind +
           ",tab\r\r\n" + kind + ",\xE9\xFF\r\n\n" + kind + ",unfinished";
}

// Routes streamed text to the retrieval window, as the search window does in the program.
struct Router : LinkWindows {
    frmMain* main = nullptr;
    void ShowIdentity(const QString&) override {}
    void FinishSearch() override {}
    void AppendReceived(const QString& text) override { main->AppendReceived(text); }
    void LinkLost() override {}
};

// A folder whose files can be read but not replaced, whoever runs the test: a read-only mount
// for root, whom permissions do not stop; the folder's own permissions otherwise.
struct ReadOnlyFolder {
    QByteArray path;
    bool mounted = false;
    bool made = false;
    ReadOnlyFolder(const QString& folder, const QString& file, const QByteArray& bytes)
        : path(folder.toLocal8Bit()) {
        if (!QDir().mkpath(folder)) return;
        if (::geteuid() == 0) {
            mounted = ::mount("rzt-test", path.constData(), "tmpfs", 0, "size=64k") == 0;
            made = mounted && WriteBytes(folder + QLatin1Char('/') + file, bytes) &&
                   ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
        } else {
            made = WriteBytes(folder + QLatin1Char('/') + file, bytes) && ::chmod(path.constData(), 0555) == 0;
        }
    }
    ~ReadOnlyFolder() {
        if (mounted) ::umount2(path.constData(), MNT_DETACH);
        else ::chmod(path.constData(), 0755);
    }
};

// Whether another user can reach the program: not so under a home folder of mode 0700.
bool OthersReachProgram() {
    for (QString folder = QFileInfo(QStringLiteral(RZT_BINARY)).absolutePath();;
         folder = QFileInfo(folder).absolutePath()) {
        struct stat st {};
        if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !(st.st_mode & S_IXOTH))
            return false;
        if (folder == QLatin1String("/")) return true;
    }
}

// A terminal of the test's own, raw, to write the saved bytes to: a character device.
struct Terminal {
    int master = -1, slave = -1;
    QString name;
    Terminal() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
        name = QString::fromLocal8Bit(::ptsname(master));
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY); // held, so that no hang-up comes
        termios raw {};
        if (slave < 0 || ::tcgetattr(slave, &raw) != 0) return;
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    ~Terminal() {
        for (int fd : {slave, master})
            if (fd >= 0) ::close(fd);
    }
    QByteArray Read() const {
        QByteArray bytes;
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
        return bytes;
    }
};

} // namespace

class TstDownloadCli : public EndToEnd {
    Q_OBJECT
private slots:
    void init() { QVERIFY(SetUp()); }
    void cleanup() { TearDown(); }
    void download_data();
    void download();

private:
    QByteArray WindowSave(int button);
};

// The retrieval window's download with the given button and its "&Save", as a user does them.
QByteArray TstDownloadCli::WindowSave(int button) {
    Router router;
    MakeRetrievalWindow(router);
    router.main = main_.get();
    link_->PortList = {sim_->portName()};
    link_->OpenFirstPort();
    link_->PortSearching = false;
    main_->FillForm();
    main_->cmd_Click(button);
    const QString path = dir_->filePath(QStringLiteral("window.csv"));
    dialogs_->saveAnswers.enqueue(path);
    main_->cmd_Click(5);
    link_->timComm.stop();
    link_->Comm.close();
    link_->SetWindows(nullptr);
    return FileBytes(path);
}

void TstDownloadCli::download_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");

    QTest::newRow("timer") << "timer" << "" << 0 << "Save Data Complete";
    QTest::newRow("rpm") << "rpm" << "" << 0 << "Save Data Complete";
    QTest::newRow("chronograph") << "chronograph" << "" << 0 << "Save Data Complete";
    QTest::newRow("all, to standard output") << "all" << "stdout" << 0
                                             << "Save Data Complete: standard output";
    QTest::newRow("a wrong kind") << "sometimes" << "" << 1 << "Usage: ";
    QTest::newRow("a device that never answers") << "timer" << "off" << 2
                                                 << "did not identify itself within 2 s";
    QTest::newRow("answers \"?\" but not \"H\"") << "timer" << "no header" << 3
                                                 << "rzt: Unable to Receive Data";
    // Told before the device is asked for anything; a folder that refuses is named.
    QTest::newRow("a folder that takes no file") << "all" << "read-only" << 4 << "/ro: Err: ";
    QTest::newRow("a folder that does not exist") << "timer" << "missing folder" << 4
                                                  << "/none/readings.csv: Err: 2 - ";
    QTest::newRow("a folder in place of the file") << "timer" << "folder" << 4
                                                   << "readings.csv: Err: 21 - ";
    QTest::newRow("a writable file in a folder this user may not write to")
        << "timer" << "denied folder" << 4 << "/denied: Err: 13 - ";
    QTest::newRow("another user's link in a shared folder") << "timer" << "planted link" << 4
                                                             << "Err: 13 - ";
    // Written in place, never replaced.
    QTest::newRow("a FIFO") << "all" << "fifo" << 0 << "Save Data Complete";
    QTest::newRow("a character device") << "all" << "terminal" << 0 << "Save Data Complete";
    QTest::newRow("a read-only file, as root") << "rpm" << "0444" << 0 << "Save Data Complete";
    QTest::newRow("a port held by another program") << "timer" << "held" << 5
                                                    << "in use by another program";
    // Not held, refused: the hint, and the search goes on until --wait ends.
    QTest::newRow("a port this user may not open") << "timer" << "refused" << 2
                                                   << "may not be opened by you";
    // The rest of a download another run stopped halfway, still coming as the port opens.
    QTest::newRow("the device still sending") << "timer" << "still sending" << 0
                                              << "Device Found: RZT-3000 SN 004211  Version 2.05";
    QTest::newRow("Ctrl+C while the data comes") << "all" << "interrupt" << 130
                                                 << "interrupted: nothing saved";
    // As a line that never goes quiet: data that would take a minute, and a bound of 5 s.
    QTest::newRow("a download that outlasts --max-time") << "all" << "endless" << 3
                                                         << "did not end within 5 s";
    QTest::newRow("--wait ''") << "timer" << "empty wait" << 1 << "Usage: ";
    QTest::newRow("--port ''") << "timer" << "empty port" << 1 << "Usage: ";
    // Judged before any window system is touched: an error, not an abort.
    QTest::newRow("options with one dash") << "timer" << "one dash" << 1 << "Unknown options: d, o, w";
    QTest::newRow("an unknown option") << "" << "bogus" << 1 << "Unknown option 'bogus'";
    QTest::newRow("the window, with no display") << "" << "window" << 1 << "rzt: no display: ";
    QTest::newRow("the ssh connection drops") << "all" << "hang-up" << 130 << "interrupted: nothing saved";
}

void TstDownloadCli::download() {
    QFETCH(QString, kind);
    QFETCH(QString, situation);
    QFETCH(int, status);
    QFETCH(QString, says);

    SetDevice([](SimConfig& c) {
        c.timerData = Readings('T', 4);
        c.rpmData = Readings('R', 4);
        c.chronoData = Readings('C', 4);
        c.lineRate = false;
    });
    QString path = dir_->filePath(QStringLiteral("readings.csv"));
    QVERIFY(WriteBytes(path, OldFile));
    std::unique_ptr<ReadOnlyFolder> readOnly;
    QTemporaryDir open; // a folder another user may enter
    QSerialPort holder(sim_->portName());
    QStringList wait{QStringLiteral("--wait"), QStringLiteral("30")};
    if (situation == QLatin1String("off")) {
        sim_->switchOff();
        wait.last() = QStringLiteral("2");
    } else if (situation == QLatin1String("no header")) {
        SetDevice([](SimConfig& c) { c.header.clear(); });
    } else if (situation == QLatin1String("read-only")) {
        readOnly = std::make_unique<ReadOnlyFolder>(dir_->filePath(QStringLiteral("ro")),
                                                    QStringLiteral("readings.csv"), OldFile);
        if (!readOnly->made && ::geteuid() == 0) QSKIP("needs a tmpfs mount, as root");
        QVERIFY(readOnly->made);
        path = dir_->filePath(QStringLiteral("ro/readings.csv"));
    } else if (situation == QLatin1String("held")) {
        QVERIFY(holder.open(QIODevice::ReadWrite));
        wait.clear(); // the default minute: it must give up at once all the same
    } else if (situation == QLatin1String("refused")) {
        if (::geteuid() != 0) QSKIP("needs root, to hand the port to root alone and run as another user");
        if (!OthersReachProgram()) QSKIP("the program's folder is closed to other users here");
        const QByteArray pty = sim_->portName().toLocal8Bit();
        QVERIFY(::chown(pty.constData(), 0, 0) == 0 && ::chmod(pty.constData(), 0600) == 0);
        wait.last() = QStringLiteral("2");
    } else if (situation == QLatin1String("missing folder")) {
        path = dir_->filePath(QStringLiteral("none/readings.csv"));
    } else if (situation == QLatin1String("folder")) {
        QVERIFY(QFile::remove(path) && QDir().mkdir(path));
    } else if (situation == QLatin1String("denied folder") || situation == QLatin1String("planted link")) {
        if (::geteuid() != 0) QSKIP("needs root, to run as another user or to give a link away");
        if (!OthersReachProgram()) QSKIP("the program's folder is closed to other users here");
        const bool denied = situation == QLatin1String("denied folder");
        // Outside the test's folder, which is the runtime folder and must stay the owner's.
        QVERIFY(open.isValid() && ::chmod(QFile::encodeName(open.path()).constData(), 0755) == 0);
        const QString folder = open.filePath(denied ? QStringLiteral("denied") : QStringLiteral("shared"));
        QVERIFY(QDir().mkdir(folder));
        const QByteArray name = QFile::encodeName(folder + QStringLiteral("/readings.csv"));
        if (denied) {
            QVERIFY(WriteBytes(QString::fromLocal8Bit(name), OldFile) && ::chmod(name.constData(), 0666) == 0);
        } else {
            QVERIFY(::symlink(QFile::encodeName(path).constData(), name.constData()) == 0 &&
                    ::lchown(name.constData(), ::getpwnam("nobody")->pw_uid, 0) == 0);
        }
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), denied ? 0555 : 01777) == 0);
        path = QString::fromLocal8Bit(name);
    } else if (situation == QLatin1String("fifo")) {
        QVERIFY(QFile::remove(path) && ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
    } else if (situation == QLatin1String("0444")) {
        if (::geteuid() != 0) QSKIP("as another user a read-only file is not replaced at all");
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
    } else if (situation == QLatin1String("empty wait")) {
        wait.last().clear();
    } else if (situation == QLatin1String("endless")) {
        wait << QStringLiteral("--max-time") << QStringLiteral("5");
    } else if (situation == QLatin1String("still sending")) {
        // About 1.5 s of it at the line rate, most of it after the port has opened.
        SetDevice([](SimConfig& c) { c.lineRate = true; });
        sim_->send(QByteArray("C,17,00:01.250\r\n").repeated(180));
    }
    const bool signalled = situation == QLatin1String("interrupt") || situation == QLatin1String("hang-up");
    if (signalled || situation == QLatin1String("endless")) {
        SetDevice([](SimConfig& c) {
            c.chronoData = Readings('C', 2000); // about a minute at the line rate
            c.lineRate = true;
        });
    }

    Terminal terminal;
    if (situation == QLatin1String("terminal")) {
        QVERIFY(terminal.slave >= 0);
        path = terminal.name;
    }
    QProcess reader; // of the FIFO
    if (situation == QLatin1String("fifo")) {
        reader.start(QStringLiteral("cat"), {path});
        QVERIFY(reader.waitForStarted());
    }
    // Reading a FIFO or a terminal here would wait for a writer.
    const bool direct = situation == QLatin1String("fifo") || situation == QLatin1String("terminal");
    const QByteArray before = direct ? QByteArray() : FileBytes(path);

    // A window of the program is open meanwhile: the download takes no single-instance lock.
    qputenv("XDG_RUNTIME_DIR", dir_->path().toLocal8Bit());
    SingleInstance window;
    QVERIFY(window.TryAcquire());

    QProcess rzt;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    rzt.setProcessEnvironment(env);
    if (situation == QLatin1String("refused") || situation == QLatin1String("denied folder")) {
        const passwd* nobody = ::getpwnam("nobody");
        QVERIFY(nobody);
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        rzt.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(99);
        });
    }
    QElapsedTimer clock;
    clock.start();
    QStringList arguments{QStringLiteral("--download"), kind, QStringLiteral("--output"),
                          situation == QLatin1String("stdout") || situation == QLatin1String("refused")
                              ? QStringLiteral("-")
                              : path,
                          QStringLiteral("--port"), sim_->portName()};
    arguments += wait;
    if (situation == QLatin1String("empty port")) arguments[5].clear();
    if (situation == QLatin1String("one dash")) arguments = {QStringLiteral("-download"), kind, QStringLiteral("-output"), path};
    if (situation == QLatin1String("bogus")) arguments = {QStringLiteral("--bogus")};
    if (situation == QLatin1String("window")) arguments.clear();
    rzt.start(QStringLiteral(RZT_BINARY), arguments);
    QVERIFY(rzt.waitForStarted(10000));
    if (signalled) {
        QTRY_VERIFY_WITH_TIMEOUT(sim_->receivedBytes().contains('A'), 20000);
        QTest::qWait(1000);
        QCOMPARE(rzt.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(rzt.processId()), situation == QLatin1String("hang-up") ? SIGHUP : SIGINT);
    }
    QVERIFY(rzt.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(rzt.readAllStandardError());
    const QByteArray out = rzt.readAllStandardOutput();
    QCOMPARE(rzt.exitStatus(), QProcess::NormalExit);
    QVERIFY2(errors.contains(says), qPrintable(errors));
    QCOMPARE(rzt.exitCode(), status);
    if (situation == QLatin1String("held")) QVERIFY(clock.elapsed() < 20000);
    holder.close();

    // A device that identified itself is signed off, as leaving the retrieval window does. A
    // wrong option or an output that cannot be written stops the run before the device is asked.
    const bool identified = status == 0 || status == 3 || status == 130;
    QTRY_COMPARE(sim_->exitCount(), identified ? 1 : 0);
    if (status == 1 || status == 4) QCOMPARE(sim_->receivedBytes(), QByteArray());
    if (status != 0) {
        QCOMPARE(FileBytes(path), before);
        QVERIFY(out.isEmpty());
        return;
    }
    // Standard error is no terminal here: a single summary line, no progress redrawn.
    QCOMPARE(errors.count(QStringLiteral("Data Received: ")), 1);
    QVERIFY(!errors.contains(QStringLiteral("Loading Data")));
    QByteArray saved = situation == QLatin1String("stdout") ? out : direct ? QByteArray() : FileBytes(path);
    struct stat node {};
    QCOMPARE(::lstat(QFile::encodeName(path).constData(), &node), 0);
    if (situation == QLatin1String("fifo")) {
        QVERIFY(reader.waitForFinished() && S_ISFIFO(node.st_mode));
        saved = reader.readAllStandardOutput();
    } else if (situation == QLatin1String("terminal")) {
        QVERIFY(S_ISCHR(node.st_mode));
        saved = terminal.Read();
    } else if (situation == QLatin1String("0444")) {
        QCOMPARE(node.st_mode & 07777, 0444u);
    }
    const int button = QStringList{"timer", "rpm", "chronograph", "all"}.indexOf(kind);
    const QByteArray windowSaved = WindowSave(button);
    QVERIFY(windowSaved.contains("\xE9\xFF"));
    QCOMPARE(saved, windowSaved);
    if (situation == QLatin1String("stdout")) QCOMPARE(FileBytes(path), OldFile);
}

QTEST_MAIN(TstDownloadCli)
#include "tst_download_cli.moc"
