// The plain view of the text box: its line index after appends and replacements, the shown
// text a screen reader reads and its pieces, that a paint draws the lines on screen and no
// others however long the text, selection and copy of the buffer's exact characters, following
// appended text only while the user is at the bottom, and what the view tells a screen reader.

#include "RichTextBox.h"
#include "TextView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

namespace {

// The lines a text is read as, worked out the slow and obvious way: CR LF, a lone CR and a
// lone LF each end a line.
QStringList LinesOf(const QString& text) {
    QStringList lines{QString()};
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            lines << QString();
            ++i;
        } else if (c == u'\r' || c == u'\n') {
            lines << QString();
        } else {
            lines.last() += c;
        }
    }
    return lines;
}

QStringList ShownLines(const TextLines& index) {
    QStringList lines;
    for (int i = 0; i < index.LineCount(); ++i)
        lines << index.LineText(i);
    return lines;
}

QStringList Paragraphs(const QTextDocument* document) {
    QStringList texts;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        texts << block.text();
    return texts;
}

QString Numbered(int from, int count) {
    QString text;
    for (int i = from; i < from + count; ++i)
        text += QStringLiteral("T,%1,02/03/2024,09:14:10,00:31.44,s\r\n").arg(i, 6, 10, QLatin1Char('0'));
    return text;
}

// A plain box of a fixed size, shown.
struct Shown {
    QWidget window;
    RichTextBox* box;
    explicit Shown(int width = 300, int height = 160) {
        window.resize(width + 8, height + 8);
        box = new RichTextBox(&window, RichTextBox::Display::Plain);
        box->setGeometry(4, 4, width, height);
        window.show();
    }
    TextView* view() const { return box->PlainView(); }
    void Append(const QString& text) {
        box->SetSelStart(static_cast<int>(box->Text().size()));
        box->SetSelText(text);
    }
};

// What the view told a screen reader.
struct Told {
    QAccessible::Event type;
    int position; // where text changed; the caret, for a caret event
    QString removed, inserted;
};
std::vector<Told> told;

void Record(QAccessibleEvent* event) {
    if (!qobject_cast<TextView*>(event->object())) return;
    switch (event->type()) {
    case QAccessible::TextInserted: {
        const auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
        told.push_back({e->type(), e->changePosition(), QString(), e->textInserted()});
        break;
    }
    case QAccessible::TextRemoved: {
        const auto* e = static_cast<QAccessibleTextRemoveEvent*>(event);
        told.push_back({e->type(), e->changePosition(), e->textRemoved(), QString()});
        break;
    }
    case QAccessible::TextCaretMoved:
        told.push_back({event->type(), static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition(),
                        QString(), QString()});
        break;
    default:
        break;
    }
}

QAccessibleTextInterface* ReaderOf(TextView* view) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(view);
    return iface ? iface->textInterface() : nullptr;
}

// Device text with every kind of line break, a tab and an empty line. Shown:
// "T,000001,02/03\nR,\t17\n\nlast", 26 characters.
const QString Readings = QStringLiteral("T,000001,02/03\r\nR,\t17\r\rlast");

} // namespace

class TstTextView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void lineIndexAcrossChunks_data();
    void lineIndexAcrossChunks();
    void lineIndexAfterReplacing_data();
    void lineIndexAfterReplacing();
    void paintDrawsOnlyTheLinesOnScreen_data();
    void paintDrawsOnlyTheLinesOnScreen();
    void copyGivesTheBufferExactly_data();
    void copyGivesTheBufferExactly();
    void mouseSelection_data();
    void mouseSelection();
    void incrementalPaintsMatchAFullPaint();
    void followsOnlyAtTheBottom_data();
    void followsOnlyAtTheBottom();
    void keyboardScrolling_data();
    void keyboardScrolling();
    void piecesOfShownText_data();
    void piecesOfShownText();
    void readerCaretAndSelection_data();
    void readerCaretAndSelection();
    void readerFollowsInBatches_data();
    void readerFollowsInBatches();
    void readerToldWhatAReplacementChanged_data();
    void readerToldWhatAReplacementChanged();
};

// As when a screen reader is listening: the view tells it what changes, here to a recorder.
void TstTextView::initTestCase() {
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    QVERIFY(QAccessible::isActive());
    QAccessible::installUpdateHandler(Record);
}

void TstTextView::lineIndexAcrossChunks_data() {
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<qsizetype>("widest"); // cells of the widest line
    QTest::newRow("CR | LF") << QStringList{"AB\r", "\nC"} << qsizetype(2);
    QTest::newRow("CR | CR LF") << QStringList{"A\r", "\r\nB"} << qsizetype(1);
    QTest::newRow("CR LF | LF") << QStringList{"A\r\n", "\nB"} << qsizetype(1);
    QTest::newRow("lone CR | text") << QStringList{"A\r", "BC"} << qsizetype(2);
    QTest::newRow("LF CR is two breaks") << QStringList{"A\n\rB"} << qsizetype(1);
    QTest::newRow("ends in CR") << QStringList{"A\r\nB\r"} << qsizetype(1);
    QTest::newRow("only breaks") << QStringList{"\r\n", "\r", "\n", "\n\r"} << qsizetype(0);
    QTest::newRow("character by character")
        << QStringList{"x", "\r", "\n", "\r", "\n", "y", "\r"} << qsizetype(1);
    QTest::newRow("8-bit and NUL")
        << QStringList{QString::fromLatin1("\xE9\x80\r", 3), QString::fromLatin1("\n\x00\xFF", 3)}
        << qsizetype(2);
    QTest::newRow("tabs run to the next stop")
        << QStringList{"a\tb\r\n", "\t\tc\r", "\nabcdefgh\tx"} << qsizetype(17);
    QTest::newRow("a long line past the eight-at-a-time scan")
        << QStringList{QString(37, u'w'), QString(20, u'w') + "\r", "\n" + QString(9, u'v')}
        << qsizetype(57);
}

// Indexed chunk by chunk or all at once, the index reads the lines the slow reference reads,
// and the lines the formatted display makes paragraphs of; its shown text is those lines
// joined by LF, and every shown offset maps to the buffer and back.
void TstTextView::lineIndexAcrossChunks() {
    QFETCH(QStringList, chunks);
    QFETCH(qsizetype, widest);
    QString buffer;
    TextLines stepwise;
    stepwise.SetSource(&buffer);
    RichTextBox formatted;
    // A new source is indexed whole, and after that only what is added.
    auto expected = TextLines::Change::Rebuilt;
    for (const QString& chunk : chunks) {
        buffer += chunk;
        formatted.SetSelText(chunk);
        QCOMPARE(stepwise.Sync(), expected);
        expected = TextLines::Change::Extended;
    }
    formatted.FlushRender();
    const QString text = chunks.join(QString());
    TextLines atOnce;
    atOnce.SetSource(&text);
    atOnce.Sync();
    const QStringList lines = LinesOf(text);
    QCOMPARE(ShownLines(stepwise), lines);
    QCOMPARE(ShownLines(atOnce), lines);
    QCOMPARE(ShownLines(stepwise), Paragraphs(formatted.View()->document()));
    QCOMPARE(stepwise.IndexedLength(), text.size());
    QCOMPARE(stepwise.WidestLine(), widest);
    QCOMPARE(atOnce.WidestLine(), widest);
    // Line starts point into the buffer: each line's text is the buffer's from there on.
    for (int i = 0; i < stepwise.LineCount(); ++i)
        QCOMPARE(QStringView(text).mid(stepwise.LineStart(i), lines[i].size()), QStringView(lines[i]));

    const QString shown = lines.join(u'\n');
    QCOMPARE(stepwise.ShownText(), shown);
    QCOMPARE(stepwise.ShownLength(), shown.size());
    for (qsizetype at = 0; at <= shown.size(); ++at) {
        const qsizetype offset = stepwise.BufferOffset(at);
        QCOMPARE(stepwise.ShownOffset(offset), at);
        QCOMPARE(stepwise.ShownText(at, at + 2), shown.mid(at, 2));
        // A shown character is the buffer's own, a shown LF stands for a line break.
        if (at < shown.size() && shown[at] != u'\n') QCOMPARE(text[offset], shown[at]);
    }
}

void TstTextView::lineIndexAfterReplacing_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("start");  // -1: SetText
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("inserted");
    QTest::newRow("whole text, CR LF to LF") << "A\r\nB\r\nC\r\n" << -1 << 0 << "A\nB\nC";
    QTest::newRow("whole text, shorter") << Numbered(0, 50) << -1 << 0 << "x\r\ny";
    QTest::newRow("whole text, to empty") << "A\r\nB" << -1 << 0 << "";
    QTest::newRow("middle, joins a pair") << "A\rX\nB" << 2 << 1 << "";
    QTest::newRow("middle, splits a pair") << "A\r\nB" << 2 << 0 << "-";
    QTest::newRow("start, new first lines") << "A\r\nB" << 0 << 0 << "1\r2\n";
}

void TstTextView::lineIndexAfterReplacing() {
    QFETCH(QString, before);
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(QString, inserted);
    RichTextBox box(nullptr, RichTextBox::Display::Plain);
    box.SetText(before);
    box.FlushRender();
    box.PlainView()->SelectAll();
    if (start < 0) {
        box.SetText(inserted);
    } else {
        box.SetSelStart(start);
        box.SetSelLength(length);
        box.SetSelText(inserted);
    }
    // Until it is synced the view shows and gives nothing of the text that has gone.
    QCOMPARE(box.PlainView()->SelectedText(), QString());
    box.FlushRender();
    QCOMPARE(ShownLines(box.PlainView()->Lines()), LinesOf(box.Text()));
    QCOMPARE(box.PlainView()->IndexedLength(), box.Text().size());
    QCOMPARE(box.PlainView()->SelectionEnd() - box.PlainView()->SelectionStart(), 0);
}

void TstTextView::paintDrawsOnlyTheLinesOnScreen_data() {
    QTest::addColumn<int>("lines");
    QTest::newRow("fewer than fit") << 3;
    QTest::newRow("a screenful or two") << 40;
    QTest::newRow("20,000 lines") << 20000;
    QTest::newRow("200,000 lines") << 200000;
}

// The number of lines a paint lays out depends on the viewport alone.
void TstTextView::paintDrawsOnlyTheLinesOnScreen() {
    QFETCH(int, lines);
    Shown shown;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    shown.Append(Numbered(0, lines));
    shown.box->FlushRender();
    TextView* view = shown.view();
    QCOMPARE(view->Lines().LineCount(), lines + 1); // the empty line after the last break
    const int onScreen = (view->viewport()->height() - 1) / view->LineHeight() + 1;
    const int expected = std::min(lines + 1, onScreen);
    for (const int top : {0, (lines + 1) / 2, view->verticalScrollBar()->maximum()}) {
        view->verticalScrollBar()->setValue(top);
        (void)view->grab();
        QCOMPARE(view->TopLine(), std::min(top, view->verticalScrollBar()->maximum()));
        QCOMPARE(view->LinesPainted(), std::min(expected, view->Lines().LineCount() - view->TopLine()));
    }
}

void TstTextView::copyGivesTheBufferExactly_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("anchor");
    QTest::addColumn<qsizetype>("position");
    QTest::addColumn<QString>("copied");
    QTest::newRow("across a CR LF") << "AB\r\nCD" << qsizetype(1) << qsizetype(5) << "B\r\nC";
    QTest::newRow("backwards") << "AB\r\nCD" << qsizetype(5) << qsizetype(1) << "B\r\nC";
    QTest::newRow("lone CR and LF") << "A\rB\nC" << qsizetype(0) << qsizetype(5) << "A\rB\nC";
    QTest::newRow("8-bit") << QString::fromLatin1("\xE9\x00\xFF\r\n", 5) << qsizetype(0)
                           << qsizetype(5) << QString::fromLatin1("\xE9\x00\xFF\r\n", 5);
    QTest::newRow("past the end is clamped") << "AB" << qsizetype(1) << qsizetype(99) << "B";
}

void TstTextView::copyGivesTheBufferExactly() {
    QFETCH(QString, text);
    QFETCH(qsizetype, anchor);
    QFETCH(qsizetype, position);
    QFETCH(QString, copied);
    Shown shown;
    shown.Append(text);
    shown.box->FlushRender();
    TextView* view = shown.view();
    view->SetSelection(anchor, position);
    QCOMPARE(view->SelectedText(), copied);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), copied);

    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), text);
}

void TstTextView::mouseSelection_data() {
    // From (line, gap) to (line, gap), as the user drags; gaps are between character cells.
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QString>("selected");
    QTest::newRow("within a line") << QPoint(8, 1) << QPoint(12, 1) << "0001";
    QTest::newRow("across a line end") << QPoint(20, 0) << QPoint(9, 1) << "\r\nX,\t0";
    QTest::newRow("inside a tab, nearer its start") << QPoint(4, 1) << QPoint(12, 1) << "\t0001";
    QTest::newRow("inside a tab, nearer its end") << QPoint(6, 1) << QPoint(12, 1) << "0001";
    QTest::newRow("upwards, whole lines") << QPoint(0, 2) << QPoint(0, 0)
                                          << "RZT-3000\r\nX,\t0001\r\n";
    QTest::newRow("past a line's end") << QPoint(40, 0) << QPoint(40, 1) << "\r\nX,\t0001";
    QTest::newRow("after a tab") << QPoint(8, 1) << QPoint(10, 1) << "00";
}

void TstTextView::mouseSelection() {
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QString, selected);
    Shown shown;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    shown.Append(QStringLiteral("RZT-3000\r\nX,\t0001\r\nlast"));
    shown.box->FlushRender();
    TextView* view = shown.view();
    // The middle of a cell's left edge: the gap before the cell.
    const auto at = [view](QPoint cell) {
        return QPoint(3 + static_cast<int>(cell.x() * view->CellWidth()),
                      1 + cell.y() * view->LineHeight() + view->LineHeight() / 2);
    };
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(from));
    QTest::mouseMove(view->viewport(), at(to));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(to));
    QCOMPARE(view->SelectedText(), selected);
}

// While a stream is followed, only the newest rows are painted and the rest is moved on
// screen: what the screen ends up with must be what a paint of the whole view draws.
void TstTextView::incrementalPaintsMatchAFullPaint() {
    Shown shown;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    TextView* view = shown.view();
    const auto settle = [] {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };
    for (int i = 0; i < 60; ++i) {
        const QString line = Numbered(i, 1);
        shown.Append(line.left(17)); // a line drawn half, then finished below the fold
        shown.box->FlushRender();
        settle();
        shown.Append(line.mid(17));
        if (i % 3 == 0) shown.box->FlushRender();
        settle();
        if (i == 30) view->verticalScrollBar()->setValue(view->TopLine() - 3); // the user looks up
        if (i == 40) view->ScrollToBottom();
    }
    shown.box->FlushRender();
    settle();
    QVERIFY(view->AtBottom());

    const QImage screen = shown.window.screen()->grabWindow(shown.window.winId()).toImage();
    if (screen.isNull()) QSKIP("this platform gives no picture of the window");
    const QRect area(view->viewport()->mapTo(&shown.window, QPoint(0, 0)), view->viewport()->size());
    const QImage fresh = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(screen.copy(area).convertToFormat(QImage::Format_RGB32), fresh);
}

void TstTextView::followsOnlyAtTheBottom_data() {
    QTest::addColumn<int>("userTop"); // -1: the user leaves the view alone
    QTest::addColumn<bool>("follows");
    QTest::newRow("left at the bottom") << -1 << true;
    QTest::newRow("scrolled to the top") << 0 << false;
    QTest::newRow("scrolled up a little") << 5 << false;
}

void TstTextView::followsOnlyAtTheBottom() {
    QFETCH(int, userTop);
    QFETCH(bool, follows);
    Shown shown;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    TextView* view = shown.view();
    // A download: chunks drawn in batches, the view keeps to the newest line.
    for (int i = 0; i < 40; ++i) {
        shown.Append(Numbered(i, 1).left(20));
        shown.Append(Numbered(i, 1).mid(20));
        if (i % 7 == 0) shown.box->FlushRender();
    }
    shown.box->FlushRender();
    QVERIFY(view->verticalScrollBar()->maximum() > 5);
    QVERIFY(view->AtBottom());

    if (userTop >= 0) view->verticalScrollBar()->setValue(userTop);
    const int top = view->TopLine();
    shown.Append(Numbered(40, 25));
    shown.box->FlushRender();
    QCOMPARE(view->Lines().LineCount(), 66);
    QCOMPARE(view->AtBottom(), follows);
    if (follows)
        QCOMPARE(view->TopLine(), view->Lines().LineCount() - view->VisibleLines());
    else
        QCOMPARE(view->TopLine(), top);

    // Back at the bottom, it follows again.
    view->ScrollToBottom();
    shown.Append(Numbered(65, 3));
    shown.box->FlushRender();
    QVERIFY(view->AtBottom());
    QCOMPARE(view->TopLine(), view->Lines().LineCount() - view->VisibleLines());
}

void TstTextView::keyboardScrolling_data() {
    // From top line 100, the caret on line 100 at fromColumn. Lines: 100+page etc., "bottom".
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("where"); // top line after the key
    QTest::addColumn<int>("fromColumn");
    QTest::addColumn<QString>("caretLine");
    QTest::addColumn<int>("caretColumn"); // -1: the line's end
    constexpr int None = 0, Ctrl = int(Qt::ControlModifier), Shift = int(Qt::ShiftModifier);
    QTest::newRow("down") << int(Qt::Key_Down) << None << "101" << 3 << "101" << 3;
    QTest::newRow("up") << int(Qt::Key_Up) << None << "99" << 3 << "99" << 3;
    QTest::newRow("page down") << int(Qt::Key_PageDown) << None << "100+page" << 3 << "100+page" << 3;
    QTest::newRow("page up") << int(Qt::Key_PageUp) << None << "100-page" << 3 << "100-page" << 3;
    QTest::newRow("ctrl+home") << int(Qt::Key_Home) << Ctrl << "0" << 3 << "0" << 0;
    QTest::newRow("ctrl+end") << int(Qt::Key_End) << Ctrl << "bottom" << 3 << "300" << 0;
    QTest::newRow("home") << int(Qt::Key_Home) << None << "100" << 3 << "100" << 0;
    QTest::newRow("end") << int(Qt::Key_End) << None << "100" << 3 << "100" << -1;
    QTest::newRow("right") << int(Qt::Key_Right) << None << "100" << 3 << "100" << 4;
    QTest::newRow("left over a CR LF") << int(Qt::Key_Left) << None << "100" << 0 << "99" << -1;
    QTest::newRow("shift+down selects") << int(Qt::Key_Down) << Shift << "101" << 3 << "101" << 3;
}

// The keys scroll, and take the caret along for a screen reader; Shift selects.
void TstTextView::keyboardScrolling() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, where);
    QFETCH(int, fromColumn);
    QFETCH(QString, caretLine);
    QFETCH(int, caretColumn);
    Shown shown;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    shown.Append(Numbered(0, 300));
    shown.box->FlushRender();
    TextView* view = shown.view();
    const TextLines& lines = view->Lines();
    view->verticalScrollBar()->setValue(100);
    const qsizetype from = lines.LineStart(100) + fromColumn;
    view->SetSelection(from, from);
    view->setFocus();
    QTest::keyClick(view, static_cast<Qt::Key>(key), Qt::KeyboardModifiers(modifiers));
    const int page = view->VisibleLines();
    const auto lineOf = [&](const QString& name) {
        return name == u"100+page"   ? 100 + page
               : name == u"100-page" ? 100 - page
               : name == u"bottom"   ? view->verticalScrollBar()->maximum()
                                     : name.toInt();
    };
    QCOMPARE(view->TopLine(), lineOf(where));
    const int line = lineOf(caretLine);
    const qsizetype caret = caretColumn < 0 ? lines.LineContentEnd(line) : lines.LineStart(line) + caretColumn;
    QCOMPARE(view->CaretPosition(), caret);
    QCOMPARE(view->SelectionStart(), modifiers & Qt::ShiftModifier ? from : caret);
    QCOMPARE(ReaderOf(view)->cursorPosition(), int(lines.ShownOffset(caret)));
}

void TstTextView::piecesOfShownText_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("boundary"); // QAccessible::TextBoundaryType
    QTest::addColumn<int>("side");     // TextLines::Side
    QTest::addColumn<QString>("piece");
    QTest::addColumn<int>("start");    // -1: an offset outside the text
    constexpr int Char = QAccessible::CharBoundary, Word = QAccessible::WordBoundary,
                  Line = QAccessible::LineBoundary, Whole = QAccessible::NoBoundary;
    constexpr int Before = int(TextLines::Side::Before), At = int(TextLines::Side::At),
                  After = int(TextLines::Side::After);
    const QString first = QStringLiteral("T,000001,02/03\n");
    QTest::newRow("char at a line break") << 14 << Char << At << "\n" << 14;
    QTest::newRow("char before the first") << 0 << Char << Before << "" << 0;
    QTest::newRow("char after the last") << 25 << Char << After << "" << 26;
    QTest::newRow("char at the end") << 26 << Char << At << "" << 26;
    QTest::newRow("line, CR LF") << 3 << Line << At << first << 0;
    QTest::newRow("line at its break") << 14 << Line << At << first << 0;
    QTest::newRow("line with a tab, lone CR") << 17 << Line << At << "R,\t17\n" << 15;
    QTest::newRow("empty line") << 21 << Line << At << "\n" << 21;
    QTest::newRow("last line, from the end") << 26 << Line << At << "last" << 22;
    QTest::newRow("paragraph is a line") << 23 << int(QAccessible::ParagraphBoundary) << At << "last" << 22;
    QTest::newRow("line before") << 16 << Line << Before << first << 0;
    QTest::newRow("line before the first") << 5 << Line << Before << "" << 0;
    QTest::newRow("line after") << 16 << Line << After << "\n" << 21;
    QTest::newRow("line after the last") << 23 << Line << After << "" << 26;
    QTest::newRow("word, a field") << 3 << Word << At << "000001" << 2;
    QTest::newRow("word from its start") << 2 << Word << At << "000001" << 2;
    QTest::newRow("word, slashes inside") << 10 << Word << At << "02/03" << 9;
    QTest::newRow("between words, a comma") << 8 << Word << At << "," << 8;
    QTest::newRow("between words, a break") << 14 << Word << At << "\n" << 14;
    QTest::newRow("between words, comma and tab") << 16 << Word << At << ",\t" << 16;
    QTest::newRow("between words, two breaks") << 20 << Word << At << "\n\n" << 20;
    QTest::newRow("word before") << 3 << Word << Before << "," << 1;
    QTest::newRow("word before the first") << 0 << Word << Before << "" << 0;
    QTest::newRow("word after") << 3 << Word << After << "," << 8;
    QTest::newRow("word after the last") << 24 << Word << After << "" << 26;
    QTest::newRow("word at the end") << 26 << Word << At << "" << 26;
    QTest::newRow("whole text") << 5 << Whole << At << "T,000001,02/03\nR,\t17\n\nlast" << 0;
    QTest::newRow("past the end") << 27 << Char << At << "" << -1;
    QTest::newRow("before the start") << -3 << Line << At << "" << -1;
}

// The pieces a screen reader steps through, from the index and through the accessibility
// interface of a view that shows the same text.
void TstTextView::piecesOfShownText() {
    QFETCH(int, offset);
    QFETCH(int, boundary);
    QFETCH(int, side);
    QFETCH(QString, piece);
    QFETCH(int, start);
    const int end = start < 0 ? -1 : start + static_cast<int>(piece.size());
    TextLines index;
    index.SetSource(&Readings);
    index.Sync();
    const auto unit = boundary == QAccessible::CharBoundary   ? TextLines::Unit::Character
                      : boundary == QAccessible::WordBoundary ? TextLines::Unit::Word
                      : boundary == QAccessible::NoBoundary   ? TextLines::Unit::Whole
                                                              : TextLines::Unit::Line;
    const TextLines::Range range = index.ShownRange(offset, unit, TextLines::Side(side));
    QCOMPARE(range, (TextLines::Range{start, end}));
    QCOMPARE(index.ShownText(range.start, range.end), piece);

    Shown shown;
    shown.Append(Readings);
    shown.box->FlushRender();
    QAccessibleTextInterface* reader = ReaderOf(shown.view());
    QVERIFY(reader);
    QCOMPARE(reader->characterCount(), 26);
    const auto type = QAccessible::TextBoundaryType(boundary);
    int from = -9, to = -9;
    const QString read = side == int(TextLines::Side::Before) ? reader->textBeforeOffset(offset, type, &from, &to)
                         : side == int(TextLines::Side::At)   ? reader->textAtOffset(offset, type, &from, &to)
                                                              : reader->textAfterOffset(offset, type, &from, &to);
    QCOMPARE(read, piece);
    QCOMPARE(from, start);
    QCOMPARE(to, end);
}

void TstTextView::readerCaretAndSelection_data() {
    // On "AB\r\nCD\r\nEF", shown "AB\nCD\nEF"; the selection in buffer offsets.
    QTest::addColumn<qsizetype>("anchor");
    QTest::addColumn<qsizetype>("position");
    QTest::addColumn<int>("caret"); // shown
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("selectedFrom");
    QTest::newRow("caret in the second line") << qsizetype(5) << qsizetype(5) << 4 << "" << 0;
    QTest::newRow("caret between CR and LF") << qsizetype(3) << qsizetype(3) << 2 << "" << 0;
    QTest::newRow("across a CR LF") << qsizetype(1) << qsizetype(5) << 4 << "B\nC" << 1;
    QTest::newRow("backwards") << qsizetype(5) << qsizetype(1) << 1 << "B\nC" << 1;
    QTest::newRow("everything") << qsizetype(0) << qsizetype(10) << 8 << "AB\nCD\nEF" << 0;
}

// A read-only text whose caret and selection a reader can read and set, in shown offsets.
void TstTextView::readerCaretAndSelection() {
    QFETCH(qsizetype, anchor);
    QFETCH(qsizetype, position);
    QFETCH(int, caret);
    QFETCH(QString, selected);
    QFETCH(int, selectedFrom);
    Shown shown;
    shown.Append(QStringLiteral("AB\r\nCD\r\nEF"));
    shown.box->FlushRender();
    TextView* view = shown.view();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(view);
    QVERIFY(iface && iface->textInterface());
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QVERIFY(iface->state().readOnly);
    QVERIFY(!iface->state().editable);
    // Named as the window names the text box that holds it.
    shown.box->setAccessibleName(QStringLiteral("Data"));
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Data"));
    QAccessibleTextInterface* reader = iface->textInterface();
    QCOMPARE(reader->text(0, -1), view->ShownText());

    view->SetSelection(anchor, position);
    QCOMPARE(reader->cursorPosition(), caret);
    QCOMPARE(reader->selectionCount(), selected.isEmpty() ? 0 : 1);
    int from = -9, to = -9;
    reader->selection(0, &from, &to);
    QCOMPARE(reader->text(from, to), selected);
    QCOMPARE(from, selectedFrom);

    // Set by the reader: the same characters of the buffer are selected.
    const QString buffer = view->SelectedText();
    reader->removeSelection(0);
    QCOMPARE(reader->selectionCount(), 0);
    reader->setSelection(0, from, to);
    QCOMPARE(view->SelectedText(), buffer);
    reader->setCursorPosition(caret);
    QCOMPARE(reader->cursorPosition(), caret);
    // The caret's cell is where the reader is told it is.
    QCOMPARE(reader->offsetAtPoint(reader->characterRect(caret).center() -
                                   QPoint(reader->characterRect(caret).width() / 2, 0)),
             caret);
}

void TstTextView::readerFollowsInBatches_data() {
    QTest::addColumn<int>("chunks");
    QTest::addColumn<int>("chunksPerDraw");
    QTest::addColumn<qsizetype>("caretAt"); // where the user puts the caret after the first draw; -1: nowhere
    QTest::newRow("a chunk a draw") << 12 << 1 << qsizetype(-1);
    QTest::newRow("many chunks a draw") << 60 << 20 << qsizetype(-1);
    QTest::newRow("CR and LF in different draws") << 61 << 7 << qsizetype(-1);
    QTest::newRow("the user's caret stays") << 40 << 10 << qsizetype(3);
    QTest::newRow("a long burst in one draw") << 20000 << 20000 << qsizetype(-1);
}

// Text added during a download reaches the reader once per draw, however many chunks it came
// in, and the caret follows it unless the user has put it elsewhere.
void TstTextView::readerFollowsInBatches() {
    QFETCH(int, chunks);
    QFETCH(int, chunksPerDraw);
    QFETCH(qsizetype, caretAt);
    Shown shown;
    TextView* view = shown.view();
    const QString text = Numbered(0, chunks);
    const qsizetype piece = text.size() / chunks + 1; // cuts lines, and CR LF pairs, anywhere
    told.clear();
    int draws = 0;
    for (int i = 0; i < chunks; ++i) {
        shown.Append(text.mid(i * piece, piece));
        if ((i + 1) % chunksPerDraw == 0 || i + 1 == chunks) {
            shown.box->FlushRender();
            ++draws;
            if (draws == 1 && caretAt >= 0) view->SetSelection(caretAt, caretAt);
        }
    }
    // A long text is told a piece a turn of the event loop: all of it in the end.
    QString heard;
    int inserts = 0;
    int lastCaret = -1;
    const auto hear = [&] {
        heard.clear();
        inserts = 0;
        for (const Told& t : told) {
            if (t.type == QAccessible::TextInserted) {
                ++inserts;
                if (t.position != heard.size() || t.inserted.size() > 64 * 1024) return false;
                heard += t.inserted;
            }
            if (t.type == QAccessible::TextCaretMoved) lastCaret = t.position;
        }
        return heard == view->ShownText();
    };
    QTRY_VERIFY(hear());
    const int pieces = static_cast<int>(heard.size() / (64 * 1024));
    QVERIFY2(inserts <= draws + pieces, qPrintable(QStringLiteral("%1 inserts, %2 draws").arg(inserts).arg(draws)));
    QVERIFY(inserts >= draws - 1); // a draw may add only an LF that the shown text already has
    QCOMPARE(lastCaret, caretAt >= 0 ? int(caretAt) : int(heard.size()));
    QCOMPARE(ReaderOf(view)->cursorPosition(), lastCaret);
}

void TstTextView::readerToldWhatAReplacementChanged_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("start"); // -1: the whole text replaced, as a download's end does
    QTest::addColumn<QString>("after"); // the whole text, or what replaces one character at start
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("removed");  // told first, if any
    QTest::addColumn<QString>("inserted"); // then this, if any
    // Text that went is told as that many spaces: it is no longer there to be given.
    QTest::newRow("line ends rewritten, unfinished line dropped") << "A\r\nB\r\nC," << -1 << "A\nB" << 3 << "   " << "";
    QTest::newRow("line ends rewritten, nothing dropped") << "A\r\nB\rC" << -1 << "A\nB\rC" << 0 << "" << "";
    QTest::newRow("emptied for a new download") << "A\r\nB" << -1 << "" << 0 << "   " << "";
    QTest::newRow("filled") << "" << -1 << "X\r\nY" << 0 << "" << "X\nY";
    QTest::newRow("one more line") << "A" << -1 << "A\nB" << 1 << "" << "\nB";
    QTest::newRow("a line differs") << "A\r\nB1\r\nC" << -1 << "A\nB2\nC" << 2 << "    " << "B2\nC";
    QTest::newRow("a character replaced") << "ABC" << 1 << "x" << 0 << "   " << "AxC";
}

// A replaced text is told from the line where it first differs from what the reader was told:
// the end of a download costs the reader its last, unfinished line, not the whole text twice.
void TstTextView::readerToldWhatAReplacementChanged() {
    QFETCH(QString, before);
    QFETCH(int, start);
    QFETCH(QString, after);
    QFETCH(int, position);
    QFETCH(QString, removed);
    QFETCH(QString, inserted);
    Shown shown;
    shown.Append(before);
    shown.box->FlushRender();
    told.clear();
    if (start < 0) {
        shown.box->Clear(); // as the download's end does: the box lets go first
        shown.box->SetText(after);
    } else {
        shown.box->SetSelStart(start);
        shown.box->SetSelLength(1);
        shown.box->SetSelText(after);
    }
    shown.box->FlushRender();
    std::vector<Told> expected;
    if (!removed.isEmpty()) expected.push_back({QAccessible::TextRemoved, position, removed, QString()});
    if (!inserted.isEmpty()) expected.push_back({QAccessible::TextInserted, position, QString(), inserted});
    std::vector<Told> text;
    for (const Told& t : told)
        if (t.type != QAccessible::TextCaretMoved) text.push_back(t);
    QCOMPARE(text.size(), expected.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        QCOMPARE(text[i].type, expected[i].type);
        QCOMPARE(text[i].position, expected[i].position);
        QCOMPARE(text[i].removed, expected[i].removed);
        QCOMPARE(text[i].inserted, expected[i].inserted);
    }
}

QTEST_MAIN(TstTextView)
#include "tst_textview.moc"
