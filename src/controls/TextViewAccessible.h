#pragma once
// What a screen reader sees of a TextView: read-only text, as the user reads it (the lines
// joined by one LF each, whatever line breaks the buffer holds), with its caret and selection.
// Every query reads only the lines it needs from the view's line index: nothing copies the
// whole text unless the whole text is asked for.
//
// Offsets are shown offsets, and pieces of text are found as TextLines::ShownRange finds them:
// lines include their LF, words are what a double click selects, sentences and paragraphs are
// lines, which is what device text is made of.

#include "TextLines.h"

#include <QAccessibleWidget>

class TextView;

class TextViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TextViewAccessible(TextView* view);

    // Makes QAccessible give this interface for every TextView. Any number of calls.
    static void Install();

    // QAccessibleInterface. With no name or description of its own, the view has those of the
    // widget that holds it (the text box), which is the one a window names.
    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                         int* startOffset, int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    QString TextNear(int offset, QAccessible::TextBoundaryType boundaryType, TextLines::Side side,
                     int* startOffset, int* endOffset) const;
    TextView* View() const;
};
