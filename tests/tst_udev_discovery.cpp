// The whole program finding its device the way it does on Linux: FTDI converters (USB vendor
// 0x0403) listed by QSerialPortInfo from udev, here umockdev's mocked /sys and /dev, with the
// simulated device at the end of the line. Converters come and go while the program runs;
// another make of converter is never touched; a node this user may not open gives a hint (the
// group to join, where one would help) until the refusal goes, a busy one does not. Runs under
// umockdev-wrapper.

#include "EndToEnd.h"
#include "RichTextBox.h"
#include "UdevBed.h"
#include "retrieve/RetrieveText.h"

#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Identity = QStringLiteral("RZT-3000 SN 004211  Version 2.05");
const QString Hint = QStringLiteral("may not be opened by you");

// This process as another user, with that user's real and effective ids (access() answers
// for the real one, open() for the effective one); root again when it goes.
class AsUser {
public:
    AsUser(uid_t uid, gid_t gid, std::vector<gid_t> more = {}) {
        groups_.resize(std::max(0, ::getgroups(0, nullptr)));
        const int kept = ::getgroups(static_cast<int>(groups_.size()), groups_.data());
        groups_.resize(std::max(0, kept));
        ok_ = kept >= 0 && ::setgroups(more.size(), more.data()) == 0 && ::setresgid(gid, gid, 0) == 0 &&
              ::setresuid(uid, uid, 0) == 0;
    }
    ~AsUser() {
        const bool back = ::setresuid(0, 0, 0) == 0 && ::setresgid(0, 0, 0) == 0 &&
                          ::setgroups(groups_.size(), groups_.data()) == 0;
        if (!back) qFatal("cannot become root again");
    }
    bool ok() const { return ok_; }

private:
    std::vector<gid_t> groups_;
    bool ok_ = false;
};

} // namespace

class TstUdevDiscovery : public EndToEnd {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void aConverterPluggedInAfterStartIsFound();
    void unpluggedAndPluggedInUnderAnotherName();
    void anotherMakeOfConverterIsNeverOpened_data();
    void anotherMakeOfConverterIsNeverOpened();
    void aRefusedNode_data();
    void aRefusedNode();
    void aDownloadFromTheCommandLineFindsTheConverter();

private:
    frmMain* Main() const { return find_->RetrievalWindow(); }
    bool RetrievalReady() const {
        return Main() && Main()->isVisible() && Main()->lblStatus->text() == QLatin1String("Ready") &&
               !find_->isVisible();
    }
    bool Searching() const {
        return find_->isVisible() && find_->timUSB.isActive() && link_->PortSearching &&
               !link_->Comm.isOpen() && find_->lblPort->text().isEmpty();
    }
    bool StartConnectedOn(const QString& name);

    std::unique_ptr<UdevBed> bed_;
    const QString usb0_ = UdevBed::FreeName(0);
    const QString usb1_ = UdevBed::FreeName(1);
};

void TstUdevDiscovery::initTestCase() {
    if (!UdevBed().Preloaded())
        QSKIP("needs umockdev's preload library: run it under umockdev-wrapper (ctest does)");
}

void TstUdevDiscovery::init() {
    QVERIFY(SetUp());
    bed_ = std::make_unique<UdevBed>();
}

void TstUdevDiscovery::cleanup() {
    TearDown();
    bed_.reset();
}

bool TstUdevDiscovery::StartConnectedOn(const QString& name) {
    MakeSearchWindow(true);
    if (!bed_->Plug(name, sim_->portName()) || !find_->Load(nullptr)) return false;
    return QTest::qWaitFor([this] { return RetrievalReady(); }, 15000) &&
           find_->lblPort->text() == UdevBed::Node(name) && Main()->lblId->text() == Identity;
}

void TstUdevDiscovery::aConverterPluggedInAfterStartIsFound() {
    MakeSearchWindow(true);
    QVERIFY(find_->Load(nullptr));
    QTest::qWait(600); // a few scans that find nothing
    QVERIFY(Searching());
    QVERIFY(link_->PortList.isEmpty());

    QVERIFY(bed_->Plug(usb0_, sim_->portName()));
    QTRY_VERIFY_WITH_TIMEOUT(RetrievalReady(), 15000);
    QCOMPARE(link_->PortNum, UdevBed::Node(usb0_));
    QCOMPARE(find_->lblPort->text(), UdevBed::Node(usb0_));
    QCOMPARE(Main()->lblId->text(), Identity);
    QVERIFY(link_->Comm.isOpen());
    QVERIFY(link_->timComm.isActive());
}

void TstUdevDiscovery::unpluggedAndPluggedInUnderAnotherName() {
    QVERIFY(StartConnectedOn(usb0_));

    bed_->Unplug(usb0_);
    sim_->unplug(); // the line hangs up
    QTRY_VERIFY_WITH_TIMEOUT(Searching(), 10000);
    QVERIFY(!Main()->isVisible());
    QTest::qWait(600);
    QVERIFY(Searching());
    QVERIFY(link_->PortList.isEmpty());

    QVERIFY(sim_->plug());
    QVERIFY(bed_->Plug(usb1_, sim_->portName()));
    QTRY_VERIFY_WITH_TIMEOUT(RetrievalReady(), 15000);
    QCOMPARE(find_->lblPort->text(), UdevBed::Node(usb1_));
    QCOMPARE(Main()->lblId->text(), Identity);
    QVERIFY(link_->Comm.isOpen());
}

void TstUdevDiscovery::anotherMakeOfConverterIsNeverOpened_data() {
    QTest::addColumn<bool>("takesOverTheName");
    QTest::newRow("beside the FTDI converter, first in name order") << false;
    QTest::newRow("under the name the FTDI converter had") << true;
}

void TstUdevDiscovery::anotherMakeOfConverterIsNeverOpened() {
    QFETCH(bool, takesOverTheName);
    // A device that would answer at once if it were asked. Whether the program opened it shows
    // in the port it holds (its own end cannot tell: pseudo-terminal names are shared by every
    // process on the machine, and another test run may open a name it used before).
    SimDevice ch340;
    QVERIFY(ch340.plug());
    bool ch340Opened = false;
    QTimer watch;
    watch.setInterval(10);
    connect(&watch, &QTimer::timeout, this, [&] {
        ch340Opened = ch340Opened || (link_->Comm.isOpen() && link_->PortNum == UdevBed::Node(usb0_));
    });

    if (!takesOverTheName) {
        QVERIFY(bed_->Plug(usb0_, ch340.portName(), UdevBed::Ch340));
        watch.start();
        QVERIFY(StartConnectedOn(usb1_));
    } else {
        // The FTDI converter goes, the other one comes in and gets its name.
        QVERIFY(StartConnectedOn(usb0_));
        bed_->Unplug(usb0_);
        sim_->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(Searching(), 10000);
        QVERIFY(bed_->Plug(usb0_, ch340.portName(), UdevBed::Ch340));
        watch.start();
        QTest::qWait(1500); // six scans
        QVERIFY(Searching());
        QVERIFY(find_->txt->Text().contains(QStringLiteral("Monitoring USB Ports for RZT Device.")));
        // Found again under its new name.
        QVERIFY(sim_->plug());
        QVERIFY(bed_->Plug(usb1_, sim_->portName()));
        QTRY_VERIFY_WITH_TIMEOUT(RetrievalReady(), 15000);
        QCOMPARE(find_->lblPort->text(), UdevBed::Node(usb1_));
    }
    QVERIFY(!ch340Opened);
}

void TstUdevDiscovery::aRefusedNode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("rootGroup"); // the node's group is root's, else uucp or dialout
    QTest::addColumn<bool>("inGroup");   // the user has the node's group
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("advice"); // what the hint says after naming the port; empty: no hint
    const QString closed = QStringLiteral(
        " The software's package lets in the user logged in at the machine (its udev rule); "
        "otherwise ask the machine's administrator for access.");
    QTest::newRow("0660, of a group this user is not in")
        << 0660 << false << false << false
        << QStringLiteral(" Add yourself to the '%1' group (sudo usermod -aG %1 $USER), log in again");
    QTest::newRow("held by another program") << 0666 << false << false << true << QString();
    QTest::newRow("0600 root:root") << 0600 << true << false << false << closed;
    QTest::newRow("0600, of a group this user is in") << 0600 << false << true << false << closed;
}

void TstUdevDiscovery::aRefusedNode() {
    QFETCH(int, mode);
    QFETCH(bool, rootGroup);
    QFETCH(bool, inGroup);
    QFETCH(bool, busy);
    QFETCH(QString, advice);
    if (::geteuid() != 0) QSKIP("needs root, to own the node and to run the search as another user");
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) QSKIP("no user 'nobody' to run the search as");
    // A group other than dialout, as on systems whose serial ports belong to uucp.
    const group* owners = ::getgrnam("uucp");
    if (!owners) owners = ::getgrnam("dialout");
    QVERIFY(owners);
    const gid_t gid = rootGroup ? 0 : owners->gr_gid;
    const QString groupName = QString::fromLocal8Bit(owners->gr_name);
    const QByteArray pty = sim_->portName().toLocal8Bit();
    if (::chown(pty.constData(), 0, gid) != 0 || ::chmod(pty.constData(), static_cast<mode_t>(mode)) != 0)
        QSKIP("the pseudo-terminal cannot be given to another group here");
    bed_->OpenToEveryone();
    QVERIFY(bed_->Plug(usb0_, sim_->portName()));

    QSerialPort holder(UdevBed::Node(usb0_));
    if (busy) QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));

    std::optional<AsUser> user(std::in_place, nobody->pw_uid, nobody->pw_gid,
                               inGroup ? std::vector<gid_t>{gid} : std::vector<gid_t>{});
    if (!user->ok()) QSKIP("this process cannot act as user 'nobody' here");
    // What the search will go by: the mocked udev tree has to be readable by that user too.
    QStringList seen;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        seen << info.systemLocation() + QLatin1Char('/') + QString::number(info.vendorIdentifier(), 16);
    errno = 0;
    const int refused = ::access(UdevBed::Node(usb0_).toLocal8Bit().constData(), R_OK | W_OK);
    const QString seenText = QStringLiteral("ports seen as 'nobody': [%1]; access(): %2, %3")
                                 .arg(seen.join(QStringLiteral(", ")))
                                 .arg(refused)
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)));
    qInfo().noquote() << seenText;
    MakeSearchWindow(true);
    QVERIFY(find_->Load(nullptr));
    // Refused with a permission error, either way. (Keep this short: the preload library
    // keeps a slot for every failed open of a device node and gives up after 50.)
    QTRY_VERIFY2_WITH_TIMEOUT(!link_->PortsDenied().isEmpty(),
                              qPrintable(seenText + QStringLiteral("; PortList: ") +
                                         link_->PortList.join(QLatin1Char(' ')) +
                                         QStringLiteral("; text: ") + find_->txt->Text()),
                              5000);
    QCOMPARE(link_->PortsDenied(), QStringList{UdevBed::Node(usb0_)});
    QTest::qWait(600);
    QVERIFY(Searching());
    QVERIFY(link_->PortNum.isEmpty());
    const QString text = find_->txt->Text();
    if (advice.isEmpty()) {
        QVERIFY2(!text.contains(Hint), qPrintable(text));
    } else {
        QVERIFY2(text.contains(UdevBed::Node(usb0_) + QStringLiteral(" was found but ") + Hint +
                               QLatin1Char('.') + advice.arg(groupName)),
                 qPrintable(text));
        QCOMPARE(text.count(Hint), 1); // said once
    }
    // The window as the user sees it, when asked for (RZT_SHOT_DIR).
    const QString shots = qEnvironmentVariable("RZT_SHOT_DIR");
    QPixmap shot;
    if (!shots.isEmpty()) {
        find_->txt->FlushRender();
        shot = find_->grab();
    }
    user.reset(); // root again, to take the converter out of the mocked tree
    bed_->Unplug(usb0_);
    if (!shots.isEmpty()) {
        const QString name = QString::fromLatin1(QTest::currentDataTag())
                                 .replace(QRegularExpression(QStringLiteral("\\W+")), QStringLiteral("-"));
        QVERIFY(shot.save(QDir(shots).filePath(QStringLiteral("refused-%1.png").arg(name))));
    }
    // The refusal has gone with the converter, and so has the hint.
    QTRY_VERIFY_WITH_TIMEOUT(link_->PortsDenied().isEmpty(), 5000);
    QTRY_COMPARE(find_->txt->Text(), QStringLiteral("Instructions\r\nMonitoring USB Ports for RZT Device.\r\n"
                                                    "Please turn you device on now and plug it into a USB Port!"));
}


// `rzt --download` with no --port and no display, run in the same mocked udev (the child
// inherits the preload library and the testbed): it must find the converter the way the search
// window does.
void TstUdevDiscovery::aDownloadFromTheCommandLineFindsTheConverter() {
    QVERIFY(bed_->Plug(usb0_, sim_->portName()));
    const QString path = dir_->filePath(QStringLiteral("udev.csv"));
    QProcess rzt;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    rzt.setProcessEnvironment(env);
    rzt.start(QStringLiteral(RZT_BINARY), {QStringLiteral("--download"), QStringLiteral("timer"),
                                           QStringLiteral("--output"), path,
                                           QStringLiteral("--wait"), QStringLiteral("30")});
    QVERIFY(rzt.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(rzt.readAllStandardError());
    QVERIFY2(rzt.exitCode() == 0, qPrintable(errors));
    QVERIFY2(errors.contains(QStringLiteral("Port # ") + UdevBed::Node(usb0_)), qPrintable(errors));
    QVERIFY(errors.contains(QStringLiteral("Device Found: ") + Identity));
    const SimConfig config = sim_->config();
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(),
             SaveLines(ConvertLineEnds(QString::fromLatin1(config.header + config.timerData))));
}

QTEST_MAIN(TstUdevDiscovery)
#include "tst_udev_discovery.moc"
