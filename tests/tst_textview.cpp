// The plain view of the text box: its line index after appends and replacements, that a paint
// draws the lines on screen and no others however long the text, selection and copy of the
// buffer's exact characters, and following appended text only while the user is at the bottom.

#include "RichTextBox.h"
#include "TextView.h"

#include <QApplication>
#include <QClipboard>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

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

QStringList ShownLines(const TextView* view) {
    QStringList lines;
    for (int i = 0; i < view->LineCount(); ++i)
        lines << view->LineText(i);
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

} // namespace

class TstTextView : public QObject {
    Q_OBJECT
private slots:
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
};

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

// Indexed chunk by chunk or all at once, the view reads the lines the slow reference reads,
// and the lines the formatted display makes paragraphs of.
void TstTextView::lineIndexAcrossChunks() {
    QFETCH(QStringList, chunks);
    QFETCH(qsizetype, widest);
    RichTextBox stepwise(nullptr, RichTextBox::Display::Plain);
    RichTextBox atOnce(nullptr, RichTextBox::Display::Plain);
    RichTextBox formatted;
    for (const QString& chunk : chunks) {
        for (RichTextBox* box : {&stepwise, &atOnce, &formatted})
            box->SetSelText(chunk);
        stepwise.FlushRender();
    }
    atOnce.FlushRender();
    formatted.FlushRender();
    const QString text = chunks.join(QString());
    QCOMPARE(stepwise.Text(), text);
    QCOMPARE(ShownLines(stepwise.PlainView()), LinesOf(text));
    QCOMPARE(ShownLines(atOnce.PlainView()), LinesOf(text));
    QCOMPARE(ShownLines(stepwise.PlainView()), Paragraphs(formatted.View()->document()));
    QCOMPARE(stepwise.PlainView()->IndexedLength(), text.size());
    QCOMPARE(stepwise.PlainView()->WidestLine(), widest);
    QCOMPARE(atOnce.PlainView()->WidestLine(), widest);
    // Line starts point into the buffer: each line's text is the buffer's from there on.
    const TextView* view = stepwise.PlainView();
    for (int i = 0; i < view->LineCount(); ++i)
        QCOMPARE(QStringView(text).mid(view->LineStart(i), view->LineText(i).size()),
                 QStringView(view->LineText(i)));
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
    QCOMPARE(ShownLines(box.PlainView()), LinesOf(box.Text()));
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
    QCOMPARE(view->LineCount(), lines + 1); // the empty line after the last break
    const int onScreen = (view->viewport()->height() - 1) / view->LineHeight() + 1;
    const int expected = std::min(lines + 1, onScreen);
    for (const int top : {0, (lines + 1) / 2, view->verticalScrollBar()->maximum()}) {
        view->verticalScrollBar()->setValue(top);
        (void)view->grab();
        QCOMPARE(view->TopLine(), std::min(top, view->verticalScrollBar()->maximum()));
        QCOMPARE(view->LinesPainted(), std::min(expected, view->LineCount() - view->TopLine()));
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
    QCOMPARE(view->LineCount(), 66);
    QCOMPARE(view->AtBottom(), follows);
    if (follows)
        QCOMPARE(view->TopLine(), view->LineCount() - view->VisibleLines());
    else
        QCOMPARE(view->TopLine(), top);

    // Back at the bottom, it follows again.
    view->ScrollToBottom();
    shown.Append(Numbered(65, 3));
    shown.box->FlushRender();
    QVERIFY(view->AtBottom());
    QCOMPARE(view->TopLine(), view->LineCount() - view->VisibleLines());
}

void TstTextView::keyboardScrolling_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("where"); // top line after the key, from line 100
    QTest::newRow("down") << int(Qt::Key_Down) << 0 << "101";
    QTest::newRow("up") << int(Qt::Key_Up) << 0 << "99";
    QTest::newRow("page down") << int(Qt::Key_PageDown) << 0 << "100+page";
    QTest::newRow("page up") << int(Qt::Key_PageUp) << 0 << "100-page";
    QTest::newRow("ctrl+home") << int(Qt::Key_Home) << int(Qt::ControlModifier) << "0";
    QTest::newRow("ctrl+end") << int(Qt::Key_End) << int(Qt::ControlModifier) << "bottom";
}

void TstTextView::keyboardScrolling() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, where);
    Shown shown;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    shown.Append(Numbered(0, 300));
    shown.box->FlushRender();
    TextView* view = shown.view();
    view->verticalScrollBar()->setValue(100);
    view->setFocus();
    QTest::keyClick(view, static_cast<Qt::Key>(key), Qt::KeyboardModifiers(modifiers));
    const int page = view->VisibleLines();
    const int expected = where == u"100+page"   ? 100 + page
                         : where == u"100-page" ? 100 - page
                         : where == u"bottom"   ? view->verticalScrollBar()->maximum()
                                                : where.toInt();
    QCOMPARE(view->TopLine(), expected);
}

QTEST_MAIN(TstTextView)
#include "tst_textview.moc"
