// The window controls: the rich text box's buffer and display, focus, the busy indicator,
// buttons, labels, dialogs and twips.

#include "Artwork.h"
#include "BusyIndicator.h"
#include "Dialogs.h"
#include "Labels.h"
#include "PushButton.h"
#include "RichTextBox.h"
#include "Twips.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <functional>

namespace {

QColor ColorNamed(const QString& name) {
    return QColor::fromString(name);
}

// A run written as "text|colour", e.g. "AA|red"; the last '|' separates, so texts may contain one.
void AppendRun(RichTextBox& box, const QString& run) {
    const qsizetype bar = run.lastIndexOf(u'|');
    box.SetSelColor(ColorNamed(run.mid(bar + 1)));
    box.SetSelStart(static_cast<int>(box.Text().size()));
    box.SetSelText(run.left(bar));
}

QStringList RunSpecs(const RichTextBox& box) {
    QStringList specs;
    for (const auto& run : box.Runs()) {
        specs << run.text + u'|' + run.attributes.color.name();
    }
    return specs;
}

QStringList BlockTexts(const QTextDocument* document) {
    QStringList texts;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        texts << block.text();
    }
    return texts;
}

// Everything the display shows: per paragraph its alignment, margin and formatted fragments.
QStringList DescribeDocument(const QTextDocument* document) {
    QStringList lines;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const QTextBlockFormat bf = block.blockFormat();
        QString line = QStringLiteral("[%1 %2]").arg(int(bf.alignment())).arg(bf.leftMargin());
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat cf = it.fragment().charFormat();
            line += QStringLiteral(" <%1 %2 %3 %4 %5>")
                        .arg(it.fragment().text(), cf.fontFamilies().toStringList().join(u','))
                        .arg(cf.fontPointSize())
                        .arg(cf.foreground().color().name())
                        .arg(cf.fontWeight());
        }
        lines << line;
    }
    return lines;
}

QString Latin1Range() {
    QString all;
    for (int c = 0; c < 256; ++c) {
        all += QChar(c);
    }
    return all;
}

// Runs `inspect` on the modal dialog of type T once it is open.
template <typename T> void WhenModalOpens(std::function<void(T*)> inspect) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, inspect] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            inspect(dialog);
        }
    });
    poll->start();
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT

public:
    static inline bool dejaVuOnly_ = false;

private slots:
    void editing_data();
    void editing();
    void setTextResetsCaret();
    void readBackExact_data();
    void readBackExact();
    void runsKeepAttributes_data();
    void runsKeepAttributes();
    void lineBreaks_data();
    void lineBreaks();
    void paragraphAttributes_data();
    void paragraphAttributes();
    void searchInstructions();
    void deviceFoundCentred();
    void burstRendersOnce();
    void viewFollowsCaret();
    void gotFocus_data();
    void gotFocus();
    void busyIndicator();
    void busyIndicatorSleepsWhileUnseen();
    void twips_data();
    void twips();
    void captionsFitTheirBoxes_data();
    void captionsFitTheirBoxes();
    void pushButton();
    void messageBox_data();
    void messageBox();
    void saveDialog_data();
    void saveDialog();
};

void TestControls::editing_data() {
    QTest::addColumn<QString>("initial");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("clampedStart");
    QTest::addColumn<int>("clampedLength");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("expected");

    QTest::newRow("into empty") << "" << 0 << 0 << 0 << 0 << "abc"
                                << "abc";
    QTest::newRow("at end") << "abc" << 3 << 0 << 3 << 0 << "de"
                            << "abcde";
    QTest::newRow("at start") << "abc" << 0 << 0 << 0 << 0 << "xy"
                              << "xyabc";
    QTest::newRow("middle") << "abcd" << 2 << 0 << 2 << 0 << "\r\n"
                            << "ab\r\ncd";
    QTest::newRow("replace selection") << "abcdef" << 1 << 3 << 1 << 3 << "X"
                                       << "aXef";
    QTest::newRow("delete selection") << "abcdef" << 2 << 2 << 2 << 2 << ""
                                      << "abef";
    QTest::newRow("start past end") << "abc" << 99 << 0 << 3 << 0 << "d"
                                    << "abcd";
    QTest::newRow("negative start") << "abc" << -5 << 0 << 0 << 0 << "z"
                                    << "zabc";
    QTest::newRow("length past end") << "abcdef" << 4 << 10 << 4 << 2 << "!"
                                     << "abcd!";
    QTest::newRow("negative length") << "abc" << 1 << -2 << 1 << 0 << "-"
                                     << "a-bc";
    QTest::newRow("length on empty") << "" << 0 << 3 << 0 << 0 << "q"
                                     << "q";
}

void TestControls::editing() {
    QFETCH(QString, initial);
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(int, clampedStart);
    QFETCH(int, clampedLength);
    QFETCH(QString, inserted);
    QFETCH(QString, expected);

    RichTextBox box;
    box.SetText(initial);
    box.SetSelStart(start);
    box.SetSelLength(length);
    QCOMPARE(box.SelStart(), clampedStart);
    QCOMPARE(box.SelLength(), clampedLength);

    box.SetSelText(inserted);
    QCOMPARE(box.Text(), expected);
    QCOMPARE(box.SelStart(), clampedStart + int(inserted.size()));
    QCOMPARE(box.SelLength(), 0);
}

void TestControls::setTextResetsCaret() {
    RichTextBox box;
    box.SetSelBold(true);
    box.SetSelText(QStringLiteral("first"));
    box.SetSelStart(1);
    box.SetSelLength(3);

    box.SetSelBold(false);
    box.SetText(QStringLiteral("new"));
    QCOMPARE(box.Text(), QStringLiteral("new"));
    QCOMPARE(box.SelStart(), 0);
    QCOMPARE(box.SelLength(), 0);
    QCOMPARE(box.Runs().size(), std::size_t(1));
    QCOMPARE(box.Runs().front().attributes.emphasis, false);

    // Moving the caret drops the selection, as the text box it stands in for did.
    box.SetSelLength(2);
    box.SetSelStart(3);
    QCOMPARE(box.SelLength(), 0);

    box.Clear();
    QVERIFY(box.Text().isEmpty());
    QVERIFY(box.Runs().empty());
    QCOMPARE(box.SelStart(), 0);
    box.SetSelText(QStringLiteral("x"));
    QCOMPARE(box.Text(), QStringLiteral("x"));
}

void TestControls::readBackExact_data() {
    QTest::addColumn<QStringList>("chunks");
    QTest::newRow("CR LF split across chunks") << QStringList{"line1\r", "\nline2\r\n", "\r", "\n"};
    QTest::newRow("lone CR and LF") << QStringList{"a\rb\nc", "\n\r", "d"};
    QTest::newRow("all 8-bit characters") << QStringList{Latin1Range(), Latin1Range().mid(7)};
    QTest::newRow("NUL inside") << QStringList{QString(QChar(0)) + "x", QString(QChar(0)), "\r\n"};
    QTest::newRow("paragraph marks kept")
        << QStringList{QString(QChar(0x2029)) + QChar(0xFDD0), QString(QChar(0x2028))};
}

void TestControls::readBackExact() {
    QFETCH(QStringList, chunks);
    RichTextBox box;
    QString expected;
    bool bold = false;
    for (const QString& chunk : chunks) {
        box.SetSelBold(bold = !bold); // every chunk its own run
        box.SetSelText(chunk);
        expected += chunk;
        box.FlushRender(); // drawing must leave the buffer alone
    }
    QCOMPARE(box.Text(), expected);
    QString joined;
    for (const auto& run : box.Runs()) {
        joined += run.text;
    }
    QCOMPARE(joined, expected);
}

void TestControls::runsKeepAttributes_data() {
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("split in the middle") << QStringList{"AAAA|red"} << 2 << 0 << "bb|blue"
                                         << QStringList{"AA|#ff0000", "bb|#0000ff", "AA|#ff0000"};
    QTest::newRow("replace across a boundary")
        << QStringList{"AAA|red", "BBB|blue"} << 2 << 2 << "x|green"
        << QStringList{"AA|#ff0000", "x|#008000", "BB|#0000ff"};
    QTest::newRow("equal neighbour merges")
        << QStringList{"AAA|red", "BBB|blue"} << 3 << 0 << "c|red"
        << QStringList{"AAAc|#ff0000", "BBB|#0000ff"};
    QTest::newRow("deletion joins equal runs") << QStringList{"AA|red", "x|blue", "BB|red"} << 2
                                               << 1 << "|green" << QStringList{"AABB|#ff0000"};
    QTest::newRow("replace everything")
        << QStringList{"AA|red", "BB|blue"} << 0 << 4 << "z|green" << QStringList{"z|#008000"};
    QTest::newRow("insert at start")
        << QStringList{"AA|red"} << 0 << 0 << "b|blue" << QStringList{"b|#0000ff", "AA|#ff0000"};
    QTest::newRow("append other attributes")
        << QStringList{"AA|red", "B|red"} << 3 << 0 << "\r\n|blue"
        << QStringList{"AAB|#ff0000", "\r\n|#0000ff"};
}

void TestControls::runsKeepAttributes() {
    QFETCH(QStringList, runs);
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(QString, inserted);
    QFETCH(QStringList, expected);

    RichTextBox box;
    for (const QString& run : runs) {
        AppendRun(box, run);
    }
    box.SetSelStart(start);
    box.SetSelLength(length);
    const qsizetype bar = inserted.lastIndexOf(u'|');
    box.SetSelColor(ColorNamed(inserted.mid(bar + 1)));
    box.SetSelText(inserted.left(bar));
    QCOMPARE(RunSpecs(box), expected);
}

void TestControls::lineBreaks_data() {
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QStringList>("paragraphs");

    QTest::newRow("CR LF") << QStringList{"a\r\nb"} << QStringList{"a", "b"};
    QTest::newRow("CR | LF") << QStringList{"a\r", "\nb"} << QStringList{"a", "b"};
    QTest::newRow("lone CR") << QStringList{"a\rb"} << QStringList{"a", "b"};
    QTest::newRow("lone LF") << QStringList{"a", "\nb"} << QStringList{"a", "b"};
    QTest::newRow("LF CR is two") << QStringList{"a\n\rb"} << QStringList{"a", "", "b"};
    QTest::newRow("CR CR LF") << QStringList{"a\r", "\r", "\n", "b"} << QStringList{"a", "", "b"};
    QTest::newRow("only breaks") << QStringList{"\r\n", "\r", "\n"} << QStringList{"", "", ""};
    QTest::newRow("ends in break") << QStringList{"ab\r\n"} << QStringList{"ab", ""};
    QTest::newRow("character by character")
        << QStringList{"x", "\r", "\n", "\r", "\n", "y", "\r"} << QStringList{"x", "", "y", ""};
}

// The display of a text must not depend on how it was cut into runs or on when the view was
// brought up to date: every chunk is its own run (alternating attributes), and one box is
// drawn after every chunk while the other is drawn once at the end.
void TestControls::lineBreaks() {
    QFETCH(QStringList, chunks);
    QFETCH(QStringList, paragraphs);

    RichTextBox stepwise;
    RichTextBox atOnce;
    bool bold = false;
    for (const QString& chunk : chunks) {
        for (RichTextBox* box : {&stepwise, &atOnce}) {
            box->SetSelBold(bold);
            box->SetSelText(chunk);
        }
        bold = !bold;
        stepwise.FlushRender();
    }
    atOnce.FlushRender();
    QCOMPARE(BlockTexts(stepwise.View()->document()), paragraphs);
    QCOMPARE(DescribeDocument(stepwise.View()->document()),
             DescribeDocument(atOnce.View()->document()));
}

void TestControls::paragraphAttributes_data() {
    // Runs as "text|c" (centred) or "text|l" (left); the result is one letter per paragraph.
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QString>("alignments");

    QTest::newRow("run after a break owns the paragraph") << QStringList{"a\r\n|l", "b|c"} << "lc";
    QTest::newRow("last run with characters wins") << QStringList{"abc|l", "def\r\nghi|c"} << "cc";
    QTest::newRow("break-only run mid-paragraph") << QStringList{"abc|c", "\r\n|l"} << "cl";
    QTest::newRow("LF of a split pair counts") << QStringList{"a\r|l", "\nb|c"} << "lc";
    QTest::newRow("empty start paragraph") << QStringList{"\r\n\r\n|c", "x\r\n|l"} << "cclx";
}

void TestControls::paragraphAttributes() {
    QFETCH(QStringList, runs);
    QFETCH(QString, alignments);
    alignments.replace(u'x', u'l'); // 'x' marks a final empty paragraph, for readability

    for (const bool stepwise : {false, true}) {
        RichTextBox box;
        for (const QString& run : runs) {
            const qsizetype bar = run.lastIndexOf(u'|');
            box.SetSelAlignment(run.mid(bar + 1) == u"c" ? Qt::AlignCenter : Qt::AlignLeft);
            box.SetSelText(run.left(bar));
            if (stepwise) {
                box.FlushRender();
            }
        }
        box.FlushRender();
        QString seen;
        for (QTextBlock b = box.View()->document()->begin(); b.isValid(); b = b.next()) {
            seen += (b.blockFormat().alignment() & Qt::AlignHCenter) ? u'c' : u'l';
        }
        QCOMPARE(seen, alignments);
    }
}

void TestControls::searchInstructions() {
    RichTextBox box;
    box.SetSelFontName(QStringLiteral("MS Sans Serif"));
    box.SetSelAlignment(Qt::AlignLeft);
    box.SetSelFontSize(14);
    box.SetSelColor(QColor(255, 0, 0));
    box.SetSelBold(true);
    box.SetSelText(QStringLiteral("Instructions\r\n"));
    box.SetSelIndent(250);
    box.SetSelFontSize(10);
    box.SetSelColor(QColor(0, 0, 0));
    box.SetSelBold(false);
    box.SetSelText(QStringLiteral("Monitoring USB Ports for RZT Device.\r\n"));
    box.SetSelText(QStringLiteral("Please turn you device on now and plug it into a USB Port!"));
    box.FlushRender();

    const QTextDocument* doc = box.View()->document();
    QCOMPARE(BlockTexts(doc),
             (QStringList{"Instructions", "Monitoring USB Ports for RZT Device.",
                          "Please turn you device on now and plug it into a USB Port!"}));
    QTextBlock heading = doc->begin();
    QCOMPARE(heading.blockFormat().leftMargin(), 0.0);
    const QTextCharFormat headingFormat = heading.begin().fragment().charFormat();
    QCOMPARE(headingFormat.fontPointSize(), 14.0);
    QCOMPARE(headingFormat.foreground().color(), QColor(255, 0, 0));
    QCOMPARE(headingFormat.fontWeight(), int(QFont::Bold));
    // The laid-out family is drawn in the program's own face.
    QCOMPARE(headingFormat.fontFamilies().toStringList(), ProgramFont(14, true).families());

    for (QTextBlock body = heading.next(); body.isValid(); body = body.next()) {
        QVERIFY2(qAbs(body.blockFormat().leftMargin() - 250 / 15.0) < 0.5, qPrintable(body.text()));
        const QTextCharFormat f = body.begin().fragment().charFormat();
        QCOMPARE(f.fontPointSize(), 10.0);
        QCOMPARE(f.foreground().color(), QColor(0, 0, 0));
        QCOMPARE(f.fontWeight(), int(QFont::Normal));
    }
}

void TestControls::deviceFoundCentred() {
    RichTextBox box;
    box.SetSelText(QStringLiteral("Old text\r\n"));
    box.FlushRender();
    box.Clear();
    box.SetSelAlignment(Qt::AlignCenter);
    box.SetSelText(QStringLiteral("\r\n\r\n"));
    box.SetSelFontName(QStringLiteral("MS Sans Serif"));
    box.SetSelBold(true);
    box.SetSelFontSize(16);
    box.SetSelColor(QColor(0, 0, 255));
    box.SetSelText(QStringLiteral("Device Found\r\n"));
    box.FlushRender();

    const QTextDocument* doc = box.View()->document();
    QCOMPARE(BlockTexts(doc), (QStringList{"", "", "Device Found", ""}));
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        QVERIFY(b.blockFormat().alignment() & Qt::AlignHCenter);
    }
    const QTextCharFormat f = doc->findBlockByNumber(2).begin().fragment().charFormat();
    QCOMPARE(f.fontPointSize(), 16.0);
    QCOMPARE(f.foreground().color(), QColor(0, 0, 255));
    QCOMPARE(f.fontWeight(), int(QFont::Bold));
}

void TestControls::burstRendersOnce() {
    RichTextBox box;
    const int before = box.RenderCount();
    for (int i = 0; i < 200; ++i) {
        box.SetSelText(QStringLiteral("reading %1\r\n").arg(i));
    }
    QVERIFY(box.View()->document()->isEmpty()); // nothing drawn inside the burst
    QTRY_COMPARE(box.RenderCount(), before + 1);
    QCOMPARE(box.View()->document()->blockCount(), 201);

    // Moving the caret or clearing an empty box changes nothing on screen.
    box.SetSelStart(5);
    QTest::qWait(50);
    QCOMPARE(box.RenderCount(), before + 1);

    box.Clear();
    QTRY_COMPARE(box.RenderCount(), before + 2);
    QVERIFY(box.View()->document()->isEmpty());
    box.Clear();
    QTest::qWait(50);
    QCOMPARE(box.RenderCount(), before + 2);
}

void TestControls::viewFollowsCaret() {
    RichTextBox box;
    box.resize(200, 80);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QScrollBar* bar = box.View()->verticalScrollBar();
    for (int i = 0; i < 100; ++i) {
        box.SetSelStart(int(box.Text().size()));
        box.SetSelText(QStringLiteral("line %1\r\n").arg(i));
        if (i % 10 == 0) {
            QCoreApplication::processEvents();
        }
    }
    box.FlushRender();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    box.SetText(box.Text()); // caret back to 0: the top is shown
    box.FlushRender();
    QCOMPARE(bar->value(), 0);
}

void TestControls::gotFocus_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("setFocus on the box") << "box";
    QTest::newRow("setFocus on the view") << "view";
    QTest::newRow("tab from the button") << "tab";
    QTest::newRow("click into the text") << "click";
}

void TestControls::gotFocus() {
    QFETCH(QString, how);
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* button = new PushButton(QStringLiteral("&Exit"), QString::fromLatin1(Art::Exit));
    auto* box = new RichTextBox;
    layout->addWidget(button);
    layout->addWidget(box);
    box->SetSelText(QStringLiteral("Some text\r\nto click on"));
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    button->setFocus();
    QTRY_VERIFY(button->hasFocus());

    // The search window answers by handing the focus straight back to its Exit button.
    QSignalSpy spy(box, &RichTextBox::GotFocus);
    connect(box, &RichTextBox::GotFocus, button, [button] { button->setFocus(); });
    if (how == u"box") {
        box->setFocus();
    } else if (how == u"view") {
        box->View()->setFocus();
    } else if (how == u"tab") {
        QTest::keyClick(button, Qt::Key_Tab);
    } else {
        QTest::mouseClick(box->View()->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    }
    QTRY_COMPARE(spy.count(), 1);
    QTRY_VERIFY(button->hasFocus());
}

void TestControls::busyIndicator() {
    BusyIndicator busy;
    busy.resize(123, 17);
    busy.show();
    QVERIFY(QTest::qWaitForWindowExposed(&busy));
    const QImage idle = busy.grab().toImage();
    QVERIFY(!busy.IsRunning());

    busy.Start();
    QVERIFY(busy.IsRunning());
    const int first = busy.Phase();
    const QImage moving = busy.grab().toImage();
    QVERIFY(moving != idle);
    QTRY_VERIFY(busy.Phase() >= first + 3);
    // The blocks move (unless the phase happens to land on the same picture, which it can't
    // within a few steps).
    QTRY_VERIFY(busy.grab().toImage() != moving);

    busy.Stop();
    QVERIFY(!busy.IsRunning());
    const int stopped = busy.Phase();
    QTest::qWait(350);
    QCOMPARE(busy.Phase(), stopped);
    QCOMPARE(busy.grab().toImage(), idle);
}

// A started indicator nobody can see keeps no timer running; it animates again once shown.
void TestControls::busyIndicatorSleepsWhileUnseen() {
    QWidget window;
    window.resize(200, 60);
    auto* busy = new BusyIndicator(&window);
    busy->setGeometry(10, 10, 123, 17);
    busy->Start();
    QVERIFY(busy->IsRunning());
    QVERIFY(!busy->IsAnimating()); // its window was never shown

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(busy->IsAnimating());

    window.hide(); // as the search window is after the hand-over
    QVERIFY(busy->IsRunning());
    QVERIFY(!busy->IsAnimating());
    const int phase = busy->Phase();
    QTest::qWait(200);
    QCOMPARE(busy->Phase(), phase);

    window.show();
    QTRY_VERIFY(busy->Phase() > phase);

    window.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!busy->IsAnimating());
    window.setWindowState(Qt::WindowNoState);
    QTRY_VERIFY(busy->IsAnimating());

    busy->hide();
    QVERIFY(!busy->IsAnimating());
    busy->Stop();
    busy->show();
    QVERIFY(!busy->IsAnimating()); // stopped while hidden: stays still when shown
}

void TestControls::twips_data() {
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("one pixel") << 15 << 1;
    QTest::newRow("below half") << 7 << 0;
    QTest::newRow("half rounds up") << 8 << 1;
    QTest::newRow("negative half") << -8 << -1;
    QTest::newRow("indent") << 250 << 17;
    QTest::newRow("search width") << 6315 << 421;
    QTest::newRow("search height") << 5220 << 348;
    QTest::newRow("retrieval width") << 8145 << 543;
}

void TestControls::twips() {
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(TwipsToPx(twips), pixels);
    QCOMPARE(TwipsSize(twips, 6315), QSize(pixels, 421));
    QCOMPARE(TwipsRect(twips, -540, 15, twips), QRect(pixels, -36, 1, pixels));
}

void TestControls::captionsFitTheirBoxes_data() {
    QTest::addColumn<bool>("ownFace");
    QTest::newRow("the program's face") << true;
    // Last: the program's face cannot be brought back once removed.
    QTest::newRow("no metric-compatible face") << false;
}

void TestControls::captionsFitTheirBoxes() {
    QFETCH(bool, ownFace);
    if (ownFace) {
        // Brought by the program itself, whatever the machine has (main() below leaves this
        // process only DejaVu Sans where it can).
        QCOMPARE(QFontInfo(ProgramFont(8.25, true)).family(), QStringLiteral("Liberation Sans"));
        QCOMPARE(ProgramFont(8.25).stretch(), int(QFont::AnyStretch)); // not condensed
        const QFontInfo fixed(ProgramFixedPitchFont(8.25));
        QCOMPARE(fixed.family(), QStringLiteral("Liberation Mono"));
        QVERIFY(fixed.fixedPitch());
    } else {
        QFontDatabase::removeAllApplicationFonts();
        const QString family = QFontInfo(ProgramFont(8.25)).family();
        if (!dejaVuOnly_) QSKIP("fontconfig could not be limited to DejaVu Sans here");
        QCOMPARE(family, QStringLiteral("DejaVu Sans"));
    }
    // Caption labels and their boxes, in twips, as the windows lay them out; whatever face
    // stands in for "MS Sans Serif" must keep the captions inside.
    const QFontMetrics bold(ProgramFont(8.25, true));
    QVERIFY(bold.horizontalAdvance(QStringLiteral("Port:")) <= TwipsToPx(585));
    QVERIFY(bold.horizontalAdvance(QStringLiteral("Product ID:")) <= TwipsToPx(1095) - 4);
    QVERIFY(bold.height() <= TwipsToPx(255));
    const QFontMetrics regular(ProgramFont(8.25));
    // Widest button caption, beside a 16 px icon, in a 1935-twip button.
    QVERIFY(regular.horizontalAdvance(QStringLiteral("Chronograph Only")) + 16 + 16 <=
            TwipsToPx(1935));
    // Runs the windows set in the laid-out family are drawn in the same face and widths.
    RichTextBox box;
    box.SetSelFontName(QString::fromLatin1(LaidOutFamily));
    box.SetSelFontSize(8.25);
    box.SetSelBold(true);
    box.SetSelText(QStringLiteral("Product ID:"));
    box.FlushRender();
    const QTextCharFormat run = box.View()->document()->begin().begin().fragment().charFormat();
    QCOMPARE(run.font().stretch(), ProgramFont(8.25, true).stretch());
    QCOMPARE(QFontInfo(run.font()).family(), QFontInfo(ProgramFont(8.25, true)).family());
}

void TestControls::pushButton() {
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* button = new PushButton(QStringLiteral("&Exit"), QString::fromLatin1(Art::Exit));
    auto* other = new PushButton(QStringLiteral("&Save"), QString::fromLatin1(Art::Save));
    layout->addWidget(button);
    layout->addWidget(other);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QVERIFY(!button->icon().isNull()); // the resource is compiled in and found
    QCOMPARE(button->iconSize(), QSize(16, 16));

    // The access key presses the button visibly, so the click comes a moment later.
    QSignalSpy clicks(button, &QPushButton::clicked);
    QTest::keyClick(&window, Qt::Key_E, Qt::AltModifier);
    QTRY_COMPARE(clicks.count(), 1);

    button->setEnabled(false);
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(&window, Qt::Key_E, Qt::AltModifier);
    QTest::qWait(300);
    QCOMPARE(clicks.count(), 1);
    button->setEnabled(true);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicks.count(), 2);

    // The focused button looks different from the same button without the focus.
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    const QImage unfocused = button->grab().toImage();
    button->setFocus();
    QTRY_VERIFY(button->hasFocus());
    QVERIFY(button->grab().toImage() != unfocused);
}

void TestControls::messageBox_data() {
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("expectedIcon");
    QTest::newRow("information") << int(Dialogs::Icon::Information)
                                 << int(QMessageBox::Information);
    QTest::newRow("critical") << int(Dialogs::Icon::Critical) << int(QMessageBox::Critical);
}

void TestControls::messageBox() {
    QFETCH(int, icon);
    QFETCH(int, expectedIcon);
    QString title;
    QString text;
    int shownIcon = -1;
    int buttons = -1;
    WhenModalOpens<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        shownIcon = box->icon();
        buttons = int(box->standardButtons());
        box->accept();
    });
    QtDialogs().Message(nullptr, QStringLiteral("You have not selected any data to Save!"),
                        static_cast<Dialogs::Icon>(icon));
    QCOMPARE(title, QStringLiteral("ZORV RZT"));
    QCOMPARE(text, QStringLiteral("You have not selected any data to Save!"));
    QCOMPARE(shownIcon, expectedIcon);
    QCOMPARE(buttons, int(QMessageBox::Ok));
}

void TestControls::saveDialog_data() {
    QTest::addColumn<int>("filterIndex");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("typed"); // empty: cancel
    QTest::addColumn<QString>("selectedFilter");
    QTest::addColumn<QString>("expectedName");

    QTest::newRow("csv chosen") << 1 << true << "out"
                                << "Excel (*.csv)"
                                << "out.csv";
    QTest::newRow("txt chosen") << 2 << false << "out"
                                << "Text (*.txt)"
                                << "out.txt";
    QTest::newRow("own extension kept") << 1 << true << "data.log"
                                        << "Excel (*.csv)"
                                        << "data.log";
    QTest::newRow("cancel") << 1 << true << ""
                            << "Excel (*.csv)"
                            << "";
}

void TestControls::saveDialog() {
    QFETCH(int, filterIndex);
    QFETCH(bool, confirm);
    QFETCH(QString, typed);
    QFETCH(QString, selectedFilter);
    QFETCH(QString, expectedName);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Dialogs::SaveRequest request;
    request.title = QStringLiteral("Save to Text File");
    request.initialFolder = folder.path();
    request.filter = QStringLiteral("Excel (*.csv)|*.csv|Text (*.txt)|*.txt");
    request.filterIndex = filterIndex;
    request.defaultSuffix = QStringLiteral("csv");
    request.confirmOverwrite = confirm;

    QStringList filters;
    QString shownFilter;
    QString shownFolder;
    QString shownTitle;
    bool saveMode = false;
    bool asksBeforeReplacing = false;
    WhenModalOpens<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        shownFilter = dialog->selectedNameFilter();
        shownFolder = dialog->directory().absolutePath();
        shownTitle = dialog->windowTitle();
        saveMode = dialog->acceptMode() == QFileDialog::AcceptSave;
        asksBeforeReplacing = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        if (typed.isEmpty()) {
            dialog->reject();
        } else {
            // selectFile() is ignored once the name field has the focus, so type into it.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!name) {
                dialog->reject(); // the comparison of the result below reports it
                return;
            }
            name->setText(typed);
            static_cast<QDialog*>(dialog)->accept(); // protected in QFileDialog, public here
        }
    });
    const QString chosen = QtDialogs().SaveFileName(nullptr, request);

    QCOMPARE(filters, (QStringList{"Excel (*.csv)", "Text (*.txt)"}));
    QCOMPARE(shownFilter, selectedFilter);
    QCOMPARE(shownFolder, QDir(folder.path()).absolutePath());
    QCOMPARE(shownTitle, request.title);
    QVERIFY(saveMode);
    QCOMPARE(asksBeforeReplacing, confirm);
    QCOMPARE(chosen,
             expectedName.isEmpty() ? QString() : QDir(folder.path()).filePath(expectedName));
}

// Leaves this process only the DejaVu faces, as on a stock Debian machine, so the program's own
// face is what makes the captions fit, and so that without it the stand-in is a wide face.
int main(int argc, char** argv) {
    QTemporaryDir fontconfig;
    const QString dejaVu = QStringLiteral("/usr/share/fonts/truetype/dejavu");
#ifdef Q_OS_WIN
    const bool fontconfigUsed = false; // Windows' fonts come from the system, not fontconfig
#else
    const bool fontconfigUsed = true;
#endif
    if (fontconfigUsed && fontconfig.isValid() && QFileInfo(dejaVu).isDir()) {
        QFile conf(fontconfig.filePath(QStringLiteral("fonts.conf")));
        if (conf.open(QIODevice::WriteOnly)) {
            conf.write(QStringLiteral("<?xml version=\"1.0\"?>\n<fontconfig><dir>%1</dir>"
                                      "<cachedir>%2</cachedir></fontconfig>\n")
                           .arg(dejaVu, fontconfig.path())
                           .toUtf8());
            conf.close();
            qputenv("FONTCONFIG_FILE", conf.fileName().toLocal8Bit());
            TestControls::dejaVuOnly_ = true;
        }
    }
    QApplication app(argc, argv);
    TestControls test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_controls.moc"
