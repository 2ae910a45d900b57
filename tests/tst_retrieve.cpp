// The retrieval window against the simulated device on a pseudo-terminal: its face, downloads
// of each kind, the display while data streams in, saving and its failures, leaving, and
// clicks that come while a link check is talking to the device.

#include "EndToEnd.h"
#include "PushButton.h"
#include "RichTextBox.h"
#include "TextView.h"
#include "TextHelpers.h"
#include "Twips.h"
#include "retrieve/SaveFile.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QLabel>
#include <QSignalSpy>
#include <QTextBlock>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const QString Identity = QStringLiteral("RZT-3000 SN 004211  Version 2.05");
const QString SettingsKey = QStringLiteral("Software\\ZORV-RZT");

// What the window shows of device text made of finished CR LF lines.
QString Shown(const QByteArray& sent) {
    QString text = QString::fromLatin1(sent);
    if (text.endsWith(QStringLiteral("\r\n"))) text.chop(2);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// What the plain view must show for a text: one line break per CR LF, lone CR or lone LF.
QString OnScreen(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QString SystemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Routes streamed text to the window, as the search window does in the program.
struct Windows : LinkWindows {
    frmMain* main = nullptr;
    int appends = 0;
    int lost = 0;
    void ShowIdentity(const QString&) override {}
    void FinishSearch() override {}
    void AppendReceived(const QString& text) override {
        ++appends;
        if (main) main->AppendReceived(text);
    }
    void LinkLost() override {
        ++lost;
        if (main) main->hide();
    }
};

// Counts the enabled-state changes every widget of a window receives.
class EnabledWatcher : public QObject {
public:
    explicit EnabledWatcher(QWidget* window) {
        window->installEventFilter(this);
        for (QWidget* child : window->findChildren<QWidget*>())
            child->installEventFilter(this);
    }
    QHash<QObject*, int> changes;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange) ++changes[watched];
        return false;
    }
};

// A 64 KiB disk of its own, for saves that run out of space. Needs root; unmounted again when
// the test ends, pass or fail.
struct TinyDisk {
    QByteArray path;
    bool mounted = false;
    explicit TinyDisk(const QString& folder) : path(folder.toLocal8Bit()) {
        if (::geteuid() != 0 || !QDir().mkpath(folder)) return;
        mounted = ::mount("rzt-test", path.constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~TinyDisk() {
        if (mounted) ::umount2(path.constData(), MNT_DETACH);
    }
};

// A file bound over another: renaming onto it fails (EBUSY), as replacing a file that another
// program keeps open does on Windows. Needs root; undone when the test ends.
struct BoundFile {
    QByteArray target;
    bool mounted = false;
    BoundFile(const QString& source, const QString& onto) : target(onto.toLocal8Bit()) {
        if (::geteuid() != 0) return;
        mounted = ::mount(source.toLocal8Bit().constData(), target.constData(), nullptr, MS_BIND,
                          nullptr) == 0;
    }
    ~BoundFile() {
        if (mounted) ::umount2(target.constData(), MNT_DETACH);
    }
};

// Stands in for the system's flush of a saved file: notes what the target held at that
// moment, then fails with `failure` or flushes for real.
struct FlushProbe {
    static inline QString target;
    static inline QByteArray targetAtFlush;
    static inline int failure = 0;
    static inline int calls = 0;
    static int Flush(qintptr handle) {
        ++calls;
        targetAtFlush = FileBytes(target);
        if (failure != 0) return failure;
        return ::fsync(static_cast<int>(handle)) == 0 ? 0 : errno;
    }
};

} // namespace

class TstRetrieve : public EndToEnd {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void face();
    void tabOrder();
    void fillForm();
    void otherIndexesDoNothing();

    void download_data();
    void download();
    void downloadOutcomes_data();
    void downloadOutcomes();
    void deviceNeverAnswers();
    void smallChunksWithShortGapsStayOneDownload();
    void fastStreamIsDrawnInBatches();
    void lineEndsSplitAcrossChunks_data();
    void lineEndsSplitAcrossChunks();
    void replacingTheText_data();
    void replacingTheText();
    void textAfterTheDownloadIsAppended();
    void portDiesMidDownload();
    void programEndsInsideTheDownload_data();
    void programEndsInsideTheDownload();

    void saveWritesWhatTheDeviceSent();
    void folderRememberedAcrossRuns();
    void cancelChangesNothing();
    void nothingToSave();
    void saveFailsToOpen_data();
    void saveFailsToOpen();
    void fullDiskLeavesTheOldFile_data();
    void fullDiskLeavesTheOldFile();

    void saveReplacesOnlyAfterTheFlush_data();
    void saveReplacesOnlyAfterTheFlush();
    void failedReplaceKeepsTheOldFile();

    void leaving_data();
    void leaving();
    void clickDuringALinkCheck_data();
    void clickDuringALinkCheck();
    void deviceLostWithTheDownload_data();
    void deviceLostWithTheDownload();
    void deviceGoneAndBackWhileChoosingTheFile();

private:
    bool Connect();
    bool AllButtons(bool enabled) const;

    Windows windows_;
};

void TstRetrieve::init() {
    QVERIFY(SetUp());
    windows_ = Windows();
    MakeRetrievalWindow(windows_);
    windows_.main = main_.get();
}

void TstRetrieve::cleanup() {
    // Every path through the window gives the pointer back.
    QVERIFY(TearDown());
}

// As after the hand-over: port open, search over, window shown and filled.
bool TstRetrieve::Connect() {
    link_->PortList = {sim_->portName()};
    link_->OpenFirstPort();
    if (link_->PortNum != sim_->portName()) return false;
    link_->PortSearching = false;
    link_->PortId = Identity;
    main_->show();
    main_->FillForm();
    return QTest::qWaitForWindowExposed(main_.get());
}

bool TstRetrieve::AllButtons(bool enabled) const {
    for (int index : {0, 1, 2, 3, 5, 6}) {
        if (main_->cmd(index)->isEnabled() != enabled) return false;
    }
    return true;
}

void TstRetrieve::face() {
    QCOMPARE(main_->windowTitle(),
             QStringLiteral("ZORV - RZT Software / Retrive Data  -  Version 1.01.0132"));
    QCOMPARE(main_->size(), QSize(543, 348));
    QVERIFY(!main_->windowIcon().isNull());
    QVERIFY(!(main_->windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(main_->windowFlags() & Qt::WindowMaximizeButtonHint));

    struct Expected {
        int index;
        const char* caption;
        QRect twips;
    };
    const Expected buttons[] = {
        {0, "&Timer Only", {135, 45, 1935, 405}},        {1, "&RPM Only", {2115, 45, 1935, 405}},
        {2, "&Chronograph Only", {4095, 45, 1935, 405}}, {3, "&All Data", {6075, 45, 1935, 405}},
        {5, "&Save", {6810, 4320, 1275, 405}},           {6, "&Exit", {6810, 4770, 1275, 405}},
    };
    for (const Expected& e : buttons) {
        PushButton* button = main_->cmd(e.index);
        QVERIFY(button);
        QCOMPARE(button->text(), QString::fromLatin1(e.caption));
        QCOMPARE(button->geometry(),
                 TwipsRect(e.twips.x(), e.twips.y(), e.twips.width(), e.twips.height()));
        QVERIFY(!button->icon().isNull());
    }
    // One icon for the data buttons, others for Save and Exit.
    const auto key = [this](int i) { return main_->cmd(i)->icon().pixmap(16).toImage(); };
    QCOMPARE(key(0), key(3));
    QVERIFY(key(0) != key(5));
    QVERIFY(key(5) != key(6));
    for (int index : {-1, 4, 7, 100})
        QVERIFY(!main_->cmd(index));

    QCOMPARE(main_->txt->geometry(), TwipsRect(60, 510, 8025, 3735));
    QCOMPARE(main_->XPLabel301->text(), QStringLiteral("Product ID:"));
    QCOMPARE(main_->XPLabel303->text(), QStringLiteral("Status:"));
    QVERIFY(main_->XPLabel301->font().bold());
    QVERIFY(!main_->lblId->font().bold());
    QVERIFY(!main_->lblStatus->font().bold());
    QCOMPARE(main_->lblId->geometry(), TwipsRect(1140, 4410, 5595, 255));
    QCOMPARE(main_->lblStatus->geometry(), TwipsRect(1140, 4860, 5595, 255));
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Working..."));
    QCOMPARE(main_->lblId->text(), QString());
    QVERIFY(!main_->timComm.isActive());
    QCOMPARE(&main_->timComm, &link_->timComm);
}

void TstRetrieve::tabOrder() {
    main_->show();
    main_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main_.get()));
    main_->cmd(0)->setFocus();
    // The order the window is read in: the data buttons, the text below them, Save, Exit.
    const QList<QWidget*> expected = {main_->cmd(1), main_->cmd(2), main_->cmd(3),
                                      main_->txt->DisplayWidget(), main_->cmd(5), main_->cmd(6)};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void TstRetrieve::fillForm() {
    QVERIFY(Connect());
    QCOMPARE(main_->lblId->text(), Identity);
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Ready"));
    QCOMPARE(main_->txt->Text(), QString());
    QVERIFY(AllButtons(true));
    QVERIFY(main_->timComm.isActive());
    QCOMPARE(main_->timComm.interval(), 2000);

    // Filled again after a renewed search: earlier text is gone, the new identity shows.
    main_->AppendReceived(QStringLiteral("unsaved\r\n"));
    main_->lblStatus->setText(QStringLiteral("Data Received"));
    link_->PortId = QStringLiteral("RZT-3000 SN 000001  Version 2.06");
    main_->FillForm();
    QCOMPARE(main_->txt->Text(), QString());
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Ready"));
    QCOMPARE(main_->lblId->text(), link_->PortId);
}

void TstRetrieve::otherIndexesDoNothing() {
    QVERIFY(Connect());
    main_->timComm.stop();
    for (int index : {-1, 4, 7, 100})
        main_->cmd_Click(index);
    QTest::qWait(300);
    QCOMPARE(sim_->receivedBytes(), QByteArray());
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Ready"));
    QVERIFY(dialogs_->messages.isEmpty() && dialogs_->saveRequests.isEmpty());
    QVERIFY(!link_->Ending());
    QVERIFY(AllButtons(true));
}

void TstRetrieve::download_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<char>("letter");
    QTest::newRow("Timer Only") << 0 << 'T';
    QTest::newRow("RPM Only") << 1 << 'R';
    QTest::newRow("Chronograph Only") << 2 << 'C';
    QTest::newRow("All Data") << 3 << 'A';
}

void TstRetrieve::download() {
    QFETCH(int, index);
    QFETCH(char, letter);
    QVERIFY(Connect());
    const SimConfig config = sim_->config();

    // The window's state while the data streams in.
    bool seen = false, buttonsOff = false, busyPointer = false, checkOff = false;
    QString status;
    connect(sim_.get(), &SimDevice::commandReceived, this, [&](char command) {
        if (command != letter) return;
        seen = true;
        status = main_->lblStatus->text();
        buttonsOff = AllButtons(false);
        busyPointer = QApplication::overrideCursor() &&
                      QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        checkOff = !main_->timComm.isActive();
    });
    EnabledWatcher watcher(main_.get());

    QTest::mouseClick(main_->cmd(index), Qt::LeftButton);

    QVERIFY(seen);
    QCOMPARE(status, QStringLiteral("Loading Data"));
    QVERIFY(buttonsOff);
    QVERIFY(busyPointer);
    QVERIFY(checkOff);

    QCOMPARE(sim_->receivedBytes(), QByteArray("H") + letter);
    const QString expected = Shown(config.header + config.dataFor(letter));
    QCOMPARE(main_->txt->Text(), expected);
    QCOMPARE(main_->txt->SelStart(), 1);
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Data Received"));
    QVERIFY(AllButtons(true));
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(main_->timComm.isActive());
    main_->txt->FlushRender();
    QCOMPARE(main_->txt->PlainView()->ShownText(), expected);

    // Off and on again: exactly the six buttons, once each way.
    QCOMPARE(watcher.changes.size(), 6);
    for (int i : {0, 1, 2, 3, 5, 6})
        QCOMPARE(watcher.changes.value(main_->cmd(i)), 2);
}

void TstRetrieve::downloadOutcomes_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("caret");
    const QByteArray header = SimConfig::GeneratedHeader();
    QTest::newRow("answer to H, nothing after the letter")
        << header << QByteArray() << Shown(header) << 1;
    QTest::newRow("unfinished last line")
        << header << QByteArray("T,0001,x\r\nT,0002") << Shown(header + "T,0001,x\r\n") << 1;
    QTest::newRow("no line end at all")
        << QByteArray("RZT") << QByteArray("T,0001") << QString() << 0;
}

void TstRetrieve::downloadOutcomes() {
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, data);
    QFETCH(QString, shown);
    QFETCH(int, caret);
    SetDevice([&](SimConfig& c) {
        c.header = header;
        c.timerData = data;
    });
    QVERIFY(Connect());
    QTest::mouseClick(main_->cmd(0), Qt::LeftButton);
    QCOMPARE(sim_->receivedBytes(), QByteArray("HT"));
    QCOMPARE(main_->txt->Text(), shown);
    QCOMPARE(main_->txt->SelStart(), caret);
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Data Received"));
    QVERIFY(AllButtons(true));
}

void TstRetrieve::deviceNeverAnswers() {
    QVERIFY(Connect());
    main_->AppendReceived(QStringLiteral("earlier text\r\n"));
    sim_->switchOff();
    QTest::mouseClick(main_->cmd(2), Qt::LeftButton);
    QCOMPARE(sim_->receivedBytes(), QByteArray("H")); // no letter after an unanswered H
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Unable to Receive Data"));
    QCOMPARE(main_->txt->Text(), QString());
    QCOMPARE(main_->txt->SelStart(), 0);
    QVERIFY(AllButtons(true));
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(main_->timComm.isActive());
}

void TstRetrieve::smallChunksWithShortGapsStayOneDownload() {
    SetDevice([](SimConfig& c) {
        c.lineRate = false;
        c.timerData = SimConfig::GeneratedLines('T', 4);
        c.dataPacing = {9, 150}; // odd pieces: some CR LF pairs arrive cut in two
    });
    QVERIFY(Connect());
    QTest::mouseClick(main_->cmd(0), Qt::LeftButton);
    const SimConfig config = sim_->config();
    QCOMPARE(main_->txt->Text(), Shown(config.header + config.timerData));
    QVERIFY(windows_.appends > 10);
    QCOMPARE(sim_->receivedBytes(), QByteArray("HT"));
}

void TstRetrieve::fastStreamIsDrawnInBatches() {
    SetDevice([](SimConfig& c) {
        c.lineRate = false;
        c.timerData = SimConfig::GeneratedLines('T', 400);
        c.dataPacing = {64, 3};
    });
    QVERIFY(Connect());
    main_->txt->FlushRender();
    const int rendersBefore = main_->txt->RenderCount();
    const int total =
        static_cast<int>(sim_->config().header.size() + sim_->config().timerData.size());

    // Look at the screen while the data comes.
    QList<int> shownLengths;
    QTimer look;
    look.setInterval(40);
    connect(&look, &QTimer::timeout, this, [&] {
        shownLengths << static_cast<int>(main_->txt->PlainView()->ShownText().size());
    });
    look.start();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(main_->cmd(0), Qt::LeftButton);
    const qint64 elapsed = clock.elapsed();
    look.stop();

    const int renders = main_->txt->RenderCount() - rendersBefore;
    QVERIFY2(windows_.appends >= 50, qPrintable(QString::number(windows_.appends)));
    QVERIFY2(renders <= elapsed / RichTextBox::RenderGapMs + 3,
             qPrintable(QStringLiteral("%1 renders in %2 ms").arg(renders).arg(elapsed)));
    // The screen followed the stream instead of freezing until its end.
    const bool partial = std::any_of(shownLengths.begin(), shownLengths.end(),
                                     [total](int n) { return n > 200 && n < total * 9 / 10; });
    QVERIFY2(partial, qPrintable(QStringLiteral("%1 looks").arg(shownLengths.size())));
}

void TstRetrieve::lineEndsSplitAcrossChunks_data() {
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("display");
    QTest::newRow("CR | LF") << QStringList{"A\r", "\nB"} << "A\nB";
    QTest::newRow("CR | CR LF") << QStringList{"A\r", "\r\nB"} << "A\n\nB";
    QTest::newRow("CR LF | LF") << QStringList{"A\r\n", "\nB"} << "A\n\nB";
    QTest::newRow("lone CR | text") << QStringList{"A\r", "B"} << "A\nB";
    QTest::newRow("lone LF") << QStringList{"A\n", "B\n"} << "A\nB\n";
    QTest::newRow("8-bit and NUL")
        << QStringList{QString::fromLatin1("\xE9\x80\r", 3), QString::fromLatin1("\n\x00\xFF", 3)}
        << QString::fromLatin1("\xE9\x80\n\x00\xFF", 5);
}

void TstRetrieve::lineEndsSplitAcrossChunks() {
    QFETCH(QStringList, chunks);
    QFETCH(QString, display);
    main_->show();
    for (const QString& chunk : chunks) {
        main_->AppendReceived(chunk);
        main_->txt->FlushRender(); // each piece drawn in a batch of its own
    }
    QCOMPARE(main_->txt->Text(), chunks.join(QString())); // the buffer keeps every character
    QCOMPARE(main_->txt->PlainView()->ShownText(), display);
    QCOMPARE(main_->txt->SelStart(), static_cast<int>(main_->txt->Text().size()));
}

void TstRetrieve::replacingTheText_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("drawnBefore");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("appendedAfter");
    QTest::newRow("rewritten line ends") << "A\r\nB\r\nC" << true << "A\nB"
                                         << "";
    QTest::newRow("rewritten, more text follows") << "A\r\nB\r\nC" << true << "A\nB"
                                                  << "D\r\n";
    QTest::newRow("differs in the middle") << "A\r\r\nB\r\n"
                                           << true << "A\r\nB"
                                           << "";
    QTest::newRow("longer") << "A\r\n"
                            << true << "A\r\nB\r\nC"
                            << "";
    QTest::newRow("CR at the cut") << "A\r" << true << "A\r\nB"
                                   << "";
    QTest::newRow("all different") << "XYZ\r\n"
                                   << true << "ABC\n"
                                   << "";
    QTest::newRow("to empty") << "A\r\n"
                              << true << ""
                              << "";
    QTest::newRow("not drawn yet") << "A\r\nB\r\n"
                                   << false << "A\nB"
                                   << "";
}

void TstRetrieve::replacingTheText() {
    QFETCH(QString, before);
    QFETCH(bool, drawnBefore);
    QFETCH(QString, after);
    QFETCH(QString, appendedAfter);
    RichTextBox* box = main_->txt;
    box->FlushRender();
    box->SetText(QStringLiteral("Z"));
    box->FlushRender();
    box->SetSelStart(1);
    box->SetSelText(before.mid(1));
    box->SetText(before);
    if (drawnBefore) box->FlushRender();

    box->SetText(after);
    if (!appendedAfter.isEmpty()) main_->AppendReceived(appendedAfter);
    box->FlushRender();
    QCOMPARE(box->Text(), after + appendedAfter);
    QCOMPARE(box->PlainView()->ShownText(), OnScreen(after + appendedAfter));
    QCOMPARE(box->PlainView()->IndexedLength(), box->Text().size());
}

void TstRetrieve::textAfterTheDownloadIsAppended() {
    QVERIFY(Connect());
    QTest::mouseClick(main_->cmd(1), Qt::LeftButton);
    const QString downloaded = main_->txt->Text();
    QVERIFY(!downloaded.endsWith(QLatin1Char('\n')));
    QCOMPARE(main_->txt->SelStart(), 1);
    // Late text starts a line of its own; what follows it is appended as it comes.
    sim_->send("LATE,1\r\n");
    QTRY_COMPARE(main_->txt->Text(), downloaded + QStringLiteral("\nLATE,1\r\n"));
    sim_->send("LATE,2\r\n");
    QTRY_COMPARE(main_->txt->Text(), downloaded + QStringLiteral("\nLATE,1\r\nLATE,2\r\n"));
    QCOMPARE(main_->txt->SelStart(), static_cast<int>(main_->txt->Text().size()));
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Data Received"));

    const QString path = dir_->filePath(QStringLiteral("late.csv"));
    dialogs_->saveAnswers.enqueue(path);
    main_->cmd_Click(5);
    const QByteArray file = FileBytes(path);
    QVERIFY2(file.endsWith(downloaded.section(QLatin1Char('\n'), -1).toLatin1() +
                           "\r\nLATE,1\r\nLATE,2\r\n"),
             file.right(80).constData());
}

void TstRetrieve::portDiesMidDownload() {
    SetDevice([](SimConfig& c) {
        c.lineRate = false;
        c.timerData = SimConfig::GeneratedLines('T', 100);
        c.dataPacing = {32, 40};
    });
    QVERIFY(Connect());
    const SimConfig config = sim_->config();
    QTimer::singleShot(600, sim_.get(), [this] { sim_->unplug(); });
    QTest::mouseClick(main_->cmd(0), Qt::LeftButton);

    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Data Received"));
    QVERIFY(AllButtons(true));
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(main_->timComm.isActive());
    QVERIFY(!link_->Comm.isOpen());
    // What came before the cable went, up to its last finished line.
    const QString full = Shown(config.header + config.timerData);
    const QString text = main_->txt->Text();
    QVERIFY(text.size() > Shown(config.header).size());
    QVERIFY(text.size() < full.size());
    QVERIFY(full.startsWith(text));
    QCOMPARE(full.at(text.size()), QLatin1Char('\n'));
}

void TstRetrieve::programEndsInsideTheDownload_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("close box") << true;
    QTest::newRow("program ends") << false;
}

void TstRetrieve::programEndsInsideTheDownload() {
    QFETCH(bool, closeBox);
    SetDevice([](SimConfig& c) {
        c.lineRate = false;
        c.timerData = SimConfig::GeneratedLines('T', 100);
        c.dataPacing = {32, 40};
    });
    QVERIFY(Connect());
    QSignalSpy ending(link_.get(), &modMain::programEnding);
    QTimer::singleShot(500, main_.get(), [this, closeBox] {
        if (closeBox)
            main_->close();
        else
            link_->EndProgram();
    });
    QTest::mouseClick(main_->cmd(0), Qt::LeftButton);

    QCOMPARE(ending.count(), 1);
    // Only unwound: nothing more shown, no link check, the pointer back.
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Loading Data"));
    QVERIFY(main_->txt->Text().contains(QStringLiteral("\r\n"))); // not rewritten
    QVERIFY(!main_->timComm.isActive());
    QVERIFY(!QApplication::overrideCursor());
    if (closeBox) {
        QVERIFY(!link_->Comm.isOpen());
        QTRY_COMPARE(sim_->exitCount(), 1);
        QVERIFY(!main_->isVisible());
    }
    // Text still arriving shows nowhere.
    const QString text = main_->txt->Text();
    main_->AppendReceived(QStringLiteral("more\r\n"));
    QCOMPARE(main_->txt->Text(), text);
}

void TstRetrieve::saveWritesWhatTheDeviceSent() {
    QVERIFY(Connect());
    QTest::mouseClick(main_->cmd(3), Qt::LeftButton);
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Data Received"));
    const SimConfig config = sim_->config();

    const QString folder = dir_->filePath(QStringLiteral("readings"));
    QVERIFY(QDir().mkpath(folder));
    const QString csv = folder + QStringLiteral("/rzt.csv");
    const QString txt = folder + QStringLiteral("/rzt.txt");
    dialogs_->saveAnswers.enqueue(csv);
    dialogs_->saveAnswers.enqueue(txt);
    const QString shown = main_->txt->Text();

    QTest::mouseClick(main_->cmd(5), Qt::LeftButton);
    QCOMPARE(dialogs_->saveRequests.size(), 1);
    const Dialogs::SaveRequest& request = dialogs_->saveRequests[0];
    QCOMPARE(request.title, QStringLiteral("Save to Text File"));
    QCOMPARE(request.initialFolder, QString()); // nothing stored yet
    QCOMPARE(request.filter, QStringLiteral("Excel (*.csv)|*.csv|Text (*.txt)|*.txt"));
    QCOMPARE(request.filterIndex, 1);
    QCOMPARE(request.defaultSuffix, QStringLiteral("csv"));
    QVERIFY(request.confirmOverwrite);
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Save Data Complete"));
    QVERIFY(dialogs_->messages.isEmpty());
    QCOMPARE(FileBytes(csv), config.header + config.dataFor('A'));

    QTest::mouseClick(main_->cmd(5), Qt::LeftButton);
    QCOMPARE(dialogs_->saveRequests[1].initialFolder, folder);
    QCOMPARE(FileBytes(txt), FileBytes(csv));
    QCOMPARE(link_->Reg->ReadRegistry(clsReg::LocalMachine, SettingsKey, QStringLiteral("DIR")),
             folder);

    // Saving leaves the window as it was.
    QCOMPARE(main_->txt->Text(), shown);
    QVERIFY(AllButtons(true));
    QVERIFY(main_->timComm.isActive());
    QVERIFY(!QApplication::overrideCursor());
}

void TstRetrieve::folderRememberedAcrossRuns() {
    const QString folder = dir_->filePath(QStringLiteral("first"));
    QVERIFY(QDir().mkpath(folder));
    main_->txt->SetText(QStringLiteral("A,1\nB,2\n"));
    dialogs_->saveAnswers.enqueue(folder + QStringLiteral("/a.csv"));
    main_->cmd_Click(5);
    QCOMPARE(FileBytes(folder + QStringLiteral("/a.csv")), QByteArray("A,1\r\nB,2\r\n"));

    // A later run: its own link, settings object and window.
    modMain link;
    link.Reg = std::make_unique<clsReg>();
    TestDialogs dialogs;
    frmMain later(link, dialogs);
    later.txt->SetText(QStringLiteral("C,3\n"));
    dialogs.saveAnswers.enqueue(QString());
    later.cmd_Click(5);
    QCOMPARE(dialogs.saveRequests.size(), 1);
    QCOMPARE(dialogs.saveRequests[0].initialFolder, folder);
}

void TstRetrieve::cancelChangesNothing() {
    QVERIFY(Connect());
    main_->txt->SetText(QStringLiteral("A,1\r\n"));
    main_->cmd_Click(5); // no answer queued: the user cancels
    QCOMPARE(dialogs_->saveRequests.size(), 1);
    QVERIFY(dialogs_->messages.isEmpty());
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Ready"));
    QCOMPARE(link_->Reg->ReadRegistry(clsReg::LocalMachine, SettingsKey, QStringLiteral("DIR")),
             QString());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList());
}

void TstRetrieve::nothingToSave() {
    QVERIFY(Connect());
    dialogs_->saveAnswers.enqueue(dir_->filePath(QStringLiteral("never.csv")));
    QTest::mouseClick(main_->cmd(5), Qt::LeftButton);
    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(dialogs_->messages[0].text, QStringLiteral("You have not selected any data to Save!"));
    QCOMPARE(dialogs_->messages[0].icon, Dialogs::Icon::Information);
    QVERIFY(dialogs_->saveRequests.isEmpty());
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Ready"));
    QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("never.csv"))));
}

void TstRetrieve::saveFailsToOpen_data() {
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<int>("error");
    QTest::newRow("parent is a regular file") << "plain/x.csv" << ENOTDIR;
    QTest::newRow("folder does not exist") << "missing/x.csv" << ENOENT;
    QTest::newRow("name of a folder") << "folder" << EISDIR;
}

void TstRetrieve::saveFailsToOpen() {
    QFETCH(QString, relativePath);
    QFETCH(int, error);
    QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("plain")), "not a folder"));
    QVERIFY(QDir().mkpath(dir_->filePath(QStringLiteral("folder"))));
    const QString path = dir_->filePath(relativePath);
    main_->txt->SetText(QStringLiteral("A,1\r\n"));
    main_->lblStatus->setText(QStringLiteral("Data Received"));
    dialogs_->saveAnswers.enqueue(path);

    main_->cmd_Click(5);
    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(dialogs_->messages[0].text, QStringLiteral("Could not Open ") + path +
                                             QStringLiteral("\r\nErr: ") + QString::number(error) +
                                             QStringLiteral(" - ") + SystemText(error));
    QCOMPARE(dialogs_->messages[0].icon, Dialogs::Icon::Critical);
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Errors will Saving Data"));
    // The folder is remembered all the same.
    QCOMPARE(link_->Reg->ReadRegistry(clsReg::LocalMachine, SettingsKey, QStringLiteral("DIR")),
             GetFolderPath(path));
    QCOMPARE(FileBytes(dir_->filePath(QStringLiteral("plain"))), QByteArray("not a folder"));
}

void TstRetrieve::fullDiskLeavesTheOldFile_data() {
    QTest::addColumn<int>("kibibytes");
    QTest::newRow("many blocks") << 300;
    // One block, of which the disk takes only a part: the write comes back short, not failed.
    QTest::newRow("one block, just too big") << 63;
}

void TstRetrieve::fullDiskLeavesTheOldFile() {
    QFETCH(int, kibibytes);
    const QString folder = dir_->filePath(QStringLiteral("tiny"));
    TinyDisk disk(folder);
    if (!disk.mounted) QSKIP("needs root and a tmpfs mount");
    const QString path = folder + QStringLiteral("/rzt.csv");
    QVERIFY(WriteBytes(path, "OLD,1\r\n"));

    QString text;
    for (int i = 0; text.size() < kibibytes * 1024; ++i)
        text += QStringLiteral("T,%1,02/03/2024,09:14:10,00:31.44,s\r\n")
                    .arg(i, 5, 10, QLatin1Char('0'));
    main_->txt->SetText(text);
    dialogs_->saveAnswers.enqueue(path);
    main_->cmd_Click(5);

    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(dialogs_->messages[0].text, QStringLiteral("Could not write to ") + path +
                                             QStringLiteral("\r\nErr: ") + QString::number(ENOSPC) +
                                             QStringLiteral(" - ") + SystemText(ENOSPC));
    QCOMPARE(dialogs_->messages[0].icon, Dialogs::Icon::Critical);
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Errors will Saving Data"));
    QCOMPARE(FileBytes(path), QByteArray("OLD,1\r\n"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("rzt.csv")});
    QCOMPARE(link_->Reg->ReadRegistry(clsReg::LocalMachine, SettingsKey, QStringLiteral("DIR")),
             folder);

    // Once there is room, the same save goes through whole.
    QVERIFY(QFile::remove(path));
    main_->txt->SetText(QStringLiteral(" A,1 \r\nB,2"));
    dialogs_->saveAnswers.enqueue(path);
    main_->cmd_Click(5);
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Save Data Complete"));
    QCOMPARE(FileBytes(path), QByteArray("A,1\r\nB,2\r\n"));
}

void TstRetrieve::saveReplacesOnlyAfterTheFlush_data() {
    QTest::addColumn<int>("failure");
    QTest::newRow("flushed") << 0;
    QTest::newRow("flush fails") << EIO;
}

void TstRetrieve::saveReplacesOnlyAfterTheFlush() {
    QFETCH(int, failure);
    const QString path = dir_->filePath(QStringLiteral("rzt.csv"));
    QVERIFY(WriteBytes(path, "OLD,1\r\n"));
    FlushProbe::target = path;
    FlushProbe::failure = failure;
    FlushProbe::calls = 0;
    SetFlushToDisk(&FlushProbe::Flush);
    const auto restore = qScopeGuard([] { SetFlushToDisk(nullptr); });
    main_->txt->SetText(QStringLiteral("NEW,2\r\n"));
    dialogs_->saveAnswers.enqueue(path);
    main_->cmd_Click(5);

    QCOMPARE(FlushProbe::calls, 1);
    QCOMPARE(FlushProbe::targetAtFlush, QByteArray("OLD,1\r\n"));
    if (failure == 0) {
        QVERIFY(dialogs_->messages.isEmpty());
        QCOMPARE(main_->lblStatus->text(), QStringLiteral("Save Data Complete"));
        QCOMPARE(FileBytes(path), QByteArray("NEW,2\r\n"));
    } else {
        QCOMPARE(dialogs_->messages.size(), 1);
        QCOMPARE(dialogs_->messages[0].text, QStringLiteral("Could not Close ") + path +
                                                 QStringLiteral("\r\nErr: ") + QString::number(failure) +
                                                 QStringLiteral(" - ") + SystemText(failure));
        QCOMPARE(dialogs_->messages[0].icon, Dialogs::Icon::Critical);
        QCOMPARE(main_->lblStatus->text(), QStringLiteral("Errors will Saving Data"));
        QCOMPARE(FileBytes(path), QByteArray("OLD,1\r\n"));
    }
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("rzt.csv")});
}

void TstRetrieve::failedReplaceKeepsTheOldFile() {
    const QString path = dir_->filePath(QStringLiteral("rzt.csv"));
    const QString other = dir_->filePath(QStringLiteral("other/old.csv"));
    QVERIFY(QDir().mkpath(dir_->filePath(QStringLiteral("other"))));
    QVERIFY(WriteBytes(path, "placeholder"));
    QVERIFY(WriteBytes(other, "OLD,1\r\n"));
    BoundFile bound(other, path);
    if (!bound.mounted) QSKIP("needs root and a bind mount");
    main_->txt->SetText(QStringLiteral("NEW,2\r\n"));
    dialogs_->saveAnswers.enqueue(path);
    main_->cmd_Click(5);

    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(dialogs_->messages[0].text, QStringLiteral("Could not Close ") + path +
                                             QStringLiteral("\r\nErr: ") + QString::number(EBUSY) +
                                             QStringLiteral(" - ") + SystemText(EBUSY));
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Errors will Saving Data"));
    QCOMPARE(FileBytes(path), QByteArray("OLD,1\r\n"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("rzt.csv")});
}

void TstRetrieve::leaving_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Exit") << false;
    QTest::newRow("close box") << true;
}

void TstRetrieve::leaving() {
    QFETCH(bool, closeBox);
    QVERIFY(Connect());
    QSignalSpy ending(link_.get(), &modMain::programEnding);
    // Inside the sign-off's pause: impatient clicks, another close request, a link check due.
    bool busyPointer = false;
    QTimer::singleShot(40, this, [&] {
        busyPointer = QApplication::overrideCursor() &&
                      QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        QTest::mouseClick(main_->cmd(6), Qt::LeftButton);
        QTest::mouseClick(main_->cmd(0), Qt::LeftButton);
        main_->close();
    });
    main_->timComm.start(20);
    if (closeBox)
        main_->close();
    else
        QTest::mouseClick(main_->cmd(6), Qt::LeftButton);

    QVERIFY(busyPointer);
    QCOMPARE(ending.count(), 1);
    QVERIFY(link_->Ending());
    QVERIFY(!link_->Comm.isOpen());
    QVERIFY(!main_->isVisible());
    QVERIFY(!main_->timComm.isActive());
    QTRY_COMPARE(sim_->exitCount(), 1);
    QTest::qWait(100);
    QCOMPARE(sim_->receivedBytes(), QByteArray("X"));
    QVERIFY(dialogs_->messages.isEmpty() && dialogs_->saveRequests.isEmpty());

    // Nothing more is shown once the program ends.
    main_->FillForm();
    QCOMPARE(main_->lblStatus->text(), QStringLiteral("Ready"));
    QVERIFY(!main_->timComm.isActive());
    main_->txt->SetText(QStringLiteral("A\r\n"));
    main_->cmd_Click(5);
    QVERIFY(dialogs_->saveRequests.isEmpty());
}

void TstRetrieve::clickDuringALinkCheck_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("deviceOn");
    QTest::addColumn<bool>("held");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("Timer Only") << 0 << true << true << QByteArray("?HT");
    QTest::newRow("Timer Only, device gone") << 0 << false << true << QByteArray("??");
    // Saving needs no exchange: it runs at once, and a lost device cannot take the data with it.
    QTest::newRow("Save") << 5 << true << false << QByteArray("?");
    QTest::newRow("Save, device gone") << 5 << false << false << QByteArray("??");
    // Leaving is the user's wish either way; "X" only goes to a port still open.
    QTest::newRow("Exit") << 6 << true << true << QByteArray("?X");
    QTest::newRow("Exit, device gone") << 6 << false << true << QByteArray("??");
}

void TstRetrieve::clickDuringALinkCheck() {
    QFETCH(int, index);
    QFETCH(bool, deviceOn);
    QFETCH(bool, held);
    QFETCH(QByteArray, wire);
    QVERIFY(Connect());
    main_->timComm.stop(); // the check below is run by hand
    if (!deviceOn) sim_->switchOff();
    const QString path = dir_->filePath(QStringLiteral("kept.csv"));
    if (index == 5) {
        main_->txt->SetText(QStringLiteral("A,1\r\nB,2\r\n"));
        dialogs_->saveAnswers.enqueue(path);
    }

    // The click lands in the pause after the link check's "?".
    int heldIndex = -2;
    bool busy = false, buttonsOff = false;
    QByteArray savedInThePause;
    QTimer::singleShot(40, this, [&] {
        busy = link_->ExchangeBusy();
        QTest::mouseClick(main_->cmd(index), Qt::LeftButton);
        heldIndex = main_->HeldClick();
        buttonsOff = AllButtons(false);
        savedInThePause = FileBytes(path);
    });
    link_->timComm_Timer();
    QVERIFY(busy);
    QCOMPARE(heldIndex, held ? index : -1);
    QCOMPARE(buttonsOff, held);

    switch (index) {
    case 0:
        if (deviceOn) {
            QTRY_COMPARE(main_->lblStatus->text(), QStringLiteral("Data Received"));
            const SimConfig config = sim_->config();
            QCOMPARE(main_->txt->Text(), Shown(config.header + config.timerData));
        } else {
            // The check gave the device up: the window is gone and the download with it.
            QCOMPARE(windows_.lost, 1);
            QTRY_COMPARE(main_->HeldClick(), -1);
            QTest::qWait(300);
            QCOMPARE(main_->lblStatus->text(), QStringLiteral("Ready"));
        }
        break;
    case 5:
        QCOMPARE(savedInThePause, QByteArray("A,1\r\nB,2\r\n"));
        QCOMPARE(main_->lblStatus->text(), QStringLiteral("Save Data Complete"));
        QVERIFY(dialogs_->messages.isEmpty());
        QCOMPARE(windows_.lost, deviceOn ? 0 : 1);
        break;
    case 6:
        QTRY_VERIFY(link_->Ending());
        QVERIFY(!link_->Comm.isOpen());
        if (deviceOn) QTRY_COMPARE(sim_->exitCount(), 1);
        QCOMPARE(windows_.lost, deviceOn ? 0 : 1);
        break;
    }
    QCOMPARE(main_->HeldClick(), -1);
    QVERIFY(AllButtons(true));
    QTest::qWait(100);
    QCOMPARE(sim_->receivedBytes(), wire);
}

void TstRetrieve::deviceLostWithTheDownload_data() {
    QTest::addColumn<QString>("steps");  // D: a download of timer data, S: a save
    QTest::addColumn<QString>("answer"); // empty: no question may come
    QTest::newRow("unsaved download, Save") << "D"
                                            << "Save";
    QTest::newRow("unsaved download, Discard") << "D"
                                               << "Discard";
    QTest::newRow("saved download") << "DS"
                                    << "";
    QTest::newRow("no download") << ""
                                 << "";
    QTest::newRow("new download after a save") << "DSD"
                                               << "Save";
}

void TstRetrieve::deviceLostWithTheDownload() {
    QFETCH(QString, steps);
    QFETCH(QString, answer);
    // The program's own way: the search window hands over and starts the search again.
    MakeSearchWindow();
    QVERIFY(find_->Load(nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(find_->RetrievalWindow() && find_->RetrievalWindow()->isVisible(),
                             15000);
    frmMain* main = find_->RetrievalWindow();
    for (const QChar step : steps) {
        dialogs_->saveAnswers.enqueue(dir_->filePath(QStringLiteral("earlier.csv")));
        main->cmd_Click(step == u'D' ? 0 : 5);
    }
    const qsizetype saves = dialogs_->saveRequests.size();
    const QString kept = dir_->filePath(QStringLiteral("kept.csv"));
    dialogs_->saveAnswers.clear(); // the downloads took none
    dialogs_->saveAnswers.enqueue(kept);
    dialogs_->questionAnswers.enqueue(answer == u"Save" ? Dialogs::Answer::Save
                                                        : Dialogs::Answer::Discard);
    bool beforeTheSearch = false;
    dialogs_->whileQuestionOpen = [&] {
        beforeTheSearch = main->isVisible() && !find_->isVisible() && !find_->timUSB.isActive();
    };

    sim_->switchOff();
    main->timComm.stop(); // the check that gives the device up is run by hand
    link_->timComm_Timer();

    const QString question =
        QStringLiteral("The RZT device no longer answers. Save the downloaded data?");
    QCOMPARE(dialogs_->questions, answer.isEmpty() ? QStringList() : QStringList{question});
    QCOMPARE(beforeTheSearch, !answer.isEmpty());
    const bool written = answer == u"Save";
    QCOMPARE(dialogs_->saveRequests.size(), saves + (written ? 1 : 0));
    const SimConfig config = sim_->config();
    QCOMPARE(FileBytes(kept),
             written ? config.header + config.dataFor('T') : QByteArray("<missing>"));
    QVERIFY(!main->isVisible() && find_->isVisible() && link_->PortSearching);
}

// The user takes a while over the file's name; meanwhile the device is switched off and on.
// What is saved is the download the user asked to save.
void TstRetrieve::deviceGoneAndBackWhileChoosingTheFile() {
    MakeSearchWindow();
    QVERIFY(find_->Load(nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(find_->RetrievalWindow() && find_->RetrievalWindow()->isVisible(),
                             15000);
    frmMain* main = find_->RetrievalWindow();
    main->cmd_Click(0);
    QCOMPARE(main->lblStatus->text(), QStringLiteral("Data Received"));
    const QString path = dir_->filePath(QStringLiteral("timer.csv"));
    dialogs_->saveAnswers.enqueue(path);
    dialogs_->whileSaveDialogOpen = [&] {
        sim_->switchOff();
        QTest::qWait(3000); // past a link check and both its probes
        sim_->switchOn();
        QTest::qWait(2500); // long enough to be found and identified again
    };
    main->cmd_Click(5);
    const SimConfig config = sim_->config();
    QCOMPARE(FileBytes(path), config.header + config.dataFor('T'));
}

QTEST_MAIN(TstRetrieve)
#include "tst_retrieve.moc"
