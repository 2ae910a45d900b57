#include "TextView.h"

#include "Labels.h"
#include "TextViewAccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr int LeftMargin = 3;
constexpr int TopMargin = 1;

int ClampToInt(qsizetype value) {
    return static_cast<int>(std::clamp<qsizetype>(value, 0, std::numeric_limits<int>::max()));
}

} // namespace

TextView::TextView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFont(FixedPitchFont(font().pointSizeF()));
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    // Every paint fills what it draws: opaque, so that scrolling can move the pixels on screen.
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    TextViewAccessible::Install();
    tellTimer_.setSingleShot(true);
    tellTimer_.setInterval(0);
    connect(&tellTimer_, &QTimer::timeout, this, &TextView::TellMore);
    UpdateMetrics();
    UpdateScrollBars();
}

QFont TextView::FixedPitchFont(double points) {
    return ProgramFixedPitchFont(points);
}

void TextView::SetSource(const QString* text) {
    lines_.SetSource(text);
    Sync();
}

void TextView::SourceReplaced() {
    // No repaint asked for: what is on screen stays until Sync() has indexed the new text,
    // which the owner of the buffer does from its own timer, apart from the change itself.
    lines_.SourceReplaced();
}

void TextView::Sync() {
    const qsizetype indexedBefore = lines_.IndexedLength();
    const int lastLine = lines_.LineCount() - 1;
    const TextLines::Change change = lines_.Sync();
    if (change == TextLines::Change::None) return;
    if (change == TextLines::Change::Rebuilt) {
        anchor_ = position_ = 0;
        selecting_ = false;
        UpdateScrollBars();
        changedFrom_ = 0;
        viewport()->update();
        // What the reader was told is the text up to where the new one differs.
        toldValid_ = std::min(toldValid_, lines_.ReplacedFrom());
    } else {
        // A caret left at the end of the text stays there, as in a terminal: the reader
        // follows the new text.
        if (anchor_ == position_ && position_ == indexedBefore)
            anchor_ = position_ = lines_.IndexedLength();
        UpdateScrollBars();
        // Only the last line and those after it can have changed.
        UpdateLinesFrom(lastLine);
    }
    TellReader();
}

void TextView::TellReader() {
    if (!QAccessible::isActive()) {
        // Nobody listens: nothing is owed, and nothing is built.
        told_ = toldValid_ = lines_.ShownLength();
        toldCaret_ = -1;
        lines_.HashLines(false);
        return;
    }
    // The lines' hashes tell what a replacement changed.
    lines_.HashLines(true);
    if (!tellTimer_.isActive()) TellMore();
}

// One piece of what the reader has not been told yet: first what went, then what came, each
// at most TellPiece characters a turn of the event loop, so that a long download reaches the
// reader in steps that never hold up the window for long; the caret once all is told.
void TextView::TellMore() {
    constexpr qsizetype TellPiece = 64 * 1024;
    for (qsizetype budget = TellPiece; budget > 0;) {
        if (toldValid_ < told_) {
            // From the end backwards. Text that went is no longer there to be given: it is
            // told, as Qt's own text widgets do, as that many spaces.
            const qsizetype n = std::min(budget, told_ - toldValid_);
            const QString gone(n, u' ');
            told_ -= n;
            budget -= n;
            QAccessibleTextRemoveEvent removed(this, static_cast<int>(told_), gone);
            QAccessible::updateAccessibility(&removed);
        } else if (lines_.Readable() && told_ < lines_.ShownLength()) {
            const qsizetype to = std::min(lines_.ShownLength(), told_ + budget);
            QAccessibleTextInsertEvent inserted(this, static_cast<int>(told_), lines_.ShownText(told_, to));
            budget -= to - told_;
            told_ = toldValid_ = to;
            QAccessible::updateAccessibility(&inserted);
        } else {
            break;
        }
    }
    if (toldValid_ < told_ || (lines_.Readable() && told_ < lines_.ShownLength())) {
        tellTimer_.start();
        return;
    }
    if (!lines_.Readable()) return; // the next Sync() tells the rest
    const int caret = static_cast<int>(lines_.ShownOffset(position_));
    if (caret != toldCaret_) {
        toldCaret_ = caret;
        QAccessibleTextCursorEvent moved(this, caret);
        QAccessible::updateAccessibility(&moved);
    }
}

int TextView::TopLine() const {
    return verticalScrollBar()->value();
}

int TextView::VisibleLines() const {
    return std::max(1, (viewport()->height() - TopMargin) / lineHeight_);
}

int TextView::VisibleColumns() const {
    return std::max(1, static_cast<int>((viewport()->width() - LeftMargin) / cellWidth_));
}

bool TextView::AtBottom() const {
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void TextView::ScrollToBottom() {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TextView::ShowLine(int line) {
    QScrollBar* bar = verticalScrollBar();
    if (line < bar->value()) {
        bar->setValue(line);
    } else if (line >= bar->value() + VisibleLines()) {
        bar->setValue(line - VisibleLines() + 1);
    }
}

void TextView::ShowOffset(qsizetype offset) {
    const int line = lines_.LineOf(offset);
    ShowLine(line);
    QScrollBar* bar = horizontalScrollBar();
    const qsizetype column = lines_.ColumnOf(line, offset);
    if (column < bar->value()) {
        bar->setValue(ClampToInt(column));
    } else if (column >= bar->value() + VisibleColumns()) {
        bar->setValue(ClampToInt(column - VisibleColumns() + 1));
    }
}

qsizetype TextView::SelectionStart() const {
    return std::min(anchor_, position_);
}

qsizetype TextView::SelectionEnd() const {
    return std::max(anchor_, position_);
}

void TextView::SetSelection(qsizetype anchor, qsizetype position) {
    const bool selected = anchor_ != position_;
    anchor_ = std::clamp<qsizetype>(anchor, 0, lines_.IndexedLength());
    position_ = std::clamp<qsizetype>(position, 0, lines_.IndexedLength());
    viewport()->update();
    if (QAccessible::isActive() && (selected || anchor_ != position_)) {
        QAccessibleTextSelectionEvent selection(this, static_cast<int>(lines_.ShownOffset(SelectionStart())),
                                                static_cast<int>(lines_.ShownOffset(SelectionEnd())));
        QAccessible::updateAccessibility(&selection);
    }
    TellReader();
}

void TextView::SelectAll() {
    SetSelection(0, lines_.IndexedLength());
}

QString TextView::SelectedText() const {
    if (!lines_.Readable()) return QString();
    return lines_.Source()->mid(SelectionStart(), SelectionEnd() - SelectionStart());
}

void TextView::Copy() const {
    if (SelectionEnd() > SelectionStart()) QApplication::clipboard()->setText(SelectedText());
}

qsizetype TextView::OffsetAt(const QPoint& point) const {
    const int row = static_cast<int>(std::floor(double(point.y() - TopMargin) / lineHeight_));
    const int line = std::clamp(TopLine() + row, 0, lines_.LineCount() - 1);
    const double cells = (point.x() - LeftMargin) / cellWidth_;
    return lines_.OffsetAtGap(line, horizontalScrollBar()->value() +
                                        std::max<qsizetype>(0, std::lround(cells)));
}

QRect TextView::CellRect(qsizetype offset) const {
    offset = std::clamp<qsizetype>(offset, 0, lines_.IndexedLength());
    const int line = lines_.LineOf(offset);
    const qsizetype column = lines_.ColumnOf(line, std::min(offset, lines_.LineContentEnd(line)));
    const bool tab = lines_.Readable() && offset < lines_.LineContentEnd(line) &&
                     lines_.Source()->at(offset) == u'\t';
    const qsizetype cells = tab ? TextLines::CellsOf(u'\t', column) : 1;
    const double left = LeftMargin + static_cast<double>(column - horizontalScrollBar()->value()) * cellWidth_;
    const double top = TopMargin + static_cast<double>(line - TopLine()) * lineHeight_;
    return QRectF(left, top, static_cast<double>(cells) * cellWidth_, lineHeight_).toAlignedRect();
}

QChar TextView::Shown(QChar c) {
    const char16_t u = c.unicode();
    // Control characters have no glyph of their own, and a few characters are drawn with no
    // width: each would throw the columns after it out of line.
    if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029 || u == 0xFDD0 ||
        u == 0xFDD1 || u == 0xFFFC || (u >= 0x200B && u <= 0x200F)) {
        return QChar(QChar::ReplacementCharacter);
    }
    if (u == 0xAD) return QChar(u'-'); // soft hyphen
    return c;
}

void TextView::UpdateMetrics() {
    const QFontMetricsF metrics(font());
    lineHeight_ = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    ascent_ = static_cast<int>(std::ceil(metrics.ascent()));
    // Measured over a run of characters: that is how the painter advances through a line.
    cellWidth_ = std::max<qreal>(1.0, metrics.horizontalAdvance(QString(64, u'0')) / 64.0);
    perCell_ = !QFontInfo(font()).fixedPitch();
}

void TextView::UpdateScrollBars() {
    QScrollBar* vertical = verticalScrollBar();
    const int visible = VisibleLines();
    vertical->setRange(0, std::max(0, lines_.LineCount() - visible));
    vertical->setPageStep(visible);
    vertical->setSingleStep(1);

    QScrollBar* horizontal = horizontalScrollBar();
    const int columns = VisibleColumns();
    const qsizetype widest = lines_.WidestLine() + 1; // room for a selected line break
    horizontal->setRange(0, ClampToInt(widest - columns));
    horizontal->setPageStep(columns);
    horizontal->setSingleStep(1);
}

void TextView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.fillRect(event->rect(), colours.base());
    painter.setFont(font());
    linesPainted_ = 0;
    changedFrom_ = -1;
    // An index out of date would point into text that is no longer there.
    if (!lines_.Readable()) return;

    const QChar* text = lines_.Source()->constData();
    const qsizetype firstColumn = horizontalScrollBar()->value();
    const qsizetype columns = VisibleColumns() + 2;
    const qsizetype selStart = SelectionStart();
    const qsizetype selEnd = SelectionEnd();
    // The rows the paint asks for, of those on screen.
    const int firstRow = std::max(0, (event->rect().top() - TopMargin) / lineHeight_);
    const int rows = std::min((viewport()->height() - TopMargin) / lineHeight_ + 1,
                              (event->rect().bottom() - TopMargin) / lineHeight_ + 1);
    const int top = TopLine();
    QString cells;
    cells.reserve(columns);

    for (int row = firstRow; row < rows && top + row < lines_.LineCount(); ++row) {
        const int line = top + row;
        ++linesPainted_;
        const qsizetype start = lines_.LineStart(line);
        const qsizetype end = lines_.LineContentEnd(line);
        const int y = TopMargin + row * lineHeight_;

        // The line's cells from firstColumn on, and which of them are selected (one stretch:
        // the selection is one range of the buffer).
        cells.clear();
        qsizetype selectedFrom = -1;
        qsizetype selectedTo = -1;
        qsizetype column = 0;
        for (qsizetype i = start; i < end && column < firstColumn + columns; ++i) {
            const QChar c = text[i];
            const qsizetype width = TextLines::CellsOf(c, column);
            const bool selected = i >= selStart && i < selEnd;
            for (qsizetype k = 0; k < width; ++k, ++column) {
                if (column < firstColumn || column >= firstColumn + columns) continue;
                if (selected) {
                    if (selectedFrom < 0) selectedFrom = cells.size();
                    selectedTo = cells.size() + 1;
                }
                cells += c == u'\t' ? QChar(u' ') : Shown(c);
            }
        }
        // A selected line break shows as one selected cell behind the line's characters.
        const bool hasBreak = line + 1 < lines_.LineCount();
        if (hasBreak && selStart <= end && selEnd > end) {
            const qsizetype at = lines_.ColumnOf(line, end) - firstColumn;
            if (at >= 0 && at < columns) {
                if (selectedFrom < 0) selectedFrom = at;
                selectedTo = at + 1;
            }
        }

        const auto x = [this](qsizetype cell) { return LeftMargin + cell * cellWidth_; };
        if (selectedFrom >= 0) {
            painter.fillRect(QRectF(x(selectedFrom), y, (selectedTo - selectedFrom) * cellWidth_,
                                    lineHeight_),
                             colours.highlight());
        }
        const auto draw = [&](qsizetype from, qsizetype to, const QColor& colour) {
            if (to <= from) return;
            painter.setPen(colour);
            if (!perCell_) {
                painter.drawText(QPointF(x(from), y + ascent_), cells.mid(from, to - from));
                return;
            }
            for (qsizetype k = from; k < to; ++k)
                painter.drawText(QPointF(x(k), y + ascent_), QString(cells.at(k)));
        };
        const qsizetype length = cells.size();
        if (selectedFrom < 0) {
            draw(0, length, colours.text().color());
        } else {
            draw(0, std::min(selectedFrom, length), colours.text().color());
            draw(selectedFrom, std::min(selectedTo, length), colours.highlightedText().color());
            draw(selectedTo, length, colours.text().color());
        }
    }
}

void TextView::resizeEvent(QResizeEvent* event) {
    const bool bottom = AtBottom();
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    if (bottom) ScrollToBottom();
}

void TextView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        UpdateScrollBars();
        viewport()->update();
    }
    QAbstractScrollArea::changeEvent(event);
}

// A vertical scroll by less than a screenful moves the pixels already drawn and paints only the
// rows that come into view, and the changed lines wherever they are now: a stream followed at
// the bottom repaints just its newest lines.
void TextView::scrollContentsBy(int dx, int dy) {
    if (dx != 0 || std::abs(dy) >= VisibleLines()) {
        viewport()->update();
        return;
    }
    viewport()->scroll(0, dy * lineHeight_);
    if (changedFrom_ >= 0) UpdateLinesFrom(changedFrom_);
}

void TextView::UpdateLinesFrom(int line) {
    changedFrom_ = changedFrom_ < 0 ? line : std::min(changedFrom_, line);
    const int row = line - TopLine();
    if (row <= 0) {
        viewport()->update();
        return;
    }
    const int y = TopMargin + row * lineHeight_;
    if (y < viewport()->height()) viewport()->update(0, y, viewport()->width(), viewport()->height() - y);
}

void TextView::mousePressEvent(QMouseEvent* event) {
    Sync(); // the user acts on the text as it is now
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qsizetype offset = OffsetAt(event->position().toPoint());
    if (event->modifiers() & Qt::ShiftModifier) {
        SetSelection(anchor_, offset);
    } else {
        SetSelection(offset, offset);
    }
    selecting_ = true;
}

void TextView::mouseMoveEvent(QMouseEvent* event) {
    Sync(); // the user acts on the text as it is now
    if (!selecting_) return;
    const QPoint at = event->position().toPoint();
    // Dragging past an edge scrolls on, a line or a column per move.
    if (at.y() < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    if (at.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    if (at.x() < 0) horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    if (at.x() > viewport()->width())
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    SetSelection(anchor_, OffsetAt(at));
}

void TextView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !selecting_) return;
    SetSelection(anchor_, OffsetAt(event->position().toPoint()));
    selecting_ = false;
    QClipboard* clipboard = QApplication::clipboard();
    if (clipboard->supportsSelection() && SelectionEnd() > SelectionStart())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

void TextView::mouseDoubleClickEvent(QMouseEvent* event) {
    Sync(); // the user acts on the text as it is now
    if (event->button() != Qt::LeftButton || !lines_.Readable()) return;
    const qsizetype offset = OffsetAt(event->position().toPoint());
    const int line = lines_.LineOf(offset);
    const QChar* text = lines_.Source()->constData();
    qsizetype from = offset;
    qsizetype to = offset;
    const qsizetype start = lines_.LineStart(line);
    const qsizetype end = lines_.LineContentEnd(line);
    while (from > start && TextLines::IsWordCharacter(text[from - 1]))
        --from;
    while (to < end && TextLines::IsWordCharacter(text[to]))
        ++to;
    SetSelection(from, to);
}

// The keys scroll as they always have, and move the caret with them, so that a screen reader
// reads the line, or the character, the user has gone to; with Shift they select.
void TextView::keyPressEvent(QKeyEvent* event) {
    Sync(); // the user acts on the text as it is now
    if (event == QKeySequence::Copy) {
        Copy();
        event->accept();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        SelectAll();
        event->accept();
        return;
    }
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    const bool whole = event->modifiers() & Qt::ControlModifier;
    const int line = lines_.LineOf(position_);
    const qsizetype column = lines_.ColumnOf(line, position_);
    const auto onLine = [&](int target) {
        return lines_.OffsetAtGap(std::clamp(target, 0, lines_.LineCount() - 1), column);
    };
    const QString* text = lines_.Source();
    const auto at = [text](qsizetype i, char16_t c) { return text && i >= 0 && i < text->size() && text->at(i) == c; };
    qsizetype caret = position_;
    switch (event->key()) {
    case Qt::Key_Up:
        vertical->triggerAction(QAbstractSlider::SliderSingleStepSub);
        caret = onLine(line - 1);
        break;
    case Qt::Key_Down:
        vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        caret = onLine(line + 1);
        break;
    case Qt::Key_PageUp:
        vertical->triggerAction(QAbstractSlider::SliderPageStepSub);
        caret = onLine(line - VisibleLines());
        break;
    case Qt::Key_PageDown:
        vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);
        caret = onLine(line + VisibleLines());
        break;
    case Qt::Key_Left: // a CR LF pair is one step
        horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub);
        caret -= at(caret - 1, u'\n') && at(caret - 2, u'\r') ? 2 : 1;
        break;
    case Qt::Key_Right:
        horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        caret += at(caret, u'\r') && at(caret + 1, u'\n') ? 2 : 1;
        break;
    case Qt::Key_Home:
        if (whole) vertical->setValue(0);
        horizontal->setValue(0);
        caret = whole ? 0 : lines_.LineStart(line);
        break;
    case Qt::Key_End:
        if (whole) vertical->setValue(vertical->maximum());
        horizontal->setValue(whole ? 0 : horizontal->maximum());
        caret = whole ? lines_.IndexedLength() : lines_.LineContentEnd(line);
        break;
    default:
        event->ignore();
        return;
    }
    SetSelection(event->modifiers() & Qt::ShiftModifier ? anchor_ : caret, caret);
    event->accept();
}

void TextView::contextMenuEvent(QContextMenuEvent* event) {
    Sync(); // the user acts on the text as it is now
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("&Copy"), this, &TextView::Copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(SelectionEnd() > SelectionStart());
    QAction* all = menu.addAction(tr("Select &All"), this, &TextView::SelectAll);
    all->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}
