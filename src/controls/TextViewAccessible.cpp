#include "TextViewAccessible.h"

#include "TextView.h"

#include <QScrollBar>
#include <algorithm>
#include <limits>

namespace {

QAccessibleInterface* TextViewFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("TextView") && object && object->isWidgetType())
        return new TextViewAccessible(static_cast<TextView*>(object));
    return nullptr;
}

TextLines::Unit UnitOf(QAccessible::TextBoundaryType type) {
    switch (type) {
    case QAccessible::CharBoundary:
        return TextLines::Unit::Character;
    case QAccessible::WordBoundary:
        return TextLines::Unit::Word;
    case QAccessible::NoBoundary:
        return TextLines::Unit::Whole;
    default: // sentences and paragraphs: device text has lines
        return TextLines::Unit::Line;
    }
}

int ToInt(qsizetype value) {
    return static_cast<int>(std::clamp<qsizetype>(value, -1, std::numeric_limits<int>::max()));
}

} // namespace

TextViewAccessible::TextViewAccessible(TextView* view)
    : QAccessibleWidget(view, QAccessible::EditableText) {}

void TextViewAccessible::Install() {
    QAccessible::installFactory(TextViewFactory);
}

TextView* TextViewAccessible::View() const {
    return static_cast<TextView*>(widget());
}

QString TextViewAccessible::text(QAccessible::Text t) const {
    QString own = QAccessibleWidget::text(t);
    QWidget* holder = widget()->parentWidget();
    if (!own.isEmpty() || !holder) return own;
    if (t == QAccessible::Name) return holder->accessibleName();
    if (t == QAccessible::Description) return holder->accessibleDescription();
    return own;
}

QAccessible::State TextViewAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.editable = false;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

void* TextViewAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

int TextViewAccessible::characterCount() const {
    const TextLines& lines = View()->Lines();
    return lines.Readable() ? ToInt(lines.ShownLength()) : 0;
}

QString TextViewAccessible::text(int startOffset, int endOffset) const {
    if (endOffset < 0) endOffset = characterCount();
    return View()->Lines().ShownText(startOffset, endOffset);
}

int TextViewAccessible::cursorPosition() const {
    return ToInt(View()->Lines().ShownOffset(View()->CaretPosition()));
}

void TextViewAccessible::setCursorPosition(int position) {
    TextView* view = View();
    const qsizetype offset = view->Lines().BufferOffset(position);
    view->SetSelection(offset, offset);
    view->ShowOffset(offset);
}

int TextViewAccessible::selectionCount() const {
    return View()->SelectionEnd() > View()->SelectionStart() ? 1 : 0;
}

void TextViewAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || selectionCount() == 0) return;
    const TextLines& lines = View()->Lines();
    *startOffset = ToInt(lines.ShownOffset(View()->SelectionStart()));
    *endOffset = ToInt(lines.ShownOffset(View()->SelectionEnd()));
}

void TextViewAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void TextViewAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex != 0) return;
    const qsizetype caret = View()->CaretPosition();
    View()->SetSelection(caret, caret);
}

void TextViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex != 0) return;
    const TextLines& lines = View()->Lines();
    View()->SetSelection(lines.BufferOffset(startOffset), lines.BufferOffset(endOffset));
}

QString TextViewAccessible::TextNear(int offset, QAccessible::TextBoundaryType boundaryType,
                                     TextLines::Side side, int* startOffset,
                                     int* endOffset) const {
    // By convention -2 is the caret and -1 the end of the text.
    if (offset == -2) offset = cursorPosition();
    if (offset == -1) offset = characterCount();
    const TextLines& lines = View()->Lines();
    const TextLines::Range range = lines.ShownRange(offset, UnitOf(boundaryType), side);
    *startOffset = ToInt(range.start);
    *endOffset = ToInt(range.end);
    if (range.start < 0) return QString();
    return lines.ShownText(range.start, range.end);
}

QString TextViewAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int* startOffset, int* endOffset) const {
    return TextNear(offset, boundaryType, TextLines::Side::Before, startOffset, endOffset);
}

QString TextViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int* startOffset, int* endOffset) const {
    return TextNear(offset, boundaryType, TextLines::Side::At, startOffset, endOffset);
}

QString TextViewAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
    return TextNear(offset, boundaryType, TextLines::Side::After, startOffset, endOffset);
}

QRect TextViewAccessible::characterRect(int offset) const {
    TextView* view = View();
    if (offset < 0 || offset > characterCount()) return QRect();
    const QRect cell = view->CellRect(view->Lines().BufferOffset(offset));
    return QRect(view->viewport()->mapToGlobal(cell.topLeft()), cell.size());
}

int TextViewAccessible::offsetAtPoint(const QPoint& point) const {
    TextView* view = View();
    const QPoint at = view->viewport()->mapFromGlobal(point);
    if (!view->viewport()->rect().contains(at)) return -1;
    return ToInt(view->Lines().ShownOffset(view->OffsetAt(at)));
}

void TextViewAccessible::scrollToSubstring(int startIndex, int endIndex) {
    TextView* view = View();
    view->ShowOffset(view->Lines().BufferOffset(endIndex));
    view->ShowOffset(view->Lines().BufferOffset(startIndex));
}

QString TextViewAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    // One face, one colour: the whole text has the same (default) attributes.
    const int count = characterCount();
    if (offset < 0 || offset > count) {
        *startOffset = *endOffset = -1;
    } else {
        *startOffset = 0;
        *endOffset = count;
    }
    return QString();
}
