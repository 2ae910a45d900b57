// The search window: start-up, the search's texts, leaving, and the about window.

#include "BusyIndicator.h"
#include "PushButton.h"
#include "RichTextBox.h"
#include "search/SingleInstance.h"
#include "TestDialogs.h"
#include "about/frmInfo.h"
#include "clsReg.h"
#include "modMain.h"
#include "search/frmFind.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

const QString Caption = QStringLiteral("ZORV - RZT Software / Device Search  -  Version 1.01.0132");
const QString Instructions = QStringLiteral(
    "Instructions\r\nMonitoring USB Ports for RZT Device.\r\n"
    "Please turn you device on now and plug it into a USB Port!");

#ifdef Q_OS_WIN
const QString FixedPort = QStringLiteral("COM9");
#else
const QString FixedPort = QStringLiteral("/dev/null"); // a node that is there
#endif

#ifdef Q_OS_UNIX
// A pseudo-terminal standing in for a serial port that the program can open.
struct Pty {
    int master = -1;
    QString slaveName;
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        ::close(slave);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        slaveName = QString::fromLocal8Bit(name);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    QByteArray Drain() const {
        QByteArray all;
        char buffer[512];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            all.append(buffer, n);
        }
        return all;
    }
};
#endif

// Candidates read from a script, one list per scan; the last list repeats.
class ScriptedSource : public PortSource {
public:
    ScriptedSource(QList<QStringList> scans, bool stable) : scans_(std::move(scans)), stable_(stable) {}
    QStringList Candidates() override { return scans_.size() > 1 ? scans_.takeFirst() : scans_.first(); }
    bool NamesStayWithTheirConverter() const override { return stable_; }

private:
    QList<QStringList> scans_;
    bool stable_;
};

} // namespace

class TstSearchWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startUpShowsTheSearch();
    void aSecondSearchWritesTheSameAndKeepsTheIdentity();
    void aSecondInstanceIsToldAndEnds();
    void aScanFindingNothing_data();
    void aScanFindingNothing();
    void leaving_data();
    void leaving();
    void theTextBoxNeverKeepsTheFocus();
    void aboutWindowTrigger_data();
    void aboutWindowTrigger();
    void aboutWindowIsSingleAndRebuiltAfterClosing();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<modMain> link_;
    std::unique_ptr<TestDialogs> dialogs_;
    std::unique_ptr<frmFind> find_;
};

void TstSearchWindow::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", dir_->path().toUtf8());
    link_ = std::make_unique<modMain>();
    dialogs_ = std::make_unique<TestDialogs>();
    find_ = std::make_unique<frmFind>(*link_, *dialogs_);
}

void TstSearchWindow::cleanup() {
    find_.reset();
    dialogs_.reset();
    link_.reset();
    dir_.reset();
}

void TstSearchWindow::aScanFindingNothing_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("left");
    // The name may now belong to another make of converter: nothing is left to try.
    QTest::newRow("device paths") << "paths" << QStringList();
    // A COM number stays with its converter: the earlier candidates are tried again.
    QTest::newRow("COM numbers") << "com" << QStringList{QStringLiteral("COM5"), QStringLiteral("COM7")};
    QTest::newRow("driver records") << "registry" << QStringList{QStringLiteral("COM5"), QStringLiteral("COM7")};
    // The user's own choice stays (while it names a port that is there).
    QTest::newRow("--port") << "fixed" << QStringList{FixedPort};
}

void TstSearchWindow::aScanFindingNothing() {
    QFETCH(QString, source);
    QFETCH(QStringList, left);
    const QStringList com{QStringLiteral("COM5"), QStringLiteral("COM7")};
    if (source == QLatin1String("paths")) {
        find_->SetPortSource(std::make_unique<ScriptedSource>(
            QList<QStringList>{{QStringLiteral("/dev/ttyUSB0")}, {}}, false));
    } else if (source == QLatin1String("com")) {
        find_->SetPortSource(std::make_unique<ScriptedSource>(QList<QStringList>{com, {}}, true));
    } else if (source == QLatin1String("registry")) {
        // The driver's records, planted in the portable store, then removed.
        link_->Reg = std::make_unique<clsReg>();
        const QString record = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+%1\\0000");
        for (const QString& port : com) {
            link_->Reg->WriteRegistry(clsReg::LocalMachine, record.arg(port), QStringLiteral("FriendlyName"),
                                      1, QStringLiteral("USB Serial Port (%1)").arg(port));
        }
        find_->SetPortSource(std::make_unique<FtdiRegistrySource>(*link_->Reg));
        find_->ScanUsbPorts();
        QCOMPARE(link_->PortList, com);
        for (const QString& port : com)
            link_->Reg->DeleteValue(clsReg::LocalMachine, record.arg(port), QStringLiteral("FriendlyName"));
    } else {
        find_->SetPortSource(std::make_unique<FixedPortSource>(FixedPort));
    }
    find_->ScanUsbPorts();
    QVERIFY(!link_->PortList.isEmpty());
    find_->ScanUsbPorts();
    QCOMPARE(link_->PortList, left);
}

void TstSearchWindow::startUpShowsTheSearch() {
    SingleInstance instance(dir_->filePath(QStringLiteral("rzt.lock")));
    QVERIFY(find_->Load(&instance));
    QVERIFY(find_->isVisible());
    QVERIFY(link_->Reg);
    QVERIFY(dialogs_->messages.isEmpty());

    QCOMPARE(find_->windowTitle(), Caption);
    QCOMPARE(find_->lblVersion->text(), QStringLiteral("Version 1.01.0132"));
    QCOMPARE(find_->lblPort->text(), QString());
    QCOMPARE(find_->lblID->text(), QString());
    QCOMPARE(find_->txt->Text(), Instructions);
    QVERIFY(find_->progress->IsRunning());
    QVERIFY(link_->PortSearching);
    QVERIFY(link_->PortNum.isEmpty());
    QVERIFY(find_->timUSB.isActive());
    QCOMPARE(find_->timUSB.interval(), 250);
    QVERIFY(!find_->timID.isActive());
    QCOMPARE(find_->size(), QSize(421, 348));

    // The three runs and their attributes.
    const auto& runs = find_->txt->Runs();
    QString joined;
    for (const auto& run : runs) joined += run.text;
    QCOMPARE(joined, Instructions);
    const auto& heading = runs.front().attributes;
    QCOMPARE(heading.pointSize, 14.0);
    QCOMPARE(heading.color, QColor(255, 0, 0));
    QVERIFY(heading.emphasis);
    QCOMPARE(heading.indentTwips, 0);
    QCOMPARE(heading.fontName, QStringLiteral("MS Sans Serif"));
    const auto& body = runs.back().attributes;
    QCOMPARE(body.pointSize, 10.0);
    QCOMPARE(body.color, QColor(0, 0, 0));
    QVERIFY(!body.emphasis);
    QCOMPARE(body.indentTwips, 250);

    // Watching goes on: ticks come and re-arm the timer.
    QTest::qWait(600);
    QVERIFY(find_->timUSB.isActive());
    QVERIFY(!link_->Ending());
}

void TstSearchWindow::aSecondSearchWritesTheSameAndKeepsTheIdentity() {
    QVERIFY(find_->Load(nullptr));
    find_->lblPort->setText(QStringLiteral("5"));
    find_->lblID->setText(QStringLiteral("RZT-3000  Version 2.05"));
    find_->txt->SetText(QStringLiteral("Device Found\r\n"));
    link_->PortId = QStringLiteral("RZT-3000  Version 2.05");
    link_->PortSearching = false;
    link_->PortNum = QStringLiteral("COM5");
    find_->timUSB.stop();
    find_->progress->Stop();
    find_->hide();

    find_->BeginSearch(); // as the link check calls it, with the window hidden
    QCOMPARE(find_->windowTitle(), Caption);
    QCOMPARE(find_->lblPort->text(), QString());
    QCOMPARE(find_->lblID->text(), QString());
    QCOMPARE(find_->txt->Text(), Instructions);
    QCOMPARE(link_->PortId, QStringLiteral("RZT-3000  Version 2.05"));
    QVERIFY(link_->PortSearching);
    QVERIFY(link_->PortNum.isEmpty());
    QVERIFY(find_->timUSB.isActive());
    QVERIFY(find_->progress->IsRunning());
}

void TstSearchWindow::aSecondInstanceIsToldAndEnds() {
    const QString lockPath = dir_->filePath(QStringLiteral("rzt.lock"));
    SingleInstance first(lockPath);
    QVERIFY(first.TryAcquire());

    QSignalSpy ending(link_.get(), &modMain::programEnding);
    SingleInstance second(lockPath);
    QVERIFY(!find_->Load(&second));
    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(dialogs_->messages[0].text, QStringLiteral("ZORV RZT Software is already open."));
    QCOMPARE(dialogs_->messages[0].icon, Dialogs::Icon::Information);
    QVERIFY(!find_->isVisible());
    QVERIFY(!link_->Reg);
    QVERIFY(!find_->timUSB.isActive());
    QCOMPARE(ending.count(), 1);
    QVERIFY(first.Held());
}

void TstSearchWindow::leaving_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("Exit, port closed") << false << false;
    QTest::newRow("close box, port closed") << true << false;
#ifdef Q_OS_UNIX // an open port needs a pseudo-terminal
    QTest::newRow("Exit, port open") << false << true;
    QTest::newRow("close box, port open") << true << true;
#endif
}

void TstSearchWindow::leaving() {
    QFETCH(bool, closeBox);
    QFETCH(bool, portOpen);
#ifdef Q_OS_UNIX
    Pty pty;
    QVERIFY(!pty.slaveName.isEmpty());
#endif
    QVERIFY(find_->Load(nullptr));
    if (portOpen) {
#ifdef Q_OS_UNIX
        link_->Comm.setPortName(pty.slaveName);
#endif
        QVERIFY(link_->Comm.open(QIODevice::ReadWrite));
    }
    find_->timID.start();
    QSignalSpy ending(link_.get(), &modMain::programEnding);

    if (closeBox) {
        find_->close();
    } else {
        QTest::mouseClick(find_->cmdExit, Qt::LeftButton);
    }

    QCOMPARE(ending.count(), 1);
    QVERIFY(link_->Ending());
    QVERIFY(!find_->isVisible());
    QVERIFY(!find_->timUSB.isActive());
    QVERIFY(!find_->timID.isActive());
    QVERIFY(!link_->Comm.isOpen());
#ifdef Q_OS_UNIX
    QCOMPARE(pty.Drain(), QByteArray()); // nothing is sent to the device from here
#endif
}

void TstSearchWindow::theTextBoxNeverKeepsTheFocus() {
    QVERIFY(find_->Load(nullptr));
    find_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(find_.get()));
    find_->txt->View()->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(find_->cmdExit));
    // Tabbing from Exit comes round to the text box, which hands the focus straight back.
    QTest::keyClick(find_->cmdExit, Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(find_->cmdExit));
}

void TstSearchWindow::aboutWindowTrigger_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("opens");
    QTest::newRow("right with Shift") << Qt::RightButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << true;
    QTest::newRow("right alone") << Qt::RightButton << Qt::KeyboardModifiers() << false;
    QTest::newRow("right with Shift and Ctrl")
        << Qt::RightButton << Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::ControlModifier) << false;
    QTest::newRow("right with Shift and Alt")
        << Qt::RightButton << Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::AltModifier) << false;
    QTest::newRow("left with Shift") << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << false;
    QTest::newRow("right with Ctrl") << Qt::RightButton << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
}

void TstSearchWindow::aboutWindowTrigger() {
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, opens);
    QVERIFY(find_->Load(nullptr));
    QTest::mousePress(find_->Label3, button, modifiers);
    QCOMPARE(find_->AboutWindow() != nullptr, opens);
    if (opens) {
        QVERIFY(find_->AboutWindow()->isVisible());
        // The search goes on behind it.
        QVERIFY(find_->timUSB.isActive());
        QVERIFY(find_->isVisible());
    }
    // Only the trigger label reacts.
    QTest::mousePress(find_->lblPort, Qt::RightButton, Qt::ShiftModifier);
    QCOMPARE(find_->AboutWindow() != nullptr, opens);
}

void TstSearchWindow::aboutWindowIsSingleAndRebuiltAfterClosing() {
    const QString credits = QStringLiteral("Software Design by:\r\n") + frmInfo::CompanyName +
                            QStringLiteral("\r\n") + frmInfo::PersonName + QStringLiteral("\r\n") +
                            frmInfo::PostalBoxLine + QStringLiteral("\r\n") + frmInfo::CityLine +
                            QStringLiteral("\r\n\r\n");
    QVERIFY(find_->Load(nullptr));
    QTest::mousePress(find_->Label3, Qt::RightButton, Qt::ShiftModifier);
    QPointer<frmInfo> about = find_->AboutWindow();
    QVERIFY(about);
    QCOMPARE(about->txt->Text(), credits);
    QCOMPARE(about->windowTitle(), frmInfo::CompanyName);
    QCOMPARE(about->size(), QSize(457, 150));

    QTest::mousePress(find_->Label3, Qt::RightButton, Qt::ShiftModifier);
    QCOMPARE(find_->AboutWindow(), about.data());
    QCOMPARE(about->txt->Text(), credits);
    int aboutWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) aboutWindows += qobject_cast<frmInfo*>(w) ? 1 : 0;
    QCOMPARE(aboutWindows, 1);

    QTest::mouseClick(about->cmdExit, Qt::LeftButton);
    QTRY_VERIFY(!about); // unloaded
    QVERIFY(!find_->AboutWindow());
    QVERIFY(find_->isVisible());
    QVERIFY(find_->timUSB.isActive());
    QVERIFY(!link_->Ending());

    QTest::mousePress(find_->Label3, Qt::RightButton, Qt::ShiftModifier);
    QVERIFY(find_->AboutWindow());
    QCOMPARE(find_->AboutWindow()->txt->Text(), credits);
}

QTEST_MAIN(TstSearchWindow)
#include "tst_search_window.moc"
