#include "TextView.h"

#include "Labels.h"

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
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define RZT_SSE2 1
#endif

namespace {

constexpr int LeftMargin = 3;
constexpr int TopMargin = 1;

int ClampToInt(qsizetype value) {
    return static_cast<int>(std::clamp<qsizetype>(value, 0, std::numeric_limits<int>::max()));
}

// Cells a character takes when it starts at `column`.
qsizetype CellsOf(QChar c, qsizetype column) {
    return c == u'\t' ? TextView::TabColumns - column % TextView::TabColumns : 1;
}

// Where the stretch from `from` on of characters that each take one cell and end no line ends:
// the first character at or below CR (line breaks, tabs, other control characters) or `size`.
// Device text is mostly such characters, eight at a time are looked at where the processor can.
qsizetype SkipPlain(const QChar* text, qsizetype from, qsizetype size) {
    qsizetype i = from;
#ifdef RZT_SSE2
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= size; i += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        // Saturating subtraction leaves 0 exactly for the characters at or below CR.
        const int low = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(chars, cr), zero));
        if (low != 0) return i + std::countr_zero(static_cast<unsigned>(low)) / 2;
    }
#endif
    while (i < size && text[i].unicode() > u'\r')
        ++i;
    return i;
}

// Characters a double click takes together: a field of a CSV line, a word of a sentence.
bool InWord(QChar c) {
    return !(c.isSpace() || c == u',' || c == u';' || c == u'\r' || c == u'\n');
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
    UpdateMetrics();
    UpdateScrollBars();
}

QFont TextView::FixedPitchFont(double points) {
    return ProgramFixedPitchFont(points);
}

void TextView::SetSource(const QString* text) {
    source_ = text;
    SourceReplaced();
    Sync();
}

void TextView::SourceReplaced() {
    // No repaint asked for: what is on screen stays until Sync() has indexed the new text,
    // which the owner of the buffer does from its own timer, apart from the change itself.
    stale_ = true;
}

void TextView::Sync() {
    const qsizetype size = source_ ? source_->size() : 0;
    if (stale_ || size < indexed_) {
        Rebuild();
    } else if (size > indexed_) {
        // Only the last line and those after it can have changed.
        const int changed = LineCount() - 1;
        IndexFrom(indexed_);
        UpdateScrollBars();
        UpdateLinesFrom(changed);
    }
}

void TextView::Rebuild() {
    stale_ = false;
    lineStarts_.assign(1, 0);
    indexed_ = 0;
    widest_ = 0;
    openColumns_ = 0;
    anchor_ = position_ = 0;
    selecting_ = false;
    IndexFrom(0);
    UpdateScrollBars();
    changedFrom_ = 0;
    viewport()->update();
}

// One pass over the new characters. The LF of a CR LF pair ends no line of its own: the CR has
// already ended it, possibly in an earlier pass, so the line that CR opened starts after the LF.
void TextView::IndexFrom(qsizetype from) {
    if (!source_) return;
    const QChar* text = source_->constData();
    const qsizetype size = source_->size();
    qsizetype columns = openColumns_;
    for (qsizetype i = from; i < size; ++i) {
        const qsizetype plain = SkipPlain(text, i, size);
        columns += plain - i;
        i = plain;
        if (i == size) break;
        const char16_t u = text[i].unicode();
        if (u == u'\n' && i > 0 && text[i - 1] == u'\r') {
            lineStarts_.back() = i + 1;
        } else if (u == u'\r' || u == u'\n') {
            widest_ = std::max(widest_, columns);
            columns = 0;
            lineStarts_.push_back(i + 1);
        } else {
            columns += CellsOf(text[i], columns);
        }
    }
    openColumns_ = columns;
    indexed_ = size;
}

qsizetype TextView::LineStart(int line) const {
    return lineStarts_[static_cast<std::size_t>(std::clamp(line, 0, LineCount() - 1))];
}

qsizetype TextView::LineContentEnd(int line) const {
    line = std::clamp(line, 0, LineCount() - 1);
    if (stale_) return LineStart(line);
    if (line + 1 >= LineCount()) return indexed_;
    const qsizetype next = lineStarts_[static_cast<std::size_t>(line) + 1];
    const QChar* text = source_->constData();
    const qsizetype start = lineStarts_[static_cast<std::size_t>(line)];
    if (next - 2 >= start && text[next - 1] == u'\n' && text[next - 2] == u'\r') return next - 2;
    return next - 1;
}

QString TextView::LineText(int line) const {
    if (!source_ || stale_) return QString();
    const qsizetype start = LineStart(line);
    return source_->mid(start, LineContentEnd(line) - start);
}

QString TextView::ShownText() const {
    QString shown;
    for (int line = 0; line < LineCount(); ++line) {
        if (line > 0) shown += u'\n';
        shown += LineText(line);
    }
    return shown;
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

int TextView::LineOf(qsizetype offset) const {
    const auto after = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
    return std::max(0, static_cast<int>(after - lineStarts_.begin()) - 1);
}

qsizetype TextView::SelectionStart() const {
    return std::min(anchor_, position_);
}

qsizetype TextView::SelectionEnd() const {
    return std::max(anchor_, position_);
}

void TextView::SetSelection(qsizetype anchor, qsizetype position) {
    anchor_ = std::clamp<qsizetype>(anchor, 0, indexed_);
    position_ = std::clamp<qsizetype>(position, 0, indexed_);
    viewport()->update();
}

void TextView::SelectAll() {
    SetSelection(0, indexed_);
}

QString TextView::SelectedText() const {
    if (!source_ || stale_) return QString();
    return source_->mid(SelectionStart(), SelectionEnd() - SelectionStart());
}

void TextView::Copy() const {
    if (SelectionEnd() > SelectionStart()) QApplication::clipboard()->setText(SelectedText());
}

qsizetype TextView::ColumnOf(int line, qsizetype offset) const {
    const QChar* text = source_ ? source_->constData() : nullptr;
    qsizetype column = 0;
    for (qsizetype i = LineStart(line); i < offset; ++i)
        column += CellsOf(text[i], column);
    return column;
}

// The offset at a gap between cells: before the character that starts there; a gap inside a
// tab goes to its nearer side.
qsizetype TextView::OffsetAtGap(int line, qsizetype gap) const {
    const qsizetype start = LineStart(line);
    const qsizetype end = LineContentEnd(line);
    const QChar* text = source_ ? source_->constData() : nullptr;
    qsizetype at = 0;
    for (qsizetype i = start; i < end; ++i) {
        const qsizetype cells = CellsOf(text[i], at);
        if (gap <= at) return i;
        if (gap < at + cells) return (gap - at) * 2 <= cells ? i : i + 1;
        at += cells;
    }
    return end;
}

qsizetype TextView::OffsetAt(const QPoint& point) const {
    const int row = static_cast<int>(std::floor(double(point.y() - TopMargin) / lineHeight_));
    const int line = std::clamp(TopLine() + row, 0, LineCount() - 1);
    const double cells = (point.x() - LeftMargin) / cellWidth_;
    return OffsetAtGap(line, horizontalScrollBar()->value() + std::max<qsizetype>(0, std::lround(cells)));
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
    vertical->setRange(0, std::max(0, LineCount() - visible));
    vertical->setPageStep(visible);
    vertical->setSingleStep(1);

    QScrollBar* horizontal = horizontalScrollBar();
    const int columns = VisibleColumns();
    const qsizetype widest = WidestLine() + 1; // room for a selected line break
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
    if (!source_ || stale_) return;

    const QChar* text = source_->constData();
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

    for (int row = firstRow; row < rows && top + row < LineCount(); ++row) {
        const int line = top + row;
        ++linesPainted_;
        const qsizetype start = LineStart(line);
        const qsizetype end = LineContentEnd(line);
        const int y = TopMargin + row * lineHeight_;

        // The line's cells from firstColumn on, and which of them are selected (one stretch:
        // the selection is one range of the buffer).
        cells.clear();
        qsizetype selectedFrom = -1;
        qsizetype selectedTo = -1;
        qsizetype column = 0;
        for (qsizetype i = start; i < end && column < firstColumn + columns; ++i) {
            const QChar c = text[i];
            const qsizetype width = CellsOf(c, column);
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
        const bool hasBreak = line + 1 < LineCount();
        if (hasBreak && selStart <= end && selEnd > end) {
            const qsizetype at = ColumnOf(line, end) - firstColumn;
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
    if (event->button() != Qt::LeftButton || !source_) return;
    const qsizetype offset = OffsetAt(event->position().toPoint());
    const int line = LineOf(offset);
    const QChar* text = source_->constData();
    qsizetype from = offset;
    qsizetype to = offset;
    const qsizetype start = LineStart(line);
    const qsizetype end = LineContentEnd(line);
    while (from > start && InWord(text[from - 1]))
        --from;
    while (to < end && InWord(text[to]))
        ++to;
    SetSelection(from, to);
}

void TextView::keyPressEvent(QKeyEvent* event) {
    Sync(); // the user acts on the text as it is now
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    if (event == QKeySequence::Copy) {
        Copy();
    } else if (event == QKeySequence::SelectAll) {
        SelectAll();
    } else if (event == QKeySequence::MoveToStartOfDocument) {
        vertical->setValue(0);
        horizontal->setValue(0);
    } else if (event == QKeySequence::MoveToEndOfDocument) {
        vertical->setValue(vertical->maximum());
        horizontal->setValue(0);
    } else {
        switch (event->key()) {
        case Qt::Key_Up:
            vertical->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case Qt::Key_Down:
            vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case Qt::Key_PageUp:
            vertical->triggerAction(QAbstractSlider::SliderPageStepSub);
            break;
        case Qt::Key_PageDown:
            vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);
            break;
        case Qt::Key_Left:
            horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case Qt::Key_Right:
            horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case Qt::Key_Home:
            horizontal->setValue(0);
            break;
        case Qt::Key_End:
            horizontal->setValue(horizontal->maximum());
            break;
        default:
            event->ignore();
            return;
        }
    }
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
